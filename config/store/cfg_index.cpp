// Building and maintaining the sorted indexes of CCfgReader over its line
// list: the one-pass indexing after a load (with simple-list rewriting), and
// the line-number shifts that follow every inserted or removed line.

#include <algorithm>
#include <numeric>

#include "config/store/cfg_reader.h"
#include "config/store/cfg_syntax.h"
#include "support/name_compare.h"

namespace {

bool LessNoCase(std::wstring_view a, std::wstring_view b)
{
    return tarn::CompareNoCase(a, b) < 0;
}

template <class T>
void InsertAt(std::vector<T>& items, size_t at, T value)
{
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(at), std::move(value));
}

template <class T>
void EraseAt(std::vector<T>& items, size_t at)
{
    items.erase(items.begin() + static_cast<std::ptrdiff_t>(at));
}

// Adds `delta` (+1 or -1, as unsigned wrap-around) to every line number at or after `from`.
void Shift(std::vector<uint64_t>& lines, uint64_t from, uint64_t delta)
{
    for (uint64_t& line : lines) {
        if (line >= from) {
            line += delta;
        }
    }
}

// One entry line of a section: its key and its line number.
struct Entry {
    std::wstring key;
    uint64_t line;
};

// One section header line with the entries below it, in file order.
struct Header {
    std::wstring name;
    uint64_t line;
    std::vector<Entry> entries;
};

// What the first pass finds in the line list.
struct ScannedLines {
    std::vector<Header> headers;
    bool rewritten = false;  // simple-list lines were rewritten in place
};

// First pass, in file order: every header with the entries below it. Headers
// are normalised; in a simple-list section, the switch becomes "=0" and every
// line without '=' gets its position as key.
ScannedLines ScanLines(std::vector<std::wstring>& lines)
{
    ScannedLines scan;
    bool simpleList = false;
    size_t position = 0;  // line position within the section, for simple-list keys
    for (size_t i = 0; i < lines.size(); ++i) {
        std::wstring& line = lines[i];
        ++position;
        if (line.empty() || tarn::cfg::IsCommentLine(line)) {
            continue;
        }
        if (tarn::cfg::IsHeaderLine(line)) {
            tarn::cfg::ParsedHeader header = tarn::cfg::ParseHeader(line);
            line = std::move(header.line);
            scan.headers.push_back({std::move(header.name), i, {}});
            position = 0;
            continue;
        }
        if (scan.headers.empty()) {
            continue;  // entries before the first section are kept but never looked up
        }
        std::vector<Entry>& entries = scan.headers.back().entries;
        std::wstring_view keyView;
        std::wstring_view valueView;
        if (!tarn::cfg::SplitEntry(line, keyView, valueView)) {
            if (simpleList) {
                std::wstring key = tarn::cfg::SimpleListKey(position);
                line = key + L"=" + line;
                entries.push_back({std::move(key), i});
                scan.rewritten = true;
            }
            continue;
        }
        std::wstring key(keyView);
        if (key.empty()) {
            continue;
        }
        if (tarn::cfg::IsSimpleListSwitch(keyView, valueView)) {
            simpleList = true;
            position = 0;
            line = key + L"=0";
            scan.rewritten = true;
        }
        entries.push_back({std::move(key), i});
    }
    return scan;
}

// The headers' indexes in name order; headers of one name keep file order.
std::vector<size_t> HeadersByName(const std::vector<Header>& headers)
{
    std::vector<size_t> order(headers.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return LessNoCase(headers[a].name, headers[b].name); });
    return order;
}

// Section pass: one section per name, at its first header's line. A name that
// repeats gathers the entries of all its headers, in file order.
void IndexSections(const std::vector<Header>& headers, const std::vector<size_t>& byName,
                   std::vector<std::wstring>& names, std::vector<uint64_t>& headerLines,
                   std::vector<std::vector<uint64_t>>& entryLinesInFileOrder)
{
    for (const size_t h : byName) {
        const Header& header = headers[h];
        if (names.empty() || !tarn::EqualsNoCase(names.back(), header.name)) {
            names.push_back(header.name);
            headerLines.push_back(header.line);
            entryLinesInFileOrder.emplace_back().reserve(header.entries.size());
        }
        std::vector<uint64_t>& fileOrder = entryLinesInFileOrder.back();
        for (const Entry& entry : header.entries) {
            fileOrder.push_back(entry.line);
        }
    }
}

// Key pass: the keys of each section in key order, equal keys in file order.
// Takes the entries out of `headers`.
void IndexKeys(std::vector<Header>& headers, const std::vector<size_t>& byName,
               const std::vector<std::wstring>& names, std::vector<std::vector<uint64_t>>& sortedEntryLines,
               std::vector<std::vector<std::wstring>>& sortedKeys)
{
    std::vector<Entry> entries;
    size_t next = 0;
    for (const std::wstring& name : names) {
        entries.clear();
        for (; next < byName.size() && tarn::EqualsNoCase(headers[byName[next]].name, name); ++next) {
            for (Entry& entry : headers[byName[next]].entries) {
                entries.push_back(std::move(entry));
            }
        }
        std::stable_sort(entries.begin(), entries.end(),
                         [](const Entry& a, const Entry& b) { return LessNoCase(a.key, b.key); });
        std::vector<uint64_t>& lines = sortedEntryLines.emplace_back();
        std::vector<std::wstring>& keys = sortedKeys.emplace_back();
        lines.reserve(entries.size());
        keys.reserve(entries.size());
        for (Entry& entry : entries) {
            lines.push_back(entry.line);
            keys.push_back(std::move(entry.key));
        }
    }
}

}  // namespace

size_t CCfgReader::FindSection(std::wstring_view section) const
{
    bool found = false;
    const size_t at = tarn::LowerBoundNoCase(m_KeyStrings, section, &found);
    return found ? at : kNotFound;
}

size_t CCfgReader::FindKey(size_t s, std::wstring_view key) const
{
    bool found = false;
    const size_t at = tarn::LowerBoundNoCase(m_VariablesStringArrays[s], key, &found);
    return found ? at : kNotFound;
}

size_t CCfgReader::AddSection(const std::wstring& name, uint64_t headerLine)
{
    const size_t at = tarn::LowerBoundNoCase(m_KeyStrings, name);
    InsertAt(m_KeyStrings, at, name);
    InsertAt(m_KeySortedIndex, at, headerLine);
    InsertAt(m_VariablesSortedIndexArrays, at, std::vector<uint64_t>());
    InsertAt(m_VariablesIndexArrays, at, std::vector<uint64_t>());
    InsertAt(m_VariablesStringArrays, at, std::vector<std::wstring>());
    m_KeyIndex.insert(std::upper_bound(m_KeyIndex.begin(), m_KeyIndex.end(), headerLine), headerLine);
    return at;
}

void CCfgReader::InsertLine(size_t at, std::wstring line)
{
    InsertAt(m_Data, at, std::move(line));
    Shift(m_KeySortedIndex, at, 1);
    Shift(m_KeyIndex, at, 1);
    for (size_t s = 0; s < m_KeyStrings.size(); ++s) {
        Shift(m_VariablesSortedIndexArrays[s], at, 1);
        Shift(m_VariablesIndexArrays[s], at, 1);
    }
}

void CCfgReader::RemoveLine(size_t at)
{
    EraseAt(m_Data, at);
    const uint64_t minusOne = static_cast<uint64_t>(-1);
    Shift(m_KeySortedIndex, at + 1, minusOne);
    Shift(m_KeyIndex, at + 1, minusOne);
    for (size_t s = 0; s < m_KeyStrings.size(); ++s) {
        Shift(m_VariablesSortedIndexArrays[s], at + 1, minusOne);
        Shift(m_VariablesIndexArrays[s], at + 1, minusOne);
    }
}

void CCfgReader::IndexLines()
{
    m_KeyStrings.clear();
    m_KeySortedIndex.clear();
    m_KeyIndex.clear();
    m_VariablesSortedIndexArrays.clear();
    m_VariablesIndexArrays.clear();
    m_VariablesStringArrays.clear();

    ScannedLines scan = ScanLines(m_Data);
    const std::vector<size_t> byName = HeadersByName(scan.headers);
    IndexSections(scan.headers, byName, m_KeyStrings, m_KeySortedIndex, m_VariablesIndexArrays);
    m_KeyIndex = m_KeySortedIndex;
    std::sort(m_KeyIndex.begin(), m_KeyIndex.end());
    IndexKeys(scan.headers, byName, m_KeyStrings, m_VariablesSortedIndexArrays, m_VariablesStringArrays);

    if (scan.rewritten) {
        // The rewritten simple-list lines count as loaded text, so an
        // unchanged store is still not written back.
        m_Original = tarn::cfg::BuildSaveText(m_Data);
    }
}
