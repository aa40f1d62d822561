#include "support/environment.h"

#include <windows.h>

namespace tarn {

bool GetEnvironmentText(const wchar_t* name, std::wstring& value)
{
    value.clear();
    if (name == nullptr || name[0] == L'\0') {
        return false;
    }
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD length = ::GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return false;
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            value = std::move(buffer);
            return true;
        }
        // Too small: `length` is the size needed, terminator included.
        buffer.assign(length, L'\0');
    }
    return false;
}

bool ExpandEnvironmentText(const std::wstring& text, std::wstring& expanded)
{
    expanded.clear();
    std::wstring buffer(text.size() + MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD needed =
            ::ExpandEnvironmentStringsW(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (needed == 0) {
            return false;
        }
        if (needed <= buffer.size()) {
            buffer.resize(needed - 1);
            expanded = std::move(buffer);
            return true;
        }
        buffer.assign(needed, L'\0');
    }
    return false;
}

}  // namespace tarn
