#pragma once
// The rules for the names of cabinet entries: how a stored name becomes a
// path below the target folder, and which names may not be written because
// they would leave that folder or name something other than a plain file.
// Both extraction paths keep the same rules; free of platform headers, so
// that the fuzzed reading core shares them.

#include <string>
#include <string_view>

namespace tarn::cab {

// A stored name as a path below the target folder: slashes count as
// backslashes (the platform takes them so), and the one leading backslash
// that some makers write is dropped.
std::wstring NormalizeEntryName(std::wstring name);

// True when a normalized name names a file below the folder it is appended
// to. Refused are: a further leading backslash (a root or a share), a
// trailing backslash or an empty component, a colon (drive or stream),
// components of dots and blanks only ("..", ". ."), components ending in a
// dot or blank (the platform trims them, so two names would meet), control
// and wildcard characters, and device names ("NUL", "com1.txt", "AUX .log").
bool IsContainedName(std::wstring_view name);

// The stored bytes of a name as text: UTF-8 where the entry says so, else
// the code page 1252 in which the packing side writes names.
std::wstring DecodeName(std::string_view bytes, bool isUtf8);

}  // namespace tarn::cab
