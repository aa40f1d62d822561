#include "support/folder_tree.h"

#include <algorithm>

#include "support/file_queries.h"
#include "support/file_system_internal.h"
#include "support/folder_removal.h"
#include "support/name_compare.h"
#include "support/temp_files.h"
#include "support/unique_handle.h"

using namespace tarn::fs;

namespace {

// Inserts `path` at its sorted place; returns the index, or -1 when an equal
// path is already present.
ptrdiff_t InsertSortedUnique(std::vector<std::wstring>& sorted, const std::wstring& path)
{
    bool found = false;
    const size_t index = tarn::LowerBoundNoCase(sorted, path, &found);
    if (found) {
        return -1;
    }
    sorted.insert(sorted.begin() + static_cast<ptrdiff_t>(index), path);
    return static_cast<ptrdiff_t>(index);
}

void ListFolder(const std::wstring& folder, const std::wstring& pattern, std::vector<std::wstring>& files,
                std::vector<std::wstring>* folders, std::vector<SYSTEMTIME>* times,
                std::vector<uint32_t>* sizes)
{
    if (folders) {
        InsertSortedUnique(*folders, StripOneTrailingBackslash(folder));
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
            const ptrdiff_t index = InsertSortedUnique(files, folder + data.cFileName);
            if (index < 0) {
                continue;
            }
            if (times) {
                times->insert(times->begin() + index, FileTimeToLocalOrZero(data.ftLastWriteTime));
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
            if (!IsDotEntry(data) && IsFolderEntry(data)) {
                subfolders.push_back(folder + data.cFileName + L"\\");
            }
        } while (::FindNextFileW(find.Get(), &data));
    }
    for (const std::wstring& subfolder : subfolders) {
        ListFolder(subfolder, pattern, files, folders, times, sizes);
    }
}

int Depth(const std::wstring& path)
{
    return static_cast<int>(std::count(path.begin(), path.end(), L'\\'));
}

std::wstring GetCurrentFolder()
{
    const DWORD length = ::GetCurrentDirectoryW(0, nullptr);
    if (length == 0) {
        return std::wstring();
    }
    std::wstring folder(length, L'\0');
    const DWORD written = ::GetCurrentDirectoryW(length, folder.data());
    folder.resize(written < length ? written : 0);
    return folder;
}

}  // namespace

namespace tarn::fs {

int RemoveFoldersDeepestFirst(std::vector<std::wstring> folders, const std::wstring& keep,
                              const std::wstring& workFolder)
{
    std::stable_sort(folders.begin(), folders.end(), [](const std::wstring& a, const std::wstring& b) {
        const int depthA = Depth(a);
        const int depthB = Depth(b);
        return depthA != depthB ? depthA > depthB : a.size() > b.size();
    });
    const std::wstring previous = GetCurrentFolder();
    ::SetCurrentDirectoryW(workFolder.c_str());
    int failures = 0;
    for (const std::wstring& folder : folders) {
        if (!keep.empty() && tarn::EqualsNoCase(folder, keep)) {
            continue;
        }
        if (!::RemoveDirectoryW(folder.c_str())) {
            ++failures;
        }
    }
    if (!previous.empty() && IsFolder(previous)) {
        ::SetCurrentDirectoryW(previous.c_str());
    }
    return failures;
}

}  // namespace tarn::fs

int CreateFolderPath(const wchar_t* path)
{
    if (IsEmpty(path) || wcslen(path) < 3) {
        return 0;
    }
    if (FileExists(path)) {
        return 1;
    }
    std::wstring folder = StripOneTrailingBackslash(path);
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
    return ::CreateDirectoryW(folder.c_str(), nullptr) ? 1 : 0;
}

int CreateFolderOfFile(const wchar_t* path)
{
    if (IsEmpty(path)) {
        return 0;
    }
    const std::wstring file(path);
    const size_t slash = file.find_last_of(L'\\');
    if (slash == std::wstring::npos) {
        return 0;
    }
    return CreateFolderPath(file.substr(0, slash).c_str());
}

int ListFiles(const wchar_t* start, std::vector<std::wstring>& files, std::vector<std::wstring>* folders,
              std::vector<SYSTEMTIME>* times, std::vector<uint32_t>* sizes)
{
    if (IsEmpty(start)) {
        return 0;
    }
    std::wstring folder(start);
    std::wstring pattern = L"*.*";
    if (folder.find(L'*') != std::wstring::npos) {
        const size_t slash = folder.find_last_of(L'\\');
        pattern = folder.substr(slash == std::wstring::npos ? 0 : slash + 1);
        folder.resize(slash == std::wstring::npos ? 0 : slash);
    }
    if (folder.empty()) {
        return 0;
    }
    if (folder.back() != L'\\') {
        folder += L'\\';
    }
    const size_t before = files.size();
    ListFolder(folder, pattern, files, folders, times, sizes);
    return files.size() > before ? 1 : 0;
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

int EmptyFolder(const wchar_t* folder)
{
    if (IsEmpty(folder)) {
        return 0;
    }
    // Full paths only: a relative one would depend on the current folder.
    const std::wstring root = StripOneTrailingBackslash(folder);
    const bool full = root.rfind(L"\\\\", 0) == 0 || (root.size() >= 3 && root[1] == L':' && root[2] == L'\\');
    if (!full || root.size() >= MAX_PATH) {
        return 0;
    }
    return tarn::RemoveFolderTree(root, false) == 0 ? 1 : 0;
}
