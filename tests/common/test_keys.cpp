#include "common/test_keys.h"

#include "common/test_files.h"
#include "support/ecdsa_p256.h"
#include "support/sha256.h"

namespace tarn::test {

std::string SignWithKeyA(const ReleaseManifest& manifest, const std::wstring& keyFile)
{
    const std::string body = ComposeManifestBody(manifest);
    Sha256 hash;
    hash.Update(body.data(), body.size());
    Sha256Digest digest{};
    EcdsaSignature signature{};
    if (!WriteBytes(keyFile, keys::kPrivateA) || !hash.Finish(digest) ||
        !SignDigestWithKeyFile(keyFile, digest, signature)) {
        return std::string();
    }
    return ComposeSignedManifest(body, signature);
}

}  // namespace tarn::test
