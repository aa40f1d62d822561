#include "packing/release_signing.h"

#include <windows.h>

#include "support/ecdsa_p256.h"
#include "support/environment.h"
#include "support/file_replace.h"
#include "support/sha256.h"
#include "support/small_file.h"
#include "support/trace.h"
#include "transfer/cab_inspect.h"
#include "transfer/release_manifest.h"

namespace {

constexpr size_t kManifestLimit = 1 << 20;

uint64_t ClockSerial()
{
    SYSTEMTIME now{};
    ::GetSystemTime(&now);
    uint64_t serial = now.wYear;
    for (const WORD part : {now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond}) {
        serial = serial * 100 + part;
    }
    return serial;
}

// The serial of the manifest beside the list, or 0.
uint64_t EarlierSerial(const std::wstring& manifestPath)
{
    std::string text;
    tarn::ReleaseManifest earlier;
    if (!tarn::ReadSmallFile(manifestPath, kManifestLimit, text) ||
        tarn::ReadSignedManifest(text, {}, earlier) != tarn::ManifestCheck::Valid) {
        return 0;
    }
    return earlier.serial;
}

std::wstring NameOf(const std::wstring& path)
{
    return path.substr(path.find_last_of(L'\\') + 1);
}

}  // namespace

namespace tarn {

const wchar_t kSigningKeyVariable[] = L"TARN_SIGNING_KEY";

std::wstring ManifestPathFor(const std::wstring& listPath)
{
    return listPath + L".sig";
}

bool SignRelease(const std::wstring& listPath, const std::vector<std::wstring>& packages, SignedRelease& release)
{
    release = SignedRelease();
    std::wstring keyPath;
    if (!GetEnvironmentText(kSigningKeyVariable, keyPath)) {
        return true;
    }
    release.wanted = true;
    ReleaseManifest manifest;
    manifest.product = NameOf(listPath);
    const uint64_t earlier = EarlierSerial(ManifestPathFor(listPath));
    const uint64_t now = ClockSerial();
    manifest.serial = now > earlier ? now : earlier + 1;
    for (const std::wstring& path : packages) {
        ManifestPackage package;
        package.name = NameOf(path);
        // The one read of the cabinet that the release checks share.
        const CabinetFacts facts = InspectCabinet(path);
        package.size = facts.size;
        package.sha256 = facts.sha256;
        if (package.size <= 0 || package.sha256.empty()) {
            Trace(L"Signing: cannot hash %ls (error %lu)", path.c_str(), ::GetLastError());
            return false;
        }
        manifest.packages.push_back(std::move(package));
    }
    const std::string body = ComposeManifestBody(manifest);
    Sha256 hash;
    hash.Update(body.data(), body.size());
    Sha256Digest digest{};
    EcdsaSignature signature{};
    if (!hash.Finish(digest) || !SignDigestWithKeyFile(keyPath, digest, signature)) {
        Trace(L"Signing: the release of %ls is not signed", listPath.c_str());
        return false;
    }
    release.text = ComposeSignedManifest(body, signature);
    return true;
}

bool SignSingleFile(const std::wstring& path)
{
    SignedRelease release;
    return SignRelease(path, {path}, release) && PublishReleaseManifest(path, release);
}

bool PublishReleaseManifest(const std::wstring& listPath, const SignedRelease& release)
{
    const std::wstring path = ManifestPathFor(listPath);
    if (release.wanted) {
        return WriteFileReplacing(path, release.text);
    }
    if (!::DeleteFileW(path.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
        Trace(L"Signing: cannot remove the earlier manifest %ls (error %lu)", path.c_str(), ::GetLastError());
        return false;
    }
    return true;
}

}  // namespace tarn
