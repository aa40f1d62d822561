#pragma once
// The one comparison for names: keys, sections, columns, variables and file
// names are compared without regard to case with the platform's linguistic
// comparison for the system default locale. Sorted name arrays use the same
// order, so a lookup and the sort never disagree.

#include <string>
#include <string_view>
#include <vector>

namespace tarn {

// <0, 0 or >0 like wcscmp, from CompareStringW(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE).
int CompareNoCase(std::wstring_view a, std::wstring_view b);

inline bool EqualsNoCase(std::wstring_view a, std::wstring_view b)
{
    return CompareNoCase(a, b) == 0;
}

// True when `text` starts with `prefix`, compared as names are.
bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix);

// True when `text` ends with `suffix`, compared as names are.
bool EndsWithNoCase(std::wstring_view text, std::wstring_view suffix);

// Position of the first element not less than `name` in an array sorted with
// CompareNoCase; `found` tells whether that element equals `name`. Of several
// equal names the first is found.
size_t LowerBoundNoCase(const std::vector<std::wstring>& sorted, std::wstring_view name,
                        bool* found = nullptr);

}  // namespace tarn
