// Hashing, signing and the signed release manifest, by the platform's
// cryptography. The keys are throwaway test keys made with openssl; one
// manifest was signed by openssl itself, so that signer and verifier are
// not only each other's mirror.

#include "transfer/release_manifest.h"

#include <gtest/gtest.h>

#include <random>

#include "common/test_files.h"
#include "common/test_keys.h"
#include "support/crypto_api.h"
#include "support/ecdsa_p256.h"
#include "support/sha256.h"
#include "support/sha256_blocks.h"

namespace {

using namespace tarn::test::keys;
using tarn::test::ScratchFolder;
using tarn::test::WriteBytes;

// Signed with key A by `openssl dgst -sha256 -sign`.
const char kOpensslSigned[] =
    "Tarn release manifest 1\nProduct: List.txt\nSerial: 20261210041500\n"
    "Package: 1234 2d711642b726b04401627ca9fbac32f5c8530fb1903cc4db02258717921a4881 P1.cab\n"
    "Signature: efce15bae7249f77fc8f22a9625ae619c28c90eea83b362b923efb8d3960a3d2"
    "7521eec060ff13411a5a7d6d7bbc2e45571da473ca5170fb1f7f16f6489c1c6a\n";

tarn::Sha256Digest DigestOf(const std::string& text)
{
    tarn::Sha256 hash;
    hash.Update(text.data(), text.size());
    tarn::Sha256Digest digest{};
    EXPECT_TRUE(hash.Finish(digest));
    return digest;
}

tarn::ReleaseManifest SampleManifest()
{
    tarn::ReleaseManifest manifest;
    manifest.product = L"Tarn_Gridwell_2023_Download_List.txt";
    manifest.serial = 20261210041500ULL;
    manifest.packages = {{L"Tarn_Gridwell_2023_(1).cab", 123456, std::string(64, 'a')},
                         {L"Gr\u00f6\u00dfe (2).cab", 1000, std::string(64, '0')}};
    return manifest;
}

std::string SignedSample(const ScratchFolder& scratch, const tarn::ReleaseManifest& manifest)
{
    const std::string text = tarn::test::SignWithKeyA(manifest, scratch / L"key.pem");
    EXPECT_FALSE(text.empty());
    return text;
}

TEST(Sha256, KnownDigestsWholeAndInPieces)
{
    EXPECT_EQ(tarn::Sha256Hex("", 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(tarn::Sha256Hex("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string text = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    tarn::Sha256 pieces;
    for (size_t at = 0; at < text.size(); at += 5) {
        pieces.Update(text.data() + at, std::min<size_t>(5, text.size() - at));
    }
    EXPECT_EQ(pieces.FinishHex(), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");

    ScratchFolder scratch;
    const std::string large(3 * 1024 * 1024 + 17, 'x');
    ASSERT_TRUE(WriteBytes(scratch / L"large.bin", large));
    EXPECT_EQ(tarn::FileSha256Hex((scratch / L"large.bin").c_str()), tarn::Sha256Hex(large.data(), large.size()));
    EXPECT_EQ(tarn::FileSha256Hex((scratch / L"missing.bin").c_str()), "");
}

// The platform's SHA-256, as an independent reference for our rounds.
std::string PlatformSha256Hex(const std::string& bytes)
{
    const BCRYPT_ALG_HANDLE provider = tarn::OpenAlgorithmProvider(BCRYPT_SHA256_ALGORITHM);
    tarn::UniqueHashHandle hash;
    tarn::Sha256Digest digest{};
    const auto& api = tarn::GetCryptoApi();
    if (provider == nullptr || !BCRYPT_SUCCESS(api.BCryptCreateHash(provider, hash.Put(), nullptr, 0, nullptr, 0, 0)) ||
        !BCRYPT_SUCCESS(api.BCryptHashData(hash.Get(), reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                                           static_cast<ULONG>(bytes.size()), 0)) ||
        !BCRYPT_SUCCESS(api.BCryptFinishHash(hash.Get(), digest.data(), static_cast<ULONG>(digest.size()), 0))) {
        return "platform failed";
    }
    return tarn::DigestHex(digest);
}

// Every length around the padding's edges and a long body, fed whole and in
// uneven pieces, against the platform; and both forms of the rounds
// (portable, SHA extensions) against each other.
TEST(Sha256, MatchesThePlatformAtEveryPaddingEdge)
{
    std::mt19937 random(7);
    std::string bytes(1 << 20, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random());
    }
    std::vector<size_t> lengths;
    for (size_t length = 0; length <= 200; ++length) {
        lengths.push_back(length);
    }
    lengths.push_back(bytes.size() - 3);
    for (const size_t length : lengths) {
        SCOPED_TRACE(length);
        const std::string message = bytes.substr(0, length);
        const std::string expected = PlatformSha256Hex(message);
        EXPECT_EQ(tarn::Sha256Hex(message.data(), message.size()), expected);
        tarn::Sha256 pieces;
        for (size_t at = 0, piece = 1; at < length; at += piece, piece = piece * 3 % 127 + 1) {
            pieces.Update(message.data() + at, std::min(piece, length - at));
        }
        EXPECT_EQ(pieces.FinishHex(), expected);
        EXPECT_EQ(pieces.FinishHex(), "") << "a spent hasher gives nothing";
    }

    if (!tarn::Sha256ExtensionsPresent()) {
        GTEST_SKIP() << "the processor has no SHA extensions; only the portable rounds were checked";
    }
    uint32_t portable[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint32_t extensions[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    tarn::Sha256BlocksPortable(portable, data, bytes.size() / 64);
    tarn::Sha256BlocksShaExtensions(extensions, data, bytes.size() / 64);
    EXPECT_TRUE(std::equal(portable, portable + 8, extensions));
}

TEST(EcdsaP256, SignsWithKeyFilesAndVerifiesWithPublicKeys)
{
    ScratchFolder scratch;
    const tarn::Sha256Digest digest = DigestOf("release");
    struct Case {
        const char* what;
        const char* privateKey;
        bool signs;
    };
    const Case cases[] = {
        {"PKCS#8", kPrivateA, true},
        {"SEC1", kSec1A, true},
        {"SEC1 without public point", kSec1NoPointA, false},
        {"public key only", kPublicA, false},
        {"no PEM", "not a key", false},
        {"empty", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteBytes(scratch / L"key.pem", c.privateKey));
        tarn::EcdsaSignature signature{};
        ASSERT_EQ(tarn::SignDigestWithKeyFile(scratch / L"key.pem", digest, signature), c.signs);
        if (!c.signs) {
            continue;
        }
        EXPECT_TRUE(tarn::VerifyDigest(kPublicA, digest, signature));
        EXPECT_FALSE(tarn::VerifyDigest(kPublicB, digest, signature));
        EXPECT_FALSE(tarn::VerifyDigest(kPublicP384, digest, signature));
        EXPECT_FALSE(tarn::VerifyDigest("garbage", digest, signature));
        EXPECT_FALSE(tarn::VerifyDigest(kPublicA, DigestOf("other"), signature));
        signature[10] ^= 1;
        EXPECT_FALSE(tarn::VerifyDigest(kPublicA, digest, signature));
    }
    tarn::EcdsaSignature unused{};
    EXPECT_FALSE(tarn::SignDigestWithKeyFile(scratch / L"missing.pem", digest, unused));
}

TEST(ReleaseManifest, SignedRoundTripAndKeyRotation)
{
    ScratchFolder scratch;
    const tarn::ReleaseManifest sample = SampleManifest();
    const std::string text = SignedSample(scratch, sample);
    EXPECT_EQ(text.substr(0, text.find("Package")), "Tarn release manifest 1\nProduct: Tarn_Gridwell_2023_Download_List.txt\n"
                                                   "Serial: 20261210041500\n");
    tarn::ReleaseManifest read;
    EXPECT_EQ(tarn::ReadSignedManifest(text, {kPublicA}, read), tarn::ManifestCheck::Valid);
    EXPECT_EQ(read.product, sample.product);
    EXPECT_EQ(read.serial, sample.serial);
    ASSERT_EQ(read.packages.size(), 2u);
    EXPECT_EQ(read.packages[1].name, sample.packages[1].name);
    EXPECT_EQ(read.packages[0].size, 123456);
    ASSERT_NE(tarn::FindManifestPackage(read, L"TARN_GRIDWELL_2023_(1).CAB"), nullptr);
    EXPECT_EQ(tarn::FindManifestPackage(read, L"P3.cab"), nullptr);
    // Several keys: any one of them will do; none of them, nothing.
    EXPECT_EQ(tarn::ReadSignedManifest(text, {kPublicB, kPublicA}, read), tarn::ManifestCheck::Valid);
    EXPECT_EQ(tarn::ReadSignedManifest(text, {kPublicB}, read), tarn::ManifestCheck::BadSignature);
    // An independent signer.
    EXPECT_EQ(tarn::ReadSignedManifest(kOpensslSigned, {kPublicA}, read), tarn::ManifestCheck::Valid);
    EXPECT_EQ(read.packages[0].name, L"P1.cab");
}

TEST(ReleaseManifest, AnyChangedByteIsRefused)
{
    ScratchFolder scratch;
    const std::string text = SignedSample(scratch, SampleManifest());
    struct Case {
        const char* what;
        std::string from;
        std::string to;
        tarn::ManifestCheck check;
    };
    const Case cases[] = {
        {"size", "123456", "123457", tarn::ManifestCheck::BadSignature},
        {"serial", "Serial: 2026", "Serial: 2027", tarn::ManifestCheck::BadSignature},
        {"hash", std::string(64, 'a'), std::string(63, 'a') + "b", tarn::ManifestCheck::BadSignature},
        {"name", "(1).cab", "(3).cab", tarn::ManifestCheck::BadSignature},
        {"upper-case hash", std::string(64, 'a'), std::string(64, 'A'), tarn::ManifestCheck::Malformed},
        {"header", "manifest 1", "manifest 2", tarn::ManifestCheck::Malformed},
        {"CR LF", "\n", "\r\n", tarn::ManifestCheck::Malformed},
        {"second product", "Serial:", "Product: x\nSerial:", tarn::ManifestCheck::Malformed},
        {"unknown line", "Serial:", "Note: x\nSerial:", tarn::ManifestCheck::Malformed},
        {"same package twice", "Package: 1000", "Package: 1 " + std::string(64, '1') + " gr\xc3\xb6\xc3\x9f" +
                                                    "e (2).cab\nPackage: 1000", tarn::ManifestCheck::Malformed},
        {"size zero", "Package: 1000", "Package: 0", tarn::ManifestCheck::Malformed},
        {"negative size", "Package: 1000", "Package: -1000", tarn::ManifestCheck::Malformed},
        {"name not UTF-8", "Gr\xc3\xb6", "Gr\xf6", tarn::ManifestCheck::Malformed},
        {"short signature", "Signature: ", "Signature: 00", tarn::ManifestCheck::Malformed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string changed = text;
        const size_t at = changed.find(c.from);
        ASSERT_NE(at, std::string::npos);
        changed.replace(at, c.from.size(), c.to);
        tarn::ReleaseManifest read;
        EXPECT_EQ(tarn::ReadSignedManifest(changed, {kPublicA}, read), c.check);
    }
    tarn::ReleaseManifest read;
    for (const std::string& cut : {text.substr(0, text.size() - 1), text.substr(0, text.find("Signature")),
                                   std::string(), std::string("\n")}) {
        EXPECT_EQ(tarn::ReadSignedManifest(cut, {kPublicA}, read), tarn::ManifestCheck::Malformed);
    }
    EXPECT_EQ(tarn::ReadSignedManifest(text + std::string(1 << 20, 'x'), {kPublicA}, read),
              tarn::ManifestCheck::Malformed);
}

// Downloaded bytes: random damage must never crash the reader nor pass.
TEST(ReleaseManifest, FuzzedManifestsNeverPass)
{
    ScratchFolder scratch;
    const std::string text = SignedSample(scratch, SampleManifest());
    std::mt19937 random(20261210);
    int parsed = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = text;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const size_t at = random() % damaged.size();
            switch (random() % 4) {
            case 0:
                damaged[at] = static_cast<char>(random());
                break;
            case 1:
                damaged.erase(at, 1 + random() % 8);
                break;
            case 2:
                damaged.insert(at, 1, static_cast<char>(random()));
                break;
            default:
                damaged.insert(at, damaged.substr(random() % damaged.size(), random() % 80));
                break;
            }
            if (damaged.empty()) {
                damaged = "\n";
            }
        }
        if (damaged == text) {
            continue;
        }
        tarn::ReleaseManifest read;
        const tarn::ManifestCheck check = tarn::ReadSignedManifest(damaged, {kPublicA}, read);
        EXPECT_NE(check, tarn::ManifestCheck::Valid) << damaged;
        parsed += check == tarn::ManifestCheck::BadSignature ? 1 : 0;
    }
    EXPECT_GT(parsed, 30);  // the damage reaches the signature check too
}

}  // namespace
