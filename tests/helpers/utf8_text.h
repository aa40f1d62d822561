#pragma once
// UTF-8 bytes of a wide text, for the files that the test helpers write and
// the Python tests read.

#include <windows.h>

#include <string>

namespace tarn::test {

inline std::string ToUtf8(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                          nullptr);
    return bytes;
}

}  // namespace tarn::test
