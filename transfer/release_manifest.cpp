#include "transfer/release_manifest.h"

#include <windows.h>

#include <algorithm>

#include "support/name_compare.h"
#include "support/sha256.h"
#include "support/utf8.h"

namespace {

const char kHeader[] = "Tarn release manifest 1";
const char kProduct[] = "Product: ";
const char kSerial[] = "Serial: ";
const char kPackage[] = "Package: ";
const char kSignature[] = "Signature: ";
constexpr size_t kTextLimit = 1 << 20;
constexpr size_t kMaxSerialDigits = 19;  // below 2^63
constexpr size_t kMaxSizeDigits = 18;
const char* const* g_releaseKeys = nullptr;

bool StartsWith(std::string_view line, std::string_view prefix)
{
    return line.substr(0, prefix.size()) == prefix;
}

// 1 to `maxDigits` decimal digits, no sign, no blanks.
bool ReadDecimal(std::string_view text, size_t maxDigits, uint64_t& value)
{
    if (text.empty() || text.size() > maxDigits || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    value = 0;
    for (const char c : text) {
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

bool IsLowerHex(std::string_view text, size_t digits)
{
    return text.size() == digits && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

int HexValue(char c)
{
    return c <= '9' ? c - '0' : c - 'a' + 10;
}

// "<size> <sha256> <name>": a positive size and a name without control
// characters.
bool ReadPackageLine(std::string_view text, tarn::ManifestPackage& package)
{
    const size_t first = text.find(' ');
    if (first == std::string_view::npos) {
        return false;
    }
    uint64_t size = 0;
    const std::string_view sha256 = text.substr(first + 1, 64);
    if (!ReadDecimal(text.substr(0, first), kMaxSizeDigits, size) || size == 0 || !IsLowerHex(sha256, 64) ||
        text.size() < first + 1 + 64 + 2 || text[first + 1 + 64] != ' ') {
        return false;
    }
    const std::string_view name = text.substr(first + 1 + 64 + 1);
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return false;
        }
    }
    package.size = static_cast<int64_t>(size);
    package.sha256 = std::string(sha256);
    return tarn::FromUtf8(name, package.name);
}

// The fields of the body's lines into `manifest`.
bool ReadBody(std::string_view body, tarn::ReleaseManifest& manifest)
{
    manifest = tarn::ReleaseManifest();
    bool haveProduct = false;
    bool haveSerial = false;
    size_t lineNumber = 0;
    while (!body.empty()) {
        const size_t end = body.find('\n');
        if (end == std::string_view::npos) {
            return false;
        }
        const std::string_view line = body.substr(0, end);
        body.remove_prefix(end + 1);
        if (lineNumber++ == 0) {
            if (line != kHeader) {
                return false;
            }
        } else if (StartsWith(line, kProduct) && !haveProduct) {
            haveProduct = tarn::FromUtf8(line.substr(sizeof(kProduct) - 1), manifest.product);
            if (!haveProduct) {
                return false;
            }
        } else if (StartsWith(line, kSerial) && !haveSerial) {
            haveSerial = ReadDecimal(line.substr(sizeof(kSerial) - 1), kMaxSerialDigits, manifest.serial);
            if (!haveSerial) {
                return false;
            }
        } else if (StartsWith(line, kPackage)) {
            tarn::ManifestPackage package;
            if (!ReadPackageLine(line.substr(sizeof(kPackage) - 1), package) ||
                tarn::FindManifestPackage(manifest, package.name) != nullptr) {
                return false;
            }
            manifest.packages.push_back(std::move(package));
        } else {
            return false;
        }
    }
    return haveProduct && haveSerial && !manifest.packages.empty();
}

}  // namespace

namespace tarn {

std::string ComposeManifestBody(const ReleaseManifest& manifest)
{
    std::string body = std::string(kHeader) + "\n";
    body += kProduct + ToUtf8(manifest.product) + "\n";
    body += kSerial + std::to_string(manifest.serial) + "\n";
    for (const ManifestPackage& package : manifest.packages) {
        body += kPackage + std::to_string(package.size) + " " + package.sha256 + " " + ToUtf8(package.name) + "\n";
    }
    return body;
}

std::string ComposeSignedManifest(const std::string& body, const EcdsaSignature& signature)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text = body + kSignature;
    for (const uint8_t byte : signature) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text + "\n";
}

ManifestCheck ReadSignedManifest(std::string_view text, const std::vector<std::string>& publicKeys,
                                 ReleaseManifest& manifest)
{
    if (text.size() > kTextLimit || text.size() < 2 || text.back() != '\n') {
        return ManifestCheck::Malformed;
    }
    // The last line is the signature; the body is everything before it.
    const size_t lastLine = text.find_last_of("\n", text.size() - 2);
    const size_t bodyEnd = lastLine == std::string_view::npos ? 0 : lastLine + 1;
    const std::string_view signatureLine = text.substr(bodyEnd, text.size() - 1 - bodyEnd);
    const std::string_view signatureHex = signatureLine.substr(std::min(signatureLine.size(), sizeof(kSignature) - 1));
    if (!StartsWith(signatureLine, kSignature) || !IsLowerHex(signatureHex, 128) ||
        !ReadBody(text.substr(0, bodyEnd), manifest)) {
        return ManifestCheck::Malformed;
    }
    if (publicKeys.empty()) {
        return ManifestCheck::Valid;
    }
    EcdsaSignature signature{};
    for (size_t i = 0; i < signature.size(); ++i) {
        signature[i] = static_cast<uint8_t>(HexValue(signatureHex[2 * i]) * 16 + HexValue(signatureHex[2 * i + 1]));
    }
    Sha256 hash;
    hash.Update(text.data(), bodyEnd);
    Sha256Digest digest{};
    if (hash.Finish(digest)) {
        for (const std::string& key : publicKeys) {
            if (VerifyDigest(key, digest, signature)) {
                return ManifestCheck::Valid;
            }
        }
    }
    return ManifestCheck::BadSignature;
}

const ManifestPackage* FindManifestPackage(const ReleaseManifest& manifest, std::wstring_view name)
{
    for (const ManifestPackage& package : manifest.packages) {
        if (EqualsNoCase(package.name, name)) {
            return &package;
        }
    }
    return nullptr;
}

void SetBuiltInReleaseKeys(const char* const* keys)
{
    g_releaseKeys = keys;
}

std::vector<std::string> BuiltInReleaseKeys()
{
    std::vector<std::string> keys;
    for (const char* const* key = g_releaseKeys; key != nullptr && *key != nullptr; ++key) {
        keys.emplace_back(*key);
    }
    return keys;
}

ExpectedFile PinnedFile(const ManifestPackage& package)
{
    ExpectedFile pinned;
    pinned.size = package.size;
    pinned.sha256 = package.sha256;
    pinned.pinned = true;
    return pinned;
}

}  // namespace tarn
