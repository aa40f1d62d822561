#include "packing/release_stage.h"

#include <windows.h>

#include "config/text/text_file.h"
#include "packing/release_check.h"
#include "packing/release_signing.h"
#include "support/file_system.h"
#include "support/folder_removal.h"
#include "support/name_compare.h"
#include "support/text_format.h"
#include "support/trace.h"
#include "support/unique_handle.h"
#include "transfer/server_layout.h"
#include "transfer/download_url.h"

namespace {


bool IsRecordName(const std::wstring& name)
{
    return tarn::EndsWithNoCase(name, tarn::kFileInfoSuffix);
}

// A download list or its signed manifest: both are published after the
// data they name.
bool IsListName(const std::wstring& name)
{
    for (const tarn::ReleaseKind& kind : tarn::ReleaseKinds()) {
        if (tarn::EqualsNoCase(name, kind.list) || tarn::EqualsNoCase(name, tarn::ManifestPathFor(kind.list))) {
            return true;
        }
    }
    return false;
}

// The plain files directly in `folder`.
std::vector<std::wstring> FilesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const tarn::UniqueFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!find) {
        return names;
    }
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
            names.push_back(found.cFileName);
        }
    } while (::FindNextFileW(find.Get(), &found));
    return names;
}

bool Exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// True when the published file can be replaced or removed now: nobody holds
// it open without sharing its deletion.
bool Replaceable(const std::wstring& path, tarn::PackingFailures& failed)
{
    if (!Exists(path)) {
        return true;
    }
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    const tarn::UniqueFileHandle file(::CreateFileW(path.c_str(), DELETE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                    OPEN_EXISTING, 0, nullptr));
    if (!file) {
        failed.push_back({path, tarn::FormatText(L"cannot be replaced, it is held open elsewhere (error %lu)",
                                                 ::GetLastError())});
        return false;
    }
    return true;
}

bool MoveInto(const std::wstring& from, const std::wstring& to, tarn::PackingFailures& failed)
{
    // Same volume: a rename, never a copy that a kill could cut short.
    if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        failed.push_back({to, tarn::FormatText(L"cannot be replaced by %ls (error %lu)", from.c_str(), ::GetLastError())});
        return false;
    }
    return true;
}

bool Remove(const std::wstring& path, tarn::PackingFailures& failed)
{
    if (Exists(path) && !::DeleteFileW(path.c_str())) {
        failed.push_back({path, tarn::FormatText(L"cannot be removed (error %lu)", ::GetLastError())});
        return false;
    }
    return true;
}

}  // namespace

namespace tarn {

ReleaseStage::ReleaseStage(std::wstring live, const std::wstring& mode, std::wstring staging)
    : live_(std::move(live)), staging_(std::move(staging))
{
    if (staging_.empty()) {
        staging_ = live_ + L"." + mode + L".staging";
    }
}

ReleaseStage::~ReleaseStage()
{
    RemoveFolderTree(staging_, true);
}

bool ReleaseStage::Open(PackingFailures& failed)
{
    if (RemoveFolderTree(staging_, true) != 0 || !CreateFolderPath(live_.c_str()) ||
        !CreateFolderPath(staging_.c_str())) {
        failed.push_back({staging_, FormatText(L"the staging folder cannot be made afresh (error %lu)", ::GetLastError())});
        return false;
    }
    return true;
}

bool ReleaseStage::Check(const std::vector<std::wstring>& lists, PackingFailures& failed) const
{
    const size_t before = failed.size();
    const ReleaseView view{staging_, live_};
    if (!lists.empty()) {
        CheckRelease(view, lists, failed);
    }
    // Without a list, the staged cabinets (updaters, QX cabinets) are
    // checked on their own.
    for (const std::wstring& name : lists.empty() ? FilesIn(staging_) : std::vector<std::wstring>()) {
        const std::wstring staged = Staged(name);
        const std::wstring record = FileInfoNameFor(staged);
        if (!IsRecordName(name) && !IsListName(name) && Exists(record)) {
            CheckCabinetWithRecord(staged, record, failed);
        }
    }
    return failed.size() == before;
}

bool ReleaseStage::DropOldManifest(const std::wstring& name, PackingFailures& failed) const
{
    // A file published without a signed manifest leaves no older one beside
    // it: that one would no longer match.
    const std::wstring manifest = ManifestPathFor(name);
    return EndsWithNoCase(name, L".sig") || Exists(Staged(manifest)) || Remove(Live(manifest), failed);
}

bool ReleaseStage::Publish(const std::vector<std::wstring>& stale, PackingFailures& failed) const
{
    std::vector<std::wstring> data;
    std::vector<std::wstring> lists;
    for (const std::wstring& name : FilesIn(staging_)) {
        if (IsListName(name)) {
            lists.push_back(name);
        } else if (!IsRecordName(name)) {
            data.push_back(name);
        }
    }
    // Everything that will be replaced or removed must be free before the
    // first file is touched.
    bool free = true;
    const std::vector<std::wstring>* const groups[] = {&data, &lists, &stale};
    for (const std::vector<std::wstring>* names : groups) {
        for (const std::wstring& name : *names) {
            free = Replaceable(Live(name), failed) && free;
            if (names != &lists) {
                free = Replaceable(FileInfoNameFor(Live(name)), failed) && free;
            }
        }
    }
    if (!free) {
        return false;
    }
    for (const std::wstring& name : data) {
        const std::wstring record = FileInfoNameFor(Live(name));
        const std::wstring stagedRecord = FileInfoNameFor(Staged(name));
        if (!Remove(record, failed) || !MoveInto(Staged(name), Live(name), failed) ||
            (Exists(stagedRecord) && !MoveInto(stagedRecord, record, failed)) || !DropOldManifest(name, failed)) {
            return false;
        }
    }
    for (const std::wstring& name : lists) {
        if (!MoveInto(Staged(name), Live(name), failed)) {
            return false;
        }
        if (!DropOldManifest(name, failed)) {
            return false;
        }
    }
    bool removed = true;
    for (const std::wstring& name : stale) {
        removed = Remove(Live(name), failed) && Remove(FileInfoNameFor(Live(name)), failed) && removed;
    }
    return removed;
}

bool ReleaseStage::CheckAndPublish(const std::vector<std::wstring>& lists, const std::vector<std::wstring>& stale,
                                   PackingFailures& failed)
{
    if (!Check(lists, failed)) {
        return false;
    }
    // The staged release is complete and checked: about to publish. A step
    // that adds to the release (it writes into Folder()) belongs here.
    return Publish(stale, failed);
}

std::vector<std::wstring> RetiredEntries(const std::wstring& liveFolder, const std::wstring& listName,
                                         const std::vector<std::wstring>& names)
{
    std::vector<std::wstring> published;
    const std::wstring list = liveFolder + L"\\" + listName;
    if (!Exists(list) || !ReadArray(list.c_str(), published)) {
        return {};
    }
    std::erase_if(published, [&](const std::wstring& entry) {
        if (entry.empty() || EqualsNoCase(entry, kUpdaterCabinetName) || entry.find_first_of(L"\\/:") != std::wstring::npos) {
            return true;
        }
        for (const std::wstring& name : names) {
            if (EqualsNoCase(entry, name)) {
                return true;
            }
        }
        return false;
    });
    return published;
}

}  // namespace tarn
