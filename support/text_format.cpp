#include "support/text_format.h"

#include <cstdarg>
#include <cwchar>
#include <vector>

namespace tarn {

std::wstring FormatTextV(const wchar_t* format, va_list args)
{
    std::vector<wchar_t> buffer(256);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        const int written = std::vswprintf(buffer.data(), buffer.size(), format, copy);
        va_end(copy);
        if (written >= 0 && static_cast<size_t>(written) < buffer.size()) {
            return std::wstring(buffer.data(), static_cast<size_t>(written));
        }
        // vswprintf reports a too-small buffer only as a negative result; grow and retry,
        // but give up on a format that fails for another reason.
        if (buffer.size() >= (1u << 24)) {
            return std::wstring();
        }
        buffer.resize(buffer.size() * 4);
    }
}

std::wstring FormatText(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    std::wstring text = FormatTextV(format, args);
    va_end(args);
    return text;
}

}  // namespace tarn
