#pragma once
// Small rules for texts that hold names and paths, in one place each.

#include <string>
#include <string_view>

namespace tarn {

// True for a null or empty text.
inline bool IsEmptyText(const wchar_t* text)
{
    return text == nullptr || text[0] == L'\0';
}

// `folder` ending with one backslash (added when missing); empty stays empty.
inline std::wstring WithTrailingBackslash(std::wstring_view folder)
{
    std::wstring result(folder);
    if (!result.empty() && result.back() != L'\\') {
        result += L'\\';
    }
    return result;
}

// `path` without its last character when that is a backslash.
inline std::wstring WithoutTrailingBackslash(std::wstring_view path)
{
    if (!path.empty() && path.back() == L'\\') {
        path.remove_suffix(1);
    }
    return std::wstring(path);
}

// The part of `path` after its last backslash: the whole path when it has none.
inline std::wstring FileNameOf(std::wstring_view path)
{
    const size_t slash = path.find_last_of(L'\\');
    return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

// The part of `path` before its last backslash: empty when it has none.
inline std::wstring FolderOf(std::wstring_view path)
{
    const size_t slash = path.find_last_of(L'\\');
    return std::wstring(slash == std::wstring_view::npos ? std::wstring_view() : path.substr(0, slash));
}

}  // namespace tarn
