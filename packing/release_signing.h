#pragma once
// The signed manifest of a packed release (see transfer/release_manifest.h),
// made on the build machine with the key that the environment variable
// TARN_SIGNING_KEY names: a PEM file with an ECDSA P-256 private key. The
// key is read for the one signature and forgotten.

#include <string>
#include <vector>

namespace tarn {

// "TARN_SIGNING_KEY".
extern const wchar_t kSigningKeyVariable[];

// A release's manifest, signed, or nothing to publish.
struct SignedRelease {
    bool wanted = false;  // the key variable is set
    std::string text;     // the manifest with its signature, when wanted
};

// Signs the release whose download list will be `listPath` and whose
// packages are `packages` (full paths of the files the list names that
// exist). Without the key variable: nothing wanted, true. The serial is the
// current UTC time as YYYYMMDDhhmmss, or one more than the serial of the
// manifest already beside the list when that is not less. False, with a
// trace line, when a package cannot be hashed or the key cannot sign.
bool SignRelease(const std::wstring& listPath, const std::vector<std::wstring>& packages, SignedRelease& release);

// "<list path>.sig".
std::wstring ManifestPathFor(const std::wstring& listPath);

// Publishes the signature beside the list: writes it when wanted, else
// removes a manifest an earlier signed run left there (it would no longer
// match). False, with a trace line, when that fails.
bool PublishReleaseManifest(const std::wstring& listPath, const SignedRelease& release);

// A file that update downloads fetch on its own (an updater cabinet): its
// own manifest "<file>.sig", product the file's name, one package. With
// the key variable unset, a manifest an earlier run left is removed.
bool SignSingleFile(const std::wstring& path);

}  // namespace tarn
