#include "transfer/cab_names.h"
#include "support/safe_names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct NameCase {
    const wchar_t* name;  // normalized
    bool contained;
};

// The rules both extraction paths apply to a cabinet entry's name.
TEST(CabNamesTest, ContainedNames)
{
    const NameCase cases[] = {
        {L"a.txt", true},
        {L"sub\\deeper\\a.txt", true},
        {L"a..b.txt", true},
        {L"COM10", true},
        {L"Auxiliary.txt", true},
        {L"nul_not.txt", true},
        {L"\u00DCbersicht.txt", true},
        {L"", false},
        {L"\\root.txt", false},
        {L"sub\\", false},
        {L"a\\\\b.txt", false},
        {L"..\\up.txt", false},
        {L"sub\\.\\a.txt", false},
        {L". .\\a.txt", false},
        {L"C:a.txt", false},
        {L"a.txt:stream", false},
        {L"trailing.\\a.txt", false},
        {L"a.txt.", false},
        {L"a.txt ", false},
        {L"NUL", false},
        {L"sub\\nul.txt", false},
        {L"con\\a.txt", false},
        {L"Com1.dat", false},
        {L"lpt9", false},
        {L"LPT\u00B9.txt", false},
        {L"AUX .log", false},
        {L"CONIN$", false},
        {L"wild*.txt", false},
        {L"quest?.txt", false},
        {L"pipe|.txt", false},
        {L"tab\t.txt", false},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(tarn::IsContainedName(c.name), c.contained) << c.name;
    }
}

TEST(CabNamesTest, NormalizesSeparatorsAndOneLeadingBackslash)
{
    EXPECT_EQ(tarn::cab::NormalizeEntryName(L"/a/b.txt"), L"a\\b.txt");
    EXPECT_EQ(tarn::cab::NormalizeEntryName(L"\\\\share\\x"), L"\\share\\x");
    EXPECT_EQ(tarn::cab::NormalizeEntryName(L"plain"), L"plain");
}

TEST(CabNamesTest, DecodesCodePage1252AndUtf8)
{
    EXPECT_EQ(tarn::cab::DecodeName("Gr\xF6\xDF" "e \x80", false), L"Gr\u00F6\u00DFe \u20AC");
    EXPECT_EQ(tarn::cab::DecodeName("\xC3\xBC" "ber", true), L"\u00FCber");
    // Malformed sequences (cut off, overlong, a surrogate) become U+FFFD, byte by byte.
    EXPECT_EQ(tarn::cab::DecodeName("a\xC3", true), L"a\uFFFD");
    EXPECT_EQ(tarn::cab::DecodeName("\xC0\xAF", true), L"\uFFFD\uFFFD");
    EXPECT_EQ(tarn::cab::DecodeName("\xED\xA0\x80", true), L"\uFFFD\uFFFD\uFFFD");
}

}  // namespace
