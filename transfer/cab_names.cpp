#include "transfer/cab_names.h"

#include <algorithm>
#include <array>

namespace tarn::cab {
namespace {

// Windows-1252's letters at 0x80..0x9F; the rest of the page is Latin-1.
constexpr std::array<wchar_t, 32> kCodePage1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Strict UTF-8: a malformed sequence yields U+FFFD, which the name rules pass
// but no file system confuses with a separator.
std::wstring DecodeUtf8(std::string_view bytes)
{
    std::wstring text;
    size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                              : lead >= 0xF0 && lead < 0xF5                  ? 4
                                                                             : 0;
        char32_t code = length == 1 ? lead : length == 2 ? lead & 0x1Fu : length == 3 ? lead & 0x0Fu : lead & 0x07u;
        bool valid = length != 0 && i + length <= bytes.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3Fu);
        }
        valid = valid && !(length == 3 && code < 0x800) && !(length == 4 && (code < 0x10000 || code > 0x10FFFF)) &&
                !(code >= 0xD800 && code <= 0xDFFF);
        if (!valid) {
            text += L'\uFFFD';
            ++i;
            continue;
        }
        if (code >= 0x10000 && sizeof(wchar_t) == 2) {
            text += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
            text += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            text += static_cast<wchar_t>(code);
        }
        i += length;
    }
    return text;
}

}  // namespace

std::wstring NormalizeEntryName(std::wstring name)
{
    std::replace(name.begin(), name.end(), L'/', L'\\');
    if (!name.empty() && name.front() == L'\\') {
        name.erase(0, 1);
    }
    return name;
}

std::wstring DecodeName(std::string_view bytes, bool isUtf8)
{
    if (isUtf8) {
        return DecodeUtf8(bytes);
    }
    std::wstring text;
    text.reserve(bytes.size());
    for (char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        text += value >= 0x80 && value < 0xA0 ? kCodePage1252High[value - 0x80] : static_cast<wchar_t>(value);
    }
    return text;
}

}  // namespace tarn::cab
