#pragma once
// What a program built with release keys demands of a release before it
// unpacks anything: a manifest signed by one of its keys, for this product's
// download list, naming exactly the listed packages, and a serial not older
// than the newest this computer has accepted for the product.

#include <cstdint>
#include <string>
#include <vector>

#include "app/install/download_list.h"
#include "transfer/release_manifest.h"

namespace tarn {

// Where the newest accepted serial of a product is kept: below the
// machine's software key, which only an elevated process can change, so
// that a user (or a program of the user's) cannot lower it to let an older
// release in. Value "ReleaseSerial" (REG_QWORD).
std::wstring ReleaseSerialKeyPath(const std::wstring& settingsKey);

// The newest accepted serial stored at `keyPath`, or 0.
uint64_t ReadAcceptedSerial(const std::wstring& keyPath);

// Stores `serial` when it is newer than the stored one. False (traced) when
// it cannot be stored.
bool RecordAcceptedSerial(const std::wstring& keyPath, uint64_t serial);

struct ReleaseVerdict {
    bool accepted = false;
    std::wstring reason;  // the warning box's line about a refusal
    ReleaseManifest manifest;
};

// Checks the manifest text of a release (null: the server had none) whose
// download list `listName` holds `entries`. Every refusal is traced with
// its cause.
ReleaseVerdict CheckRelease(const std::string* manifestText, const std::vector<std::string>& keys,
                            const std::wstring& listName, const DownloadListEntries& entries,
                            uint64_t acceptedSerial);

// The warning box's line when package `name` differs from the manifest.
std::wstring PackageMismatchReason(const std::wstring& name);

}  // namespace tarn
