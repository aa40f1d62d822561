#pragma once
// A release built beside the published one: every cabinet, record, list and
// starter copy of a run goes into a staging folder on the same volume as the
// download folder, is checked there, and only then moved into place, the
// download lists last. A failed run leaves the published files as they
// were; a run killed during the final moves leaves every cabinet with its
// own record or with none (never a new cabinet beside an old record).

#include <string>
#include <vector>

#include "packing/release_files.h"

namespace tarn {

class ReleaseStage {
public:
    // Stages for the download folder `live` in `staging` (empty: the folder
    // `live` + "." + `mode` + ".staging" beside it).
    ReleaseStage(std::wstring live, const std::wstring& mode, std::wstring staging = std::wstring());
    // Removes the staging folder with what is left in it.
    ~ReleaseStage();
    ReleaseStage(const ReleaseStage&) = delete;
    ReleaseStage& operator=(const ReleaseStage&) = delete;

    // Removes what a killed run left in the staging folder and creates it
    // afresh. False (with the failure appended) when that fails.
    bool Open(PackingFailures& failed);

    const std::wstring& LiveFolder() const { return live_; }
    const std::wstring& Folder() const { return staging_; }
    std::wstring Staged(const std::wstring& name) const { return staging_ + L"\\" + name; }
    std::wstring Live(const std::wstring& name) const { return live_ + L"\\" + name; }
    // Beside the staging folder, outlasting it: the journal of the source
    // files the run touched (see CTempTouchFiles).
    std::wstring TouchJournal() const { return staging_ + L".touched"; }

    // Checks every staged cabinet against its staged record and, when
    // `lists` names staged download lists, the release those lists make
    // together with what stays published; then publishes: replaces the
    // published files by the staged ones (a cabinet's old record goes first,
    // then the cabinet, then its new record), the download lists last, then
    // removes `stale` (file names in the download folder) with their records.
    // Nothing is changed when a check fails or a published file cannot be
    // replaced. False with the failures appended.
    bool CheckAndPublish(const std::vector<std::wstring>& lists, const std::vector<std::wstring>& stale,
                         PackingFailures& failed);

    // The two halves of CheckAndPublish, for a mode that publishes several
    // folders: all are checked before the first is published.
    bool Check(const std::vector<std::wstring>& lists, PackingFailures& failed) const;
    bool Publish(const std::vector<std::wstring>& stale, PackingFailures& failed) const;

private:
    // Removes the published "<name>.sig" unless the staged release has one.
    bool DropOldManifest(const std::wstring& name, PackingFailures& failed) const;

    std::wstring live_;
    std::wstring staging_;
};

// The entries of the published download list `listName` in `liveFolder` that
// `names` (the new list's) no longer holds, except the updater cabinet that
// other modes publish: the carriers that publishing the new list retires.
std::vector<std::wstring> RetiredEntries(const std::wstring& liveFolder, const std::wstring& listName,
                                         const std::vector<std::wstring>& names);

}  // namespace tarn
