#pragma once
// The target side of one extraction, shared by both extraction paths: each
// announced entry's target path checked and listed, and the folders made
// for the entries, remembering which of them this extraction created (no
// file can be in those yet, so a target there needs no emptying first).

#include <string>
#include <unordered_set>

#include "support/unique_handle.h"
#include "transfer/cab_extract.h"

namespace tarn {

// What extracted files never keep, so that a later run can replace them.
constexpr DWORD kAttributesToClear = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Creates the file at `path` afresh with `attributes`, for writing. A file
// there that is read-only, hidden or system loses those attributes: the
// platform refuses to replace such a file (it is cleared and opened again),
// and where it does replace one (under Wine, for an administrator) the
// attributes are cleared through the new handle. An invalid handle, with
// the platform's error, when the file cannot be created.
UniqueFileHandle CreateFreshFile(const std::wstring& path, unsigned long attributes);

class CabTargets {
public:
    // The context's target folder is prepared (it ends with a backslash).
    explicit CabTargets(CabExtractContext& context);

    // Lists the target of an entry by its decoded stored name (done flag 0
    // when new) and checks it: the name must pass the cabinet name rules,
    // the target path must stay under 260 characters and, as the platform
    // resolves it, below the target folder. False for a refused entry, with
    // one trace line. `target` receives the path; `wasListed` tells whether
    // an earlier entry already had it.
    bool Announce(const std::wstring& storedName, std::wstring& target, bool& wasListed);

    // Marks a listed target extracted (or not).
    void SetDone(const std::wstring& target, bool done);

    // Makes the folder of `target` unless the previous call had the same
    // one. True when that folder did not exist before this extraction.
    bool MakeFolderOf(const std::wstring& target);

    // True when this extraction created a folder at `path`.
    bool IsCreatedFolder(const std::wstring& path) const { return created_.count(path) != 0; }

private:
    bool CreateFolder(const std::wstring& folder);

    CabExtractContext& context_;
    std::wstring fullTargetFolder_;  // as the platform resolves it
    std::wstring lastFolder_;
    bool lastFolderIsNew_ = false;
    std::unordered_set<std::wstring> created_;
};

}  // namespace tarn
