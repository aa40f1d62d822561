#include "support/name_compare.h"

#include <windows.h>

#include <climits>

namespace tarn {

namespace {

int ClampLength(size_t length)
{
    return length > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

}  // namespace

int CompareNoCase(std::wstring_view a, std::wstring_view b)
{
    const int result = ::CompareStringW(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a.data(),
                                        ClampLength(a.size()), b.data(), ClampLength(b.size()));
    if (result == 0) {
        // Only invalid arguments fail; fall back to a plain order so sorting stays total.
        return a.compare(b);
    }
    return result - CSTR_EQUAL;
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix)
{
    return text.size() >= prefix.size() && CompareNoCase(text.substr(0, prefix.size()), prefix) == 0;
}

bool EndsWithNoCase(std::wstring_view text, std::wstring_view suffix)
{
    return text.size() >= suffix.size() &&
           CompareNoCase(text.substr(text.size() - suffix.size()), suffix) == 0;
}

size_t LowerBoundNoCase(const std::vector<std::wstring>& sorted, std::wstring_view name, bool* found)
{
    size_t low = 0;
    size_t high = sorted.size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (CompareNoCase(sorted[middle], name) < 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (found) {
        *found = low < sorted.size() && CompareNoCase(sorted[low], name) == 0;
    }
    return low;
}

}  // namespace tarn
