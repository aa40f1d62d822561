#pragma once
// printf-style formatting into a std::wstring. Use %ls for wide strings: it
// means the same with MSVC and with MinGW's C99 printf.

#include <cstdarg>
#include <string>

namespace tarn {

std::wstring FormatText(const wchar_t* format, ...);

// The same with the arguments already gathered; `args` is left as it came.
// Empty when the format cannot be filled.
std::wstring FormatTextV(const wchar_t* format, va_list args);

}  // namespace tarn
