#include "config/store/regedit_text.h"

#include <gtest/gtest.h>

#include "common/test_files.h"
#include "config/store/cfg_reader.h"

using tarn::test::ScratchFolder;
using tarn::test::WriteBytes;

namespace {

TEST(RegeditTextTest, ConvertsExportLines)
{
    struct Row {
        const wchar_t* name;
        std::wstring text;
        std::wstring converted;
    };
    const Row rows[] = {
        {L"plain", L"REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\X]\r\n\"Name\"=\"Value\"\r\n",
         L"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\X]\r\n\"Name\"=\"Value\"\r\n"},
        {L"comments and blanks", L"REGEDIT4\n; a comment\n   \n\t\"A\"=\"1\"   \n",
         L"REGEDIT4\r\n\"A\"=\"1\"\r\n"},
        {L"continuation", L"\"Bin\"=hex:01,02,\\\r\n  03,04,\\\r\n  05\r\n", L"\"Bin\"=hex:01,02,03,04,05\r\n"},
        {L"continuation over a dropped line", L"\"A\"=hex:01,\\\n\n; note\n  02\n", L"\"A\"=hex:01,02\r\n"},
        {L"unterminated continuation", L"\"A\"=\"b\\", L"\"A\"=\"b\r\n"},
        {L"only a backslash", L"\\\n\\\n\"A\"=\"1\"", L"\"A\"=\"1\"\r\n"},
        {L"expand string", L"\"Path\"=hex(2):25,54,45,4d,50,25,5c,78,00",
         L"\"Path\"=SZ_EX:\"%TEMP%\\\\x\"\r\n"},
        {L"expand string continued", L"\"P\"=HEX(2):43,3a,\\\n  5c,e4,00,41",
         L"\"P\"=SZ_EX:\"C:\\\\\u00e4\"\r\n"},
        {L"odd digit count", L"\"P\"=hex(2):4,41,00", L"\"P\"=SZ_EX:\"\"\r\n"},
        {L"no hexadecimal digit", L"\"P\"=hex(2):41,4g,42,00", L"\"P\"=SZ_EX:\"A\"\r\n"},
        {L"no terminating zero", L"\"P\"=hex(2):41,42", L"\"P\"=SZ_EX:\"AB\"\r\n"},
        {L"empty data", L"\"P\"=hex(2):", L"\"P\"=SZ_EX:\"\"\r\n"},
        {L"unquoted name", L"@=hex(2):41,00", L"@=hex(2):41,00\r\n"},
        {L"other hex type", L"\"P\"=hex(7):41,00", L"\"P\"=hex(7):41,00\r\n"},
        {L"nothing", L"", L""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.name);
        EXPECT_EQ(tarn::ConvertRegeditText(row.text), row.converted);
    }
}

TEST(RegeditTextTest, HugeValuesConvert)
{
    std::wstring text = L"\"Huge\"=hex(2):";
    for (int i = 0; i < 200000; ++i) {
        text += L"41,\\\r\n  ";
    }
    text += L"00\r\n";
    const std::wstring converted = tarn::ConvertRegeditText(text);
    EXPECT_EQ(converted, L"\"Huge\"=SZ_EX:\"" + std::wstring(200000, L'A') + L"\"\r\n");
}

TEST(RegeditTextTest, ExportFilesLoadAsSettings)
{
    ScratchFolder scratch;
    const std::wstring file = scratch / L"export.reg";
    ASSERT_TRUE(WriteBytes(file, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tarnix]\r\n"
                                 "\"Name\"=\"Value\"\r\n\"Path\"=hex(2):25,54,45,4d,50,25,00\r\n"
                                 "[HKEY_CURRENT_USER\\Software\\Tarnix\\Sub]\r\n\"X\"=dword:00000001\r\n"));
    CCfgReader store(file);
    ASSERT_EQ(store.IsInit(), 1);
    std::wstring value;
    EXPECT_EQ(store.GetValue(value, L"HKEY_CURRENT_USER\\Software\\Tarnix", L"\"Name\""), 1);
    EXPECT_EQ(value, L"\"Value\"");
    EXPECT_EQ(store.GetValue(value, L"HKEY_CURRENT_USER\\Software\\Tarnix", L"\"Path\""), 1);
    EXPECT_EQ(value, L"SZ_EX:\"%TEMP%\"");
    EXPECT_EQ(store.GetValue(value, L"HKEY_CURRENT_USER\\Software\\Tarnix\\Sub", L"\"X\""), 1);
    EXPECT_EQ(value, L"dword:00000001");
}

}  // namespace
