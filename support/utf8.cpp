#include "support/utf8.h"

#include <windows.h>

namespace tarn {

std::string ToUtf8(std::wstring_view text)
{
    if (text.empty()) {
        return std::string();
    }
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                             nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr,
                              nullptr);
    }
    return bytes;
}

bool FromUtf8(std::string_view text, std::wstring& wide)
{
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                             static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) {
        return false;
    }
    wide.assign(static_cast<size_t>(length), L'\0');
    return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                 wide.data(), length) == length;
}

}  // namespace tarn
