#include "support/safe_names.h"

namespace {

wchar_t UpperAscii(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
}

bool EqualsAsciiNoCase(std::wstring_view text, std::wstring_view upper)
{
    if (text.size() != upper.size()) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        if (UpperAscii(text[i]) != upper[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

namespace tarn {

bool IsReservedDeviceName(std::wstring_view component)
{
    std::wstring_view base = component.substr(0, component.find(L'.'));
    while (!base.empty() && base.back() == L' ') {
        base.remove_suffix(1);
    }
    for (std::wstring_view device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
        if (EqualsAsciiNoCase(base, device)) {
            return true;
        }
    }
    if (base.size() == 4 && (EqualsAsciiNoCase(base.substr(0, 3), L"COM") || EqualsAsciiNoCase(base.substr(0, 3), L"LPT"))) {
        const wchar_t digit = base[3];
        // Superscript one to three count as digits there too.
        return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
    }
    return false;
}

bool IsSafeNameComponent(std::wstring_view component)
{
    return !component.empty() && component.back() != L'.' && component.back() != L' ' &&
           !IsReservedDeviceName(component);
}

bool IsContainedName(std::wstring_view name)
{
    if (name.empty() || name.front() == L'\\' || name.back() == L'\\') {
        return false;
    }
    for (const wchar_t c : name) {
        if (c < L' ' || c == L':' || c == L'*' || c == L'?' || c == L'"' || c == L'<' || c == L'>' || c == L'|') {
            return false;
        }
    }
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find(L'\\', start);
        if (end == std::wstring_view::npos) {
            end = name.size();
        }
        if (!IsSafeNameComponent(name.substr(start, end - start))) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

}  // namespace tarn
