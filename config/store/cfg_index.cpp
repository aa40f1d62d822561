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
    struct Entry {
        std::wstring key;
        uint64_t line;
    };
    struct Header {
        std::wstring name;
        uint64_t line;
        std::vector<Entry> entries;
    };
    m_KeyStrings.clear();
    m_KeySortedIndex.clear();
    m_KeyIndex.clear();
    m_VariablesSortedIndexArrays.clear();
    m_VariablesIndexArrays.clear();
    m_VariablesStringArrays.clear();

    // First pass, in file order: every header with the entries below it.
    std::vector<Header> headers;
    bool simpleList = false;
    bool rewritten = false;
    size_t position = 0;  // line position within the section, for simple-list keys
    for (size_t i = 0; i < m_Data.size(); ++i) {
        std::wstring& line = m_Data[i];
        ++position;
        if (line.empty() || tarn::cfg::IsCommentLine(line)) {
            continue;
        }
        if (tarn::cfg::IsHeaderLine(line)) {
            tarn::cfg::ParsedHeader header = tarn::cfg::ParseHeader(line);
            line = std::move(header.line);
            headers.push_back({std::move(header.name), i, {}});
            position = 0;
            continue;
        }
        if (headers.empty()) {
            continue;  // entries before the first section are kept but never looked up
        }
        std::wstring_view keyView;
        std::wstring_view valueView;
        if (!tarn::cfg::SplitEntry(line, keyView, valueView)) {
            if (simpleList) {
                std::wstring key = tarn::cfg::SimpleListKey(position);
                line = key + L"=" + line;
                headers.back().entries.push_back({std::move(key), i});
                rewritten = true;
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
            rewritten = true;
        }
        headers.back().entries.push_back({std::move(key), i});
    }

    // Sections in name order. A name that repeats gathers the entries of all
    // its headers, in file order, under its first header.
    std::vector<size_t> order(headers.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return LessNoCase(headers[a].name, headers[b].name); });
    for (size_t i = 0; i < order.size(); ++i) {
        Header& header = headers[order[i]];
        if (i > 0 && tarn::EqualsNoCase(m_KeyStrings.back(), header.name)) {
            std::vector<uint64_t>& fileOrder = m_VariablesIndexArrays.back();
            for (const Entry& entry : header.entries) {
                fileOrder.push_back(entry.line);
            }
            continue;
        }
        m_KeyStrings.push_back(header.name);
        m_KeySortedIndex.push_back(header.line);
        std::vector<uint64_t> fileOrder;
        fileOrder.reserve(header.entries.size());
        for (const Entry& entry : header.entries) {
            fileOrder.push_back(entry.line);
        }
        m_VariablesIndexArrays.push_back(std::move(fileOrder));
    }
    m_KeyIndex = m_KeySortedIndex;
    std::sort(m_KeyIndex.begin(), m_KeyIndex.end());

    // Keys of each section in key order; equal keys stay in file order.
    std::vector<Entry> entries;
    size_t next = 0;
    for (size_t s = 0; s < m_KeyStrings.size(); ++s) {
        entries.clear();
        while (next < order.size() && tarn::EqualsNoCase(headers[order[next]].name, m_KeyStrings[s])) {
            for (Entry& entry : headers[order[next]].entries) {
                entries.push_back(std::move(entry));
            }
            ++next;
        }
        std::stable_sort(entries.begin(), entries.end(),
                         [](const Entry& a, const Entry& b) { return LessNoCase(a.key, b.key); });
        std::vector<uint64_t> sortedLines;
        std::vector<std::wstring> keys;
        sortedLines.reserve(entries.size());
        keys.reserve(entries.size());
        for (Entry& entry : entries) {
            sortedLines.push_back(entry.line);
            keys.push_back(std::move(entry.key));
        }
        m_VariablesSortedIndexArrays.push_back(std::move(sortedLines));
        m_VariablesStringArrays.push_back(std::move(keys));
    }

    if (rewritten) {
        // The rewritten simple-list lines count as loaded text, so an
        // unchanged store is still not written back.
        m_Original = tarn::cfg::BuildSaveText(m_Data);
    }
}
