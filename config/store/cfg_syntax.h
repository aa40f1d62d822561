#pragma once
// The line syntax of settings files: what a line is (comment, section
// header, entry) and how the store cleans, splits and joins lines. Pure text
// functions without state, shared by parsing, lookups and saving.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::cfg {

// Spaces, tabs and line feeds removed from both ends: the stripping of lines,
// section names, keys and values.
std::wstring_view Strip(std::wstring_view text);

// A line starting with ';', '/' or ':'.
bool IsCommentLine(std::wstring_view line);

// A line starting with '['.
inline bool IsHeaderLine(std::wstring_view line)
{
    return !line.empty() && line.front() == L'[';
}

// A section header taken apart. `name` is the stripped text between '[' and
// the first ']' (or the rest of the line when there is none); `line` is the
// header as the store keeps it: the stripped name put back in place when
// stripping shortened it, and a missing ']' added.
struct ParsedHeader {
    std::wstring name;
    std::wstring line;
};
ParsedHeader ParseHeader(std::wstring_view line);

// Splits an entry line at its first '='. False when the line holds none;
// otherwise `key` and `value` are the stripped texts on either side.
bool SplitEntry(std::wstring_view line, std::wstring_view& key, std::wstring_view& value);

// The key that simple-list mode gives the line at `position` of its section:
// five digits with leading zeros, longer numbers as they are.
std::wstring SimpleListKey(size_t position);

// True for the entry that switches simple-list mode on: key "SimpleList",
// value "True" or "1" (letter case ignored).
bool IsSimpleListSwitch(std::wstring_view key, std::wstring_view value);

// The text the store writes for its lines: empty lines at the start and the
// end left out, each run of empty lines inside written as one, every line
// followed by carriage return and line feed.
std::wstring BuildSaveText(const std::vector<std::wstring>& lines);

}  // namespace tarn::cfg
