#pragma once
// Hexadecimal digits in text, as registry data and export files write bytes.

namespace tarn {

// The value of one hexadecimal digit in either letter case, or -1.
constexpr int HexDigitValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

}  // namespace tarn
