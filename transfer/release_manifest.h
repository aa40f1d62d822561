#pragma once
// The signed manifest of a release, "<download list name>.sig" beside the
// download list: a text a person can read, in lines that end with LF.
//
//   Tarn release manifest 1
//   Product: <download list name>
//   Serial: <decimal release serial; grows with every release>
//   Package: <size> <SHA-256, 64 lowercase hex digits> <file name>
//   ...                                   (one line per package, UTF-8 names)
//   Signature: <ECDSA P-256 signature, r then s, 128 lowercase hex digits>
//
// The signature is made over the SHA-256 of every byte before the
// "Signature: " line. Any other line, a repeated or missing field, a
// repeated package name and text beyond 1 MiB make the manifest malformed.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/ecdsa_p256.h"
#include "transfer/file_info.h"

namespace tarn {

struct ManifestPackage {
    std::wstring name;
    int64_t size = 0;
    std::string sha256;
};

struct ReleaseManifest {
    std::wstring product;
    uint64_t serial = 0;
    std::vector<ManifestPackage> packages;
};

// The text up to (without) the signature line.
std::string ComposeManifestBody(const ReleaseManifest& manifest);

// The body followed by the signature line.
std::string ComposeSignedManifest(const std::string& body, const EcdsaSignature& signature);

enum class ManifestCheck {
    Valid,         // well formed, and signed by one of the keys
    Malformed,     // not a manifest
    BadSignature,  // well formed, but no key verifies its signature
};

// Reads a manifest. With `publicKeys` empty only the form is checked.
ManifestCheck ReadSignedManifest(std::string_view text, const std::vector<std::string>& publicKeys,
                                 ReleaseManifest& manifest);

// The package of that name (letter case ignored, as file names are), or null.
const ManifestPackage* FindManifestPackage(const ReleaseManifest& manifest, std::wstring_view name);

// The public keys built into this program (PEM texts, null-terminated
// table; main sets them from the build's key header), and the same as a
// list; none: releases are not checked.
void SetBuiltInReleaseKeys(const char* const* keys);
std::vector<std::string> BuiltInReleaseKeys();

// What the manifest pins for a package: its size and SHA-256.
ExpectedFile PinnedFile(const ManifestPackage& package);

}  // namespace tarn
