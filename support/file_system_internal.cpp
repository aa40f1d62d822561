#include "support/file_system_internal.h"

namespace tarn::fs {

bool IsEmpty(const wchar_t* path)
{
    return path == nullptr || path[0] == L'\0';
}

bool EntryExists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsDotEntry(const WIN32_FIND_DATAW& data)
{
    return wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0;
}

bool IsFolderEntry(const WIN32_FIND_DATAW& data)
{
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring StripOneTrailingBackslash(std::wstring path)
{
    if (!path.empty() && path.back() == L'\\') {
        path.pop_back();
    }
    return path;
}

bool SetNormalAttributes(const wchar_t* path)
{
    return ::SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL) != FALSE;
}

}  // namespace tarn::fs
