#pragma once
// How the transfer code takes a download URL apart: the file name after the
// last '/' or '\', and that name's stem and extension at its last '.'. The
// file-info record of a file is named after the same rule.

#include <string>
#include <string_view>

namespace tarn {

struct UrlParts {
    std::wstring base;       // the text before the file name, without the separator
    std::wstring name;       // the text after the last '/' or '\'
    std::wstring stem;       // the name up to its last '.' (the whole name without one)
    std::wstring extension;  // the name from its last '.' on, or empty
};

// Splits `url` at the later of its last '/' and its last '\'. False when it
// holds neither character; `parts` is then left empty.
bool SplitUrl(std::wstring_view url, UrlParts& parts);

// What every file-info record's name ends with.
inline constexpr wchar_t kFileInfoSuffix[] = L".fileinfo.txt";

// The name of a file-info record: `stem` (a path or URL without the
// described file's extension) followed by kFileInfoSuffix.
std::wstring FileInfoNameForStem(std::wstring_view stem);

// The name of the file-info record that describes `path` (a file path or a
// URL): the path cut at the last '.' of its last component, followed by
// ".fileinfo.txt". A '.' in a folder or host name never counts. Empty when
// the last component holds no '.'.
std::wstring FileInfoNameFor(std::wstring_view path);

}  // namespace tarn
