#include "cfg_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "config/store/cfg_syntax.h"
#include "support/name_compare.h"

namespace tarn::test {

std::string Utf16Bytes(const std::wstring& text, bool bigEndian)
{
    std::string bytes;
    for (wchar_t c : text) {
        const char low = static_cast<char>(c & 0xFF);
        const char high = static_cast<char>((c >> 8) & 0xFF);
        bytes.push_back(bigEndian ? high : low);
        bytes.push_back(bigEndian ? low : high);
    }
    return bytes;
}

void ExpectConsistentIndexes(CCfgReader& store)
{
    const std::vector<std::wstring>& lines = store.Get_m_Data();
    const std::vector<std::wstring>& names = store.Get_m_KeyStrings();
    const size_t count = names.size();
    ASSERT_EQ(store.Get_m_KeySortedIndex().size(), count);
    ASSERT_EQ(store.Get_m_KeyIndex().size(), count);
    ASSERT_EQ(store.Get_m_VariablesSortedIndexArrays().size(), count);
    ASSERT_EQ(store.Get_m_VariablesIndexArrays().size(), count);
    ASSERT_EQ(store.Get_m_VariablesStringArrays().size(), count);

    // Which section each line belongs to, by walking the lines as a reader would.
    std::vector<std::wstring> sectionOfLine(lines.size());
    std::vector<bool> isEntry(lines.size(), false);
    std::vector<std::pair<std::wstring, uint64_t>> headers;
    bool inSection = false;
    std::wstring current;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (cfg::IsHeaderLine(lines[i])) {
            current = cfg::ParseHeader(lines[i]).name;
            headers.emplace_back(current, i);
            inSection = true;
            continue;
        }
        std::wstring_view key;
        std::wstring_view value;
        if (inSection && !cfg::IsCommentLine(lines[i]) && cfg::SplitEntry(lines[i], key, value) && !key.empty()) {
            isEntry[i] = true;
            sectionOfLine[i] = current;
        }
    }

    std::vector<uint64_t> headersInFileOrder = store.Get_m_KeySortedIndex();
    std::sort(headersInFileOrder.begin(), headersInFileOrder.end());
    EXPECT_EQ(headersInFileOrder, store.Get_m_KeyIndex()) << "m_KeyIndex is not the headers in file order";

    // One section per distinct header name, stored with its first header.
    std::stable_sort(headers.begin(), headers.end(),
                     [](const auto& a, const auto& b) { return CompareNoCase(a.first, b.first) < 0; });
    std::vector<uint64_t> firstHeaders;
    for (size_t i = 0; i < headers.size(); ++i) {
        if (i == 0 || !EqualsNoCase(headers[i - 1].first, headers[i].first)) {
            firstHeaders.push_back(headers[i].second);
        }
    }
    std::sort(firstHeaders.begin(), firstHeaders.end());
    EXPECT_EQ(firstHeaders, headersInFileOrder) << "sections missing or not at their first header";

    std::vector<int> indexedTimes(lines.size(), 0);
    for (size_t s = 0; s < count; ++s) {
        if (s > 0) {
            ASSERT_LT(CompareNoCase(names[s - 1], names[s]), 0) << "section names out of order at " << s;
        }
        const uint64_t header = store.Get_m_KeySortedIndex()[s];
        ASSERT_LT(header, lines.size());
        ASSERT_TRUE(cfg::IsHeaderLine(lines[header])) << "header line " << header;
        ASSERT_TRUE(EqualsNoCase(cfg::ParseHeader(lines[header]).name, names[s]));

        const std::vector<std::wstring>& keys = store.Get_m_VariablesStringArrays()[s];
        const std::vector<uint64_t>& sorted = store.Get_m_VariablesSortedIndexArrays()[s];
        const std::vector<uint64_t>& fileOrder = store.Get_m_VariablesIndexArrays()[s];
        ASSERT_EQ(keys.size(), sorted.size());
        ASSERT_EQ(fileOrder.size(), sorted.size());
        ASSERT_TRUE(std::is_sorted(fileOrder.begin(), fileOrder.end())) << "file order of " << names[s].c_str();
        std::vector<uint64_t> sortedLines = sorted;
        std::sort(sortedLines.begin(), sortedLines.end());
        ASSERT_EQ(sortedLines, fileOrder);
        for (size_t k = 0; k < keys.size(); ++k) {
            const uint64_t line = sorted[k];
            ASSERT_LT(line, lines.size());
            ASSERT_TRUE(isEntry[line]) << "line " << line << " is no entry";
            EXPECT_TRUE(EqualsNoCase(sectionOfLine[line], names[s])) << "line " << line << " of another section";
            std::wstring_view key;
            std::wstring_view value;
            cfg::SplitEntry(lines[line], key, value);
            EXPECT_TRUE(EqualsNoCase(key, keys[k])) << "key at line " << line;
            ++indexedTimes[line];
            if (k > 0) {
                const int order = CompareNoCase(keys[k - 1], keys[k]);
                ASSERT_LE(order, 0) << "keys out of order in " << names[s].c_str();
                if (order == 0) {
                    ASSERT_LT(sorted[k - 1], line) << "equal keys not in file order";
                }
            }
        }
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(indexedTimes[i], isEntry[i] ? 1 : 0) << "line " << i << " indexed " << indexedTimes[i] << " times";
    }
}

std::vector<std::wstring> Snapshot(CCfgReader& store)
{
    std::vector<std::wstring> result;
    std::vector<std::wstring>* names = nullptr;
    if (!store.GetSortedKeyArray(names)) {
        return result;
    }
    for (const std::wstring& name : *names) {
        std::vector<std::wstring> keys;
        std::vector<std::wstring> values;
        store.GetSection(keys, values, name, 0);
        result.push_back(L"[" + name + L"]");
        for (size_t i = 0; i < keys.size(); ++i) {
            result.push_back(name + L"|" + keys[i] + L"=" + values[i]);
        }
    }
    return result;
}

}  // namespace tarn::test
