#include "support/file_queries.h"

#include "support/file_system_internal.h"
#include "support/path_text.h"
#include "support/unique_handle.h"

using namespace tarn::fs;

namespace {

// Paths that may carry a trailing backslash which FindFirstFileW would refuse.
bool HasStrippablePrefix(const std::wstring& path)
{
    if (path.rfind(L"\\\\", 0) == 0 || path.rfind(L".\\", 0) == 0 || path.rfind(L"..\\", 0) == 0) {
        return true;
    }
    return path.size() >= 2 && path[1] == L':' && iswalpha(path[0]);
}

}  // namespace

int FileExists(const wchar_t* path, int* isFolder)
{
    if (isFolder) {
        *isFolder = 0;
    }
    if (tarn::IsEmptyText(path) || path[1] == L'\0') {
        return 0;
    }
    std::wstring name(path);
    const size_t length = name.size();
    if (HasStrippablePrefix(name) && name[length - 1] == L'\\' && name[length - 2] != L'\\' &&
        name[length - 2] != L':') {
        name.pop_back();
    }
    WIN32_FIND_DATAW data{};
    tarn::UniqueFindHandle find(::FindFirstFileW(name.c_str(), &data));
    if (!find) {
        return 0;
    }
    if (IsFolderEntry(data)) {
        if (!isFolder) {
            return 0;
        }
        *isFolder = 1;
    }
    return 1;
}

int GetFileSizeByName(const wchar_t* path)
{
    if (tarn::IsEmptyText(path)) {
        return -1;
    }
    WIN32_FIND_DATAW data{};
    tarn::UniqueFindHandle find(::FindFirstFileW(path, &data));
    if (!find) {
        return -1;
    }
    return static_cast<int>(data.nFileSizeLow);
}

int GetExactFileName(std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) {
        return 0;
    }
    WIN32_FIND_DATAW data{};
    tarn::UniqueFindHandle find(::FindFirstFileW(path.c_str(), &data));
    if (!find) {
        return 0;
    }
    path.replace(slash + 1, std::wstring::npos, data.cFileName);
    return 1;
}

namespace tarn {

int64_t GetFileSize64(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (tarn::IsEmptyText(path) || !::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) {
        return -1;
    }
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

bool IsDiskFullError(unsigned long error)
{
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

}  // namespace tarn
