#pragma once
// printf-style formatting into a std::wstring. Use %ls for wide strings: it
// means the same with MSVC and with MinGW's C99 printf.

#include <string>

namespace tarn {

std::wstring FormatText(const wchar_t* format, ...);

}  // namespace tarn
