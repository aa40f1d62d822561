#include "support/text_format.h"

#include <cstdarg>
#include <cwchar>
#include <vector>

namespace tarn {

std::wstring FormatText(const wchar_t* format, ...)
{
    std::vector<wchar_t> buffer(256);
    for (;;) {
        va_list args;
        va_start(args, format);
        const int written = std::vswprintf(buffer.data(), buffer.size(), format, args);
        va_end(args);
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

}  // namespace tarn
