#include "support/folder_removal.h"

#include <windows.h>

#include <vector>

#include "support/trace.h"
#include "support/unique_handle.h"

namespace {

struct Entry {
    std::wstring path;
    DWORD attributes;
};

bool IsFolder(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsLink(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The entries of one folder, read before any of them is removed.
std::vector<Entry> ListEntries(const std::wstring& folder)
{
    std::vector<Entry> entries;
    WIN32_FIND_DATAW data{};
    const std::wstring search = folder + L"\\*";
    tarn::UniqueFindHandle find(::FindFirstFileW(search.c_str(), &data));
    if (!find) {
        return entries;
    }
    do {
        const std::wstring_view name(data.cFileName);
        if (name != L"." && name != L"..") {
            entries.push_back({folder + L"\\" + data.cFileName, data.dwFileAttributes});
        }
    } while (::FindNextFileW(find.Get(), &data));
    return entries;
}

bool RemoveFile(const Entry& entry)
{
    if (::DeleteFileW(entry.path.c_str())) {
        return true;
    }
    // The attributes of a link would be set on what it points to.
    if (!IsLink(entry.attributes) && ::SetFileAttributesW(entry.path.c_str(), FILE_ATTRIBUTE_NORMAL) &&
        ::DeleteFileW(entry.path.c_str())) {
        return true;
    }
    tarn::Trace(L"Cannot delete %ls (error %lu)", entry.path.c_str(), ::GetLastError());
    return false;
}

bool RemoveEmptyFolder(const std::wstring& path)
{
    if (::RemoveDirectoryW(path.c_str())) {
        return true;
    }
    tarn::Trace(L"Cannot remove the folder %ls (error %lu)", path.c_str(), ::GetLastError());
    return false;
}

size_t RemoveContents(const std::wstring& folder)
{
    size_t failures = 0;
    for (const Entry& entry : ListEntries(folder)) {
        if (!IsFolder(entry.attributes)) {
            failures += RemoveFile(entry) ? 0 : 1;
        } else if (IsLink(entry.attributes)) {
            // Removing a folder link removes the link alone.
            failures += RemoveEmptyFolder(entry.path) ? 0 : 1;
        } else {
            failures += RemoveContents(entry.path);
            failures += RemoveEmptyFolder(entry.path) ? 0 : 1;
        }
    }
    return failures;
}

}  // namespace

namespace tarn {

size_t RemoveFolderTree(const std::wstring& folder, bool removeFolder)
{
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return 0;  // nothing there, nothing left
        }
        Trace(L"Cannot look at the folder %ls (error %lu)", folder.c_str(), error);
        return 1;
    }
    if (!IsFolder(attributes) || IsLink(attributes)) {
        Trace(L"Not removed: %ls is no folder of its own (attributes 0x%lx)", folder.c_str(), attributes);
        return 1;
    }
    size_t failures = RemoveContents(folder);
    if (removeFolder) {
        failures += RemoveEmptyFolder(folder) ? 0 : 1;
    }
    return failures;
}

bool DeleteFileIfPresent(const std::wstring& path)
{
    if (path.empty() || ::DeleteFileW(path.c_str())) {
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return true;
    }
    Trace(L"Cannot delete %ls (error %lu)", path.c_str(), error);
    ::SetLastError(error);
    return false;
}

}  // namespace tarn
