#pragma once
// The names of cabinet entries: how stored bytes become a name and a name a
// path below the target folder. Which names may be written is the rule of
// support/safe_names.h. Free of platform headers, so that the fuzzed reading
// core shares them.

#include <string>
#include <string_view>

namespace tarn::cab {

// A stored name as a path below the target folder: slashes count as
// backslashes (the platform takes them so), and the one leading backslash
// that some makers write is dropped.
std::wstring NormalizeEntryName(std::wstring name);

// The stored bytes of a name as text: UTF-8 where the entry says so, else
// the code page 1252 in which the packing side writes names.
std::wstring DecodeName(std::string_view bytes, bool isUtf8);

}  // namespace tarn::cab
