#include "config/store/cfg_syntax.h"

#include <gtest/gtest.h>

namespace {

using tarn::cfg::BuildSaveText;
using tarn::cfg::ParseHeader;
using tarn::cfg::SplitEntry;

TEST(CfgSyntaxTest, HeadersKeepInnerSpacesAndGetTheirBracket)
{
    struct Row {
        const wchar_t* line;
        const wchar_t* name;
        const wchar_t* kept;
    };
    const Row rows[] = {
        {L"[Settings]", L"Settings", L"[Settings]"},
        {L"[ Settings ]", L"Settings", L"[Settings]"},
        {L"[\tMy Section\t]", L"My Section", L"[My Section]"},
        {L"[My Section]", L"My Section", L"[My Section]"},
        {L"[Settings] ; note", L"Settings", L"[Settings] ; note"},
        {L"[ a ]b]", L"a", L"[a]b]"},
        {L"[Open", L"Open", L"[Open]"},
        {L"[ Open  ", L"Open", L"[Open]"},
        {L"[", L"", L"[]"},
        {L"[]", L"", L"[]"},
        {L"[ ]", L"", L"[]"},
        {L"[a=b]", L"a=b", L"[a=b]"},
    };
    for (const Row& row : rows) {
        const tarn::cfg::ParsedHeader header = ParseHeader(row.line);
        EXPECT_EQ(header.name, row.name) << row.line;
        EXPECT_EQ(header.line, row.kept) << row.line;
    }
}

TEST(CfgSyntaxTest, EntriesSplitAtTheFirstEqualsSign)
{
    struct Row {
        const wchar_t* line;
        bool entry;
        const wchar_t* key;
        const wchar_t* value;
    };
    const Row rows[] = {
        {L"Ready = 1", true, L"Ready", L"1"},
        {L"Formula=a=b", true, L"Formula", L"a=b"},
        {L"Quoted=\" spaced \"", true, L"Quoted", L"\" spaced \""},
        {L"=value", true, L"", L"value"},
        {L"key=", true, L"key", L""},
        {L"\tkey\t=\tvalue\t", true, L"key", L"value"},
        {L"no equals sign", false, L"", L""},
        {L"", false, L"", L""},
    };
    for (const Row& row : rows) {
        std::wstring_view key;
        std::wstring_view value;
        ASSERT_EQ(SplitEntry(row.line, key, value), row.entry) << row.line;
        if (row.entry) {
            EXPECT_EQ(key, row.key) << row.line;
            EXPECT_EQ(value, row.value) << row.line;
        }
    }
}

TEST(CfgSyntaxTest, StripRemovesSpacesTabsAndLineFeedsOnly)
{
    EXPECT_EQ(tarn::cfg::Strip(L" \t\na b\n\t "), L"a b");
    EXPECT_EQ(tarn::cfg::Strip(L"\r x \r"), L"\r x \r");
    EXPECT_EQ(tarn::cfg::Strip(L"   "), L"");
}

TEST(CfgSyntaxTest, SimpleListKeysHaveFiveDigits)
{
    EXPECT_EQ(tarn::cfg::SimpleListKey(1), L"00001");
    EXPECT_EQ(tarn::cfg::SimpleListKey(9999), L"09999");
    EXPECT_EQ(tarn::cfg::SimpleListKey(123456), L"123456");
}

TEST(CfgSyntaxTest, SaveTextDropsOuterEmptyLinesAndCollapsesInnerRuns)
{
    struct Row {
        std::vector<std::wstring> lines;
        const wchar_t* text;
    };
    const Row rows[] = {
        {{}, L""},
        {{L"", L""}, L""},
        {{L"a"}, L"a\r\n"},
        {{L"", L"", L"[S]", L"a=1", L"", L""}, L"[S]\r\na=1\r\n"},
        {{L"[S]", L"", L"", L"", L"[T]"}, L"[S]\r\n\r\n[T]\r\n"},
        {{L"a", L"", L"b", L"", L"c"}, L"a\r\n\r\nb\r\n\r\nc\r\n"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(BuildSaveText(row.lines), row.text);
    }
}

}  // namespace
