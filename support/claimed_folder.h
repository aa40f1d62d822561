#pragma once
// Work folders that a killed run cannot leave behind for good: each is
// claimed by a file beside it ("<folder>.claim") that its owner holds open
// without shared deletion for as long as it works there. A folder whose
// claim is gone or no longer held belongs to nobody and is removed when the
// next work folder of its kind is made.

#include <string>

#include "support/unique_handle.h"

namespace tarn {

class ClaimedWorkFolder {
public:
    // A new folder "<base>\<prefix><process>_<n>"; first removes the folders
    // of that prefix in `base` that nobody claims.
    ClaimedWorkFolder(const std::wstring& base, const std::wstring& prefix);
    // Removes the folder with its content, then its claim.
    ~ClaimedWorkFolder();
    ClaimedWorkFolder(const ClaimedWorkFolder&) = delete;
    ClaimedWorkFolder& operator=(const ClaimedWorkFolder&) = delete;

    // Empty when none could be made (with a trace line).
    const std::wstring& Folder() const { return folder_; }

private:
    std::wstring folder_;
    UniqueFileHandle claim_;
};

// Removes the folders "<base>\<prefix>*" that nobody claims (see above).
void RemoveUnclaimedWorkFolders(const std::wstring& base, const std::wstring& prefix);

}  // namespace tarn
