#include "config/store/cfg_syntax.h"

#include "support/name_compare.h"

namespace tarn::cfg {

namespace {

bool IsStripped(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\n';
}

}  // namespace

std::wstring_view Strip(std::wstring_view text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsStripped(text[begin])) {
        ++begin;
    }
    while (end > begin && IsStripped(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

bool IsCommentLine(std::wstring_view line)
{
    return !line.empty() && (line.front() == L';' || line.front() == L'/' || line.front() == L':');
}

ParsedHeader ParseHeader(std::wstring_view line)
{
    ParsedHeader header;
    const std::wstring_view inner = line.substr(1);
    const size_t close = inner.find(L']');
    if (close == std::wstring_view::npos) {
        const std::wstring_view name = Strip(inner);
        header.name = name;
        header.line = name.size() < inner.size() ? L"[" + header.name + L"]" : std::wstring(line) + L"]";
        return header;
    }
    const std::wstring_view raw = inner.substr(0, close);
    const std::wstring_view name = Strip(raw);
    header.name = name;
    if (name.size() < raw.size()) {
        header.line = L"[" + header.name + std::wstring(inner.substr(close));
    } else {
        header.line = line;
    }
    return header;
}

bool SplitEntry(std::wstring_view line, std::wstring_view& key, std::wstring_view& value)
{
    const size_t equals = line.find(L'=');
    if (equals == std::wstring_view::npos) {
        return false;
    }
    key = Strip(line.substr(0, equals));
    value = Strip(line.substr(equals + 1));
    return true;
}

std::wstring SimpleListKey(size_t position)
{
    std::wstring digits = std::to_wstring(position);
    if (digits.size() < 5) {
        digits.insert(0, 5 - digits.size(), L'0');
    }
    return digits;
}

bool IsSimpleListSwitch(std::wstring_view key, std::wstring_view value)
{
    return EqualsNoCase(key, L"SimpleList") && (EqualsNoCase(value, L"True") || value == L"1");
}

std::wstring BuildSaveText(const std::vector<std::wstring>& lines)
{
    size_t total = 0;
    for (const std::wstring& line : lines) {
        total += line.size() + 2;
    }
    std::wstring text;
    text.reserve(total);
    bool pendingEmpty = false;
    for (const std::wstring& line : lines) {
        if (line.empty()) {
            // Written only when a non-empty line follows, so runs shrink to one
            // and trailing empty lines vanish.
            pendingEmpty = !text.empty();
            continue;
        }
        if (pendingEmpty) {
            text += L"\r\n";
            pendingEmpty = false;
        }
        text += line;
        text += L"\r\n";
    }
    return text;
}

}  // namespace tarn::cfg
