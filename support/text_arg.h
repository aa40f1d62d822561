#pragma once
// A borrowed text argument of exported functions. It takes a std::wstring, a
// std::wstring_view or a zero-terminated pointer, and reads a null pointer as
// an empty text: host add-ons call the exported functions with null for "none".

#include <string>
#include <string_view>

namespace tarn {

class TextArg : public std::wstring_view {
public:
    TextArg(const wchar_t* text) noexcept  // NOLINT(google-explicit-constructor): stands in for a pointer
        : std::wstring_view(text != nullptr ? std::wstring_view(text) : std::wstring_view())
    {
    }
    TextArg(std::wstring_view text) noexcept : std::wstring_view(text) {}  // NOLINT(google-explicit-constructor)
    TextArg(const std::wstring& text) noexcept : std::wstring_view(text) {}  // NOLINT(google-explicit-constructor)
};

}  // namespace tarn
