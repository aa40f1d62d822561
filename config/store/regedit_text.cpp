#include "config/store/regedit_text.h"

#include <vector>

#include "config/text/char_buffer.h"
#include "config/text/text_file.h"
#include "support/hex_digit.h"
#include "support/name_compare.h"

namespace {

std::wstring_view StripExportLine(std::wstring_view line)
{
    const size_t first = line.find_first_not_of(L" \r\n\t");
    if (first == std::wstring_view::npos) {
        return std::wstring_view();
    }
    line.remove_prefix(first);
    return line.substr(0, line.find_last_not_of(L" \n\t") + 1);
}

// "25,54,45,4d,50,25,00" as ANSI text up to its zero byte. Decoding stops at
// the first item that is not two hexadecimal digits.
std::wstring DecodeAnsiHex(std::wstring_view hex)
{
    std::string bytes;
    size_t at = 0;
    while (at < hex.size()) {
        const size_t comma = hex.find(L',', at);
        const std::wstring_view item =
            hex.substr(at, comma == std::wstring_view::npos ? std::wstring_view::npos : comma - at);
        const int high = item.size() == 2 ? tarn::HexDigitValue(item[0]) : -1;
        const int low = item.size() == 2 ? tarn::HexDigitValue(item[1]) : -1;
        if (high < 0 || low < 0 || (high == 0 && low == 0)) {
            break;
        }
        bytes.push_back(static_cast<char>(high * 16 + low));
        if (comma == std::wstring_view::npos) {
            break;
        }
        at = comma + 1;
    }
    CChar ansi;
    ansi.Assign(bytes.data(), static_cast<int>(bytes.size()));
    return ansi.ToWide();
}

std::wstring DoubleBackslashes(const std::wstring& text)
{
    std::wstring doubled;
    doubled.reserve(text.size());
    for (const wchar_t c : text) {
        doubled += c;
        if (c == L'\\') {
            doubled += L'\\';
        }
    }
    return doubled;
}

// A quoted value line whose data is "hex(2):" becomes "SZ_EX:" and the
// decoded text in quotes.
std::wstring ConvertExpandString(const std::wstring& line)
{
    static constexpr std::wstring_view kHexExpand = L"hex(2):";
    if (line.empty() || line.front() != L'"') {
        return line;
    }
    const size_t equals = line.find(L'=');
    if (equals == std::wstring::npos) {
        return line;
    }
    const std::wstring_view data = std::wstring_view(line).substr(equals + 1);
    if (!tarn::StartsWithNoCase(data, kHexExpand)) {
        return line;
    }
    return line.substr(0, equals + 1) + L"SZ_EX:\"" +
           DoubleBackslashes(DecodeAnsiHex(data.substr(kHexExpand.size()))) + L"\"";
}

}  // namespace

namespace tarn {

std::wstring ConvertRegeditText(std::wstring_view text)
{
    std::vector<std::wstring> lines;
    ReadArrayFromBuffer(text.data(), lines, static_cast<int64_t>(text.size()));

    std::vector<std::wstring> joined;
    bool continues = false;
    for (const std::wstring& raw : lines) {
        const std::wstring_view line = StripExportLine(raw);
        if (line.empty() || line.front() == L';') {
            continue;
        }
        if (continues) {
            joined.back() += line;
        } else {
            joined.emplace_back(line);
        }
        continues = joined.back().back() == L'\\';
        if (continues) {
            joined.back().pop_back();
            // A line that was only the backslash continues nothing visible.
            if (joined.back().empty()) {
                joined.pop_back();
                continues = false;
            }
        }
    }

    std::wstring converted;
    for (const std::wstring& line : joined) {
        converted += ConvertExpandString(line);
        converted += L"\r\n";
    }
    return converted;
}

}  // namespace tarn
