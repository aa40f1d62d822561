#include "support/folder_tree.h"

#include <algorithm>

#include "support/file_queries.h"
#include "support/file_system_internal.h"
#include "support/folder_removal.h"
#include "support/name_compare.h"
#include "support/path_text.h"
#include "support/temp_files.h"
#include "support/trace.h"
#include "support/unique_handle.h"

using namespace tarn::fs;

namespace {

// Inserts `path` at its sorted place; returns the index, or -1 when an equal
// path is already present. A present path that differs in letter case (two
// names on a case-sensitive share) is appended with `path` to `twins`.
ptrdiff_t InsertSortedUnique(std::vector<std::wstring>& sorted, const std::wstring& path,
                             std::vector<std::wstring>* twins = nullptr)
{
    bool found = false;
    const size_t index = tarn::LowerBoundNoCase(sorted, path, &found);
    if (found) {
        if (twins != nullptr && sorted[index] != path) {
            twins->push_back(sorted[index]);
            twins->push_back(path);
        }
        return -1;
    }
    sorted.insert(sorted.begin() + static_cast<ptrdiff_t>(index), path);
    return static_cast<ptrdiff_t>(index);
}

struct ListOutputs {
    std::vector<std::wstring>* folders;
    std::vector<SYSTEMTIME>* times;
    std::vector<uint32_t>* sizes;
    std::vector<std::wstring>* twins;
};

void ListFolder(const std::wstring& folder, const std::wstring& pattern, std::vector<std::wstring>& files,
                const ListOutputs& out)
{
    std::vector<std::wstring>* const folders = out.folders;
    std::vector<SYSTEMTIME>* const times = out.times;
    std::vector<uint32_t>* const sizes = out.sizes;
    if (folders) {
        InsertSortedUnique(*folders, tarn::WithoutTrailingBackslash(folder));
    }
    const std::wstring search = folder + pattern;
    WIN32_FIND_DATAW data{};
    {
        tarn::UniqueFindHandle find(::FindFirstFileW(search.c_str(), &data));
        if (!find) {
            return;
        }
        do {
            if (IsDotEntry(data) || IsFolderEntry(data)) {
                continue;
            }
            const ptrdiff_t index = InsertSortedUnique(files, folder + data.cFileName, out.twins);
            if (index < 0) {
                continue;
            }
            if (times) {
                times->insert(times->begin() + index, tarn::FileTimeToLocalOrZero(data.ftLastWriteTime));
            }
            if (sizes) {
                sizes->insert(sizes->begin() + index, data.nFileSizeLow);
            }
        } while (::FindNextFileW(find.Get(), &data));
    }

    // The pattern filters the folders that are descended into as well.
    std::vector<std::wstring> subfolders;
    {
        tarn::UniqueFindHandle find(::FindFirstFileW(search.c_str(), &data));
        if (!find) {
            return;
        }
        do {
            if (IsDotEntry(data) || !IsFolderEntry(data)) {
                continue;
            }
            // A folder link or junction is not followed: it may loop back
            // into the tree or lead out of it.
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                tarn::Trace(L"ListFiles: the folder link %ls%ls is not followed", folder.c_str(), data.cFileName);
                continue;
            }
            subfolders.push_back(folder + data.cFileName + L"\\");
        } while (::FindNextFileW(find.Get(), &data));
    }
    for (const std::wstring& subfolder : subfolders) {
        ListFolder(subfolder, pattern, files, out);
    }
}

}  // namespace

int CreateFolderPath(const wchar_t* path)
{
    if (tarn::IsEmptyText(path) || wcslen(path) < 3) {
        return 0;
    }
    if (FileExists(path)) {
        return 1;
    }
    std::wstring folder = tarn::WithoutTrailingBackslash(path);
    for (size_t i = 2; i < folder.size(); ++i) {
        if (folder[i] != L'\\') {
            continue;
        }
        const std::wstring prefix = folder.substr(0, i);
        if (!IsFolder(prefix)) {
            ::CreateDirectoryW(prefix.c_str(), nullptr);  // roots of drives and shares fail harmlessly
        }
    }
    if (IsFolder(folder)) {
        return 1;
    }
    if (!::CreateDirectoryW(folder.c_str(), nullptr)) {
        tarn::Trace(L"folder %ls cannot be created (error %lu)", folder.c_str(), ::GetLastError());
        return 0;
    }
    return 1;
}

int CreateFolderOfFile(const wchar_t* path)
{
    if (tarn::IsEmptyText(path)) {
        return 0;
    }
    const std::wstring_view file(path);
    if (file.find(L'\\') == std::wstring_view::npos) {
        return 0;
    }
    return CreateFolderPath(tarn::FolderOf(file).c_str());
}

namespace {

int ListFilesInto(const wchar_t* start, std::vector<std::wstring>& files, const ListOutputs& out)
{
    if (tarn::IsEmptyText(start)) {
        return 0;
    }
    std::wstring folder(start);
    std::wstring pattern = L"*.*";
    if (folder.find(L'*') != std::wstring::npos) {
        pattern = tarn::FileNameOf(folder);
        folder = tarn::FolderOf(folder);
    }
    if (folder.empty()) {
        return 0;
    }
    folder = tarn::WithTrailingBackslash(folder);
    const size_t before = files.size();
    ListFolder(folder, pattern, files, out);
    return files.size() > before ? 1 : 0;
}

}  // namespace

int ListFiles(const wchar_t* start, std::vector<std::wstring>& files, std::vector<std::wstring>* folders,
              std::vector<SYSTEMTIME>* times, std::vector<uint32_t>* sizes)
{
    return ListFilesInto(start, files, {folders, times, sizes, nullptr});
}

namespace tarn {

int ListFilesNamingTwins(const wchar_t* start, std::vector<std::wstring>& files, std::vector<std::wstring>& twins)
{
    return ListFilesInto(start, files, {nullptr, nullptr, nullptr, &twins});
}

SYSTEMTIME FileTimeToLocalOrZero(const FILETIME& utc)
{
    SYSTEMTIME system{};
    SYSTEMTIME local{};
    if (!::FileTimeToSystemTime(&utc, &system) ||
        !::SystemTimeToTzSpecificLocalTime(nullptr, &system, &local)) {
        return SYSTEMTIME{};
    }
    return local;
}

}  // namespace tarn

int EmptyFolder(const wchar_t* folder)
{
    if (tarn::IsEmptyText(folder)) {
        return 0;
    }
    // Full paths only: a relative one would depend on the current folder.
    const std::wstring root = tarn::WithoutTrailingBackslash(folder);
    const bool full = root.rfind(L"\\\\", 0) == 0 || (root.size() >= 3 && root[1] == L':' && root[2] == L'\\');
    if (!full || root.size() >= MAX_PATH) {
        tarn::Trace(L"folder %ls is not emptied: not a full path", folder);
        return 0;
    }
    if (tarn::RemoveFolderTree(root, false) != 0) {
        tarn::Trace(L"folder %ls cannot be emptied completely", root.c_str());
        return 0;
    }
    return 1;
}
