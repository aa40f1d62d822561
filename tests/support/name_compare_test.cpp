#include "support/name_compare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

int Sign(int value)
{
    return (value > 0) - (value < 0);
}

// Only what the platform's linguistic comparison gives alike on Windows and
// under Wine: letter case, German umlauts as accented letters, plain ordering.
// (Sharp s against "ss" and ignorable characters differ between the two.)
TEST(CompareNoCase, Table)
{
    struct Row {
        const wchar_t* a;
        const wchar_t* b;
        int sign;
    };
    const Row rows[] = {
        {L"Settings", L"SETTINGS", 0},
        {L"\u00c4rger", L"\u00e4RGER", 0},          // Ärger / äRGER
        {L"\u00d6l \u00dcbel", L"\u00f6L \u00fcBEL", 0},
        {L"stra\u00dfe", L"STRA\u00dfE", 0},        // ß against itself, in any case around it
        {L"a", L"B", -1},
        {L"Apfel", L"\u00c4pfel", -1},              // the accent decides after the letters
        {L"\u00c4pfel", L"Birne", -1},              // Ä sorts with A, not after Z
        {L"\u00e4", L"a", 1},
        {L"Zebra", L"\u00e4pfel", 1},
        {L"file10", L"file9", -1},                  // digits are characters, not numbers
        {L"", L"a", -1},
        {L"abc", L"ABCD", -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.a) + L" / " + row.b));
        EXPECT_EQ(Sign(tarn::CompareNoCase(row.a, row.b)), row.sign);
        EXPECT_EQ(Sign(tarn::CompareNoCase(row.b, row.a)), -row.sign);
        EXPECT_EQ(tarn::EqualsNoCase(row.a, row.b), row.sign == 0);
    }
    EXPECT_TRUE(tarn::StartsWithNoCase(L"\u00c4rgerlich", L"\u00e4RGER"));
    EXPECT_FALSE(tarn::StartsWithNoCase(L"Arger", L"\u00c4rger"));
    EXPECT_TRUE(tarn::EndsWithNoCase(L"Tarn_Gridwell_2023.EXE", L".exe"));
    EXPECT_FALSE(tarn::EndsWithNoCase(L"exe", L".exe"));
}

// An array sorted with the comparison is searched with the same order: every
// element is found at its first equal, and a missing name lands where the
// sort would put it.
TEST(LowerBoundNoCase, AgreesWithTheSort)
{
    std::vector<std::wstring> names = {L"Zebra", L"birne", L"\u00c4pfel", L"Apfel", L"APFEL", L"file9", L"file10"};
    std::stable_sort(names.begin(), names.end(),
                     [](const std::wstring& a, const std::wstring& b) { return tarn::CompareNoCase(a, b) < 0; });
    for (size_t i = 0; i < names.size(); ++i) {
        bool found = false;
        const size_t at = tarn::LowerBoundNoCase(names, names[i], &found);
        EXPECT_TRUE(found);
        EXPECT_TRUE(tarn::EqualsNoCase(names[at], names[i]));
        EXPECT_TRUE(at == 0 || !tarn::EqualsNoCase(names[at - 1], names[i]));
    }
    bool found = true;
    const size_t at = tarn::LowerBoundNoCase(names, L"BIRNEN", &found);
    EXPECT_FALSE(found);
    ASSERT_LT(at, names.size());
    EXPECT_EQ(names[at - 1], L"birne");
    EXPECT_EQ(tarn::LowerBoundNoCase(names, L"apfel"), 0u);
}

}  // namespace
