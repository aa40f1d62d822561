#include "config/text/text_file.h"

#include <gtest/gtest.h>

#include "common/test_files.h"
#include "support/unique_handle.h"

using tarn::test::PathExists;
using tarn::test::ReadBytes;
using tarn::test::ScratchFolder;
using tarn::test::WriteBytes;

namespace {

using Lines = std::vector<std::wstring>;

std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (int value : values) {
        bytes.push_back(static_cast<char>(value));
    }
    return bytes;
}

// UTF-16 little-endian bytes of a text, without mark.
std::string Utf16Le(const std::wstring& text)
{
    std::string bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    return bytes;
}

std::string Utf16Be(const std::wstring& text)
{
    std::string bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
        bytes.push_back(static_cast<char>(c & 0xFF));
    }
    return bytes;
}

class TextFileTest : public ::testing::Test {
protected:
    ScratchFolder scratch;
    std::wstring file = scratch / L"text.txt";

    void Put(const std::string& bytes) { ASSERT_TRUE(WriteBytes(file, bytes)); }
};

// ---------------------------------------------------------------- reading

TEST_F(TextFileTest, ReadArraySplitsLinesAndDetectsEncoding)
{
    struct Row {
        const char* name;
        std::string bytes;
        Lines lines;
        TextFileType::Type type;
    };
    const Row rows[] = {
        {"final break gives a final empty line", "a\r\nb\r\n", {L"a", L"b", L""}, TextFileType::Ansi},
        {"mixed breaks", "a\nb\r\nc", {L"a", L"b", L"c"}, TextFileType::Ansi},
        {"lone CR, then CR LF", "\r\r\n", {L"", L"", L""}, TextFileType::Ansi},
        {"LF CR is two breaks", "a\n\rb", {L"a", L"", L"b"}, TextFileType::Ansi},
        {"lone CR at the end", "a\r", {L"a", L""}, TextFileType::Ansi},
        {"only a break", "\n", {L"", L""}, TextFileType::Ansi},
        {"ANSI 1252 high bytes", Bytes({'a', 0xE4, 0x80, 0x9F}), {L"a\u00E4\u20AC\u0178"}, TextFileType::Ansi},
        {"UTF-16 LE mark only", "\xFF\xFE", {L""}, TextFileType::Unicode},
        {"UTF-16 BE mark only", "\xFE\xFF", {L""}, TextFileType::UnicodeBigEndian},
        {"UTF-8 mark only", "\xEF\xBB\xBF", {L""}, TextFileType::Utf8},
        {"UTF-16 LE lines", "\xFF\xFE" + Utf16Le(L"a\u00E4\r\nb\u4E2D"), {L"a\u00E4", L"b\u4E2D"}, TextFileType::Unicode},
        {"UTF-16 BE in machine order", "\xFE\xFF" + Utf16Be(L"\u00C4x\u4E2D\nz"), {L"\u00C4x\u4E2D", L"z"},
         TextFileType::UnicodeBigEndian},
        {"odd-length UTF-16 ignores the last byte", "\xFF\xFE" + Utf16Le(L"AB") + "C", {L"AB"}, TextFileType::Unicode},
        {"odd-length UTF-16 of one byte after the mark", "\xFF\xFE" "A", {L""}, TextFileType::Unicode},
        {"UTF-8 with mark", Bytes({0xEF, 0xBB, 0xBF, 'x', 0xC3, 0xA4, '\n', 0xF0, 0x9D, 0x84, 0x9E}),
         {L"x\u00E4", L"\U0001D11E"}, TextFileType::Utf8},
        {"invalid UTF-8 becomes U+FFFD", Bytes({0xEF, 0xBB, 0xBF, 'a', 0xFF, 'b'}), {L"a\uFFFDb"}, TextFileType::Utf8},
        {"<?XML in capitals is UTF-8", "<?XML v=\"\xC3\xA4\"?>\r\n<a/>", {L"<?XML v=\"\u00E4\"?>", L"<a/>"},
         TextFileType::Utf8NoBom},
        {"<?xml alone", "<?xml", {L"<?xml"}, TextFileType::Utf8NoBom},
        {"four letters of <?xml are ANSI", "<?xm", {L"<?xm"}, TextFileType::Ansi},
        {"an HTML tag is ANSI", "<html>\xE4", {L"<html>\u00E4"}, TextFileType::Ansi},
        {"a blank before <?xml is ANSI", " <?xml \xC3\xA4", {L" <?xml \u00C3\u00A4"}, TextFileType::Ansi},
        {"the text ends at a zero", std::string("ab\0cd\r\nx", 8), {L"ab"}, TextFileType::Ansi},
        {"a leading zero gives one empty line", std::string("\0a\nb", 4), {L""}, TextFileType::Ansi},
        {"UTF-16 zero character ends the text", "\xFF\xFE" + Utf16Le(std::wstring(L"a\nb\0c\n", 6)), {L"a", L"b"},
         TextFileType::Unicode},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Put(row.bytes);
        Lines lines{L"kept"};
        TextFileType::Type type = TextFileType::Reserved;
        ASSERT_EQ(ReadArray(file.c_str(), lines, type), 1);
        Lines expected{L"kept"};
        expected.insert(expected.end(), row.lines.begin(), row.lines.end());
        EXPECT_EQ(lines, expected);
        EXPECT_EQ(type, row.type);
    }
}

TEST_F(TextFileTest, ReadArrayFailuresLeaveTheArrayAndReportTheStage)
{
    Put("");
    struct Row {
        const char* name;
        const wchar_t* fileName;
        TextFileType::Type type;
    };
    const std::wstring missing = scratch / L"missing.txt";
    const Row rows[] = {
        {"empty file", file.c_str(), TextFileType::Undetermined},
        {"missing file", missing.c_str(), TextFileType::Ansi},
        {"a folder", scratch.Path().c_str(), TextFileType::Ansi},
        {"empty name", L"", TextFileType::Ansi},
        {"null name", nullptr, TextFileType::Ansi},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Lines lines{L"kept"};
        TextFileType::Type type = TextFileType::Utf7;
        EXPECT_EQ(ReadArray(row.fileName, lines, type), 0);
        EXPECT_EQ(type, row.type);
        EXPECT_EQ(lines, Lines{L"kept"});
        EXPECT_EQ(ReadArray(row.fileName, lines), 0);
        EXPECT_EQ(lines, Lines{L"kept"});
    }
}

TEST(ReadArrayFromBufferTest, SplitsWithoutAFinalEmptyLine)
{
    struct Row {
        const char* name;
        std::wstring text;
        int64_t length;
        int result;
        Lines lines;
    };
    const Row rows[] = {
        {"final CR LF gives no empty line", L"a\r\nb\r\n", -1, 1, {L"a", L"b"}},
        {"explicit length", L"a\r\nb\r\n", 6, 1, {L"a", L"b"}},
        {"length inside a CR LF pair", L"a\r\nb", 2, 1, {L"a"}},
        {"length cuts a line", L"abc\ndef", 6, 1, {L"abc", L"de"}},
        {"two breaks give one empty line", L"a\n\nb", -1, 1, {L"a", L"", L"b"}},
        {"lone CR then CR LF", L"\r\r\n", -1, 1, {L"", L""}},
        {"mixed breaks", L"a\nb\r\nc", -1, 1, {L"a", L"b", L"c"}},
        {"a zero inside the length stays", std::wstring(L"a\0b\nc", 5), 5, 1, {std::wstring(L"a\0b", 3), L"c"}},
        {"own length stops at a zero", std::wstring(L"a\nb\0c", 5), -1, 1, {L"a", L"b"}},
        {"length 0", L"abc", 0, 0, {}},
        {"empty text", L"", -1, 0, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Lines lines{L"dropped"};
        EXPECT_EQ(ReadArrayFromBuffer(row.text.c_str(), lines, row.length), row.result);
        EXPECT_EQ(lines, row.lines);
    }
    Lines lines{L"dropped"};
    EXPECT_EQ(ReadArrayFromBuffer(nullptr, lines, 5), 0);
    EXPECT_TRUE(lines.empty());
}

TEST_F(TextFileTest, ReadBufferWithLengthKeepsZerosWithoutCutsAtTheFirst)
{
    Put(std::string("ab\0c", 4));
    std::wstring text;
    wchar_t* start = nullptr;
    uint32_t length = 99;
    TextFileType::Type type = TextFileType::Reserved;
    ASSERT_EQ(ReadBuffer(file.c_str(), text, &start, &length, type), 1);
    EXPECT_EQ(type, TextFileType::Ansi);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(start, text.data());
    EXPECT_EQ(std::wstring(start, length), std::wstring(L"ab\0c", 4));

    ASSERT_EQ(ReadBuffer(file.c_str(), text, &start, nullptr, type), 1);
    EXPECT_EQ(text, L"ab");
    EXPECT_EQ(start, text.data());
    EXPECT_EQ(start[2], L'\0');
}

TEST_F(TextFileTest, ReadBufferFailuresGiveAnEmptyText)
{
    Put("");
    std::wstring text = L"old";
    wchar_t* start = nullptr;
    uint32_t length = 99;
    TextFileType::Type type = TextFileType::Utf8;
    EXPECT_EQ(ReadBuffer(file.c_str(), text, &start, &length, type), 0);
    EXPECT_EQ(type, TextFileType::Undetermined);
    EXPECT_EQ(text, L"");
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(start, text.data());

    const std::wstring missing = scratch / L"missing.txt";
    text = L"old";
    EXPECT_EQ(ReadBuffer(missing.c_str(), text, nullptr, nullptr, type), 0);
    EXPECT_EQ(type, TextFileType::Ansi);
    EXPECT_EQ(text, L"");
}

TEST_F(TextFileTest, AnsiReadBufferDoesNotDetect)
{
    struct Row {
        const char* name;
        std::string bytes;
        int result;
        std::wstring text;
    };
    const Row rows[] = {
        {"a UTF-16 mark is two ANSI characters", "\xFF\xFE" "a", 1, L"\u00FF\u00FEa"},
        {"<?xml is not UTF-8 here", "<?xml \xC3\xA4", 1, L"<?xml \u00C3\u00A4"},
        {"an empty file is an empty text", "", 1, L""},
        {"zero cut", std::string("a\0b", 3), 1, L"a"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Put(row.bytes);
        std::wstring text = L"old";
        EXPECT_EQ(ReadBuffer(file.c_str(), text), row.result);
        EXPECT_EQ(text, row.text);
    }
    std::wstring text = L"old";
    uint32_t length = 7;
    EXPECT_EQ(ReadBuffer((scratch / L"missing").c_str(), text, nullptr, &length), 0);
    EXPECT_EQ(text, L"");
    EXPECT_EQ(length, 0u);
}

TEST_F(TextFileTest, RawReadersReturnTheBytes)
{
    struct Row {
        const char* name;
        bool exists;
        std::string bytes;
        int readResult;
        int readSize;  // CChar size after the raw ReadBuffer
        int fileResult;
    };
    const Row rows[] = {
        {"bytes with zeros", true, std::string("a\0\xFF\r\n", 5), 1, 6, 1},
        {"empty file", true, "", 1, 1, 0},
        {"missing file", false, "", 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring path = scratch / (row.exists ? L"raw.bin" : L"none.bin");
        if (row.exists) {
            ASSERT_TRUE(WriteBytes(path, row.bytes));
        }
        CChar buffer("stale text");
        uint32_t length = 99;
        EXPECT_EQ(ReadBuffer(path.c_str(), buffer, length), row.readResult);
        EXPECT_EQ(buffer.GetSize(), row.readSize);
        EXPECT_EQ(length, row.readResult ? row.bytes.size() : 0u);
        if (row.readResult) {
            EXPECT_EQ(std::string(buffer.Data(), length), row.bytes);
            EXPECT_EQ(buffer.Data()[length], '\0');
        }

        CChar whole("stale text");
        EXPECT_EQ(GetFileToBuffer(path.c_str(), whole), row.fileResult);
        EXPECT_EQ(whole.GetSize(), row.fileResult ? static_cast<int>(row.bytes.size()) : 0);
        if (row.fileResult) {
            EXPECT_EQ(std::string(whole.Data(), row.bytes.size()), row.bytes);
        }
    }
    CChar buffer;
    uint32_t length = 0;
    EXPECT_EQ(ReadBuffer(static_cast<const wchar_t*>(nullptr), buffer, length), 0);
    EXPECT_EQ(GetFileToBuffer(L"", buffer), 0);
}

// ---------------------------------------------------------------- writing

TEST_F(TextFileTest, TypedWriteBufferWritesTheEncodingsBytes)
{
    struct Row {
        const char* name;
        std::wstring text;
        TextFileType::Type type;
        std::string bytes;
        TextFileType::Type typeAfter;
    };
    const Row rows[] = {
        {"x as UTF-16 LE", L"x", TextFileType::Unicode, Bytes({0xFF, 0xFE, 0x78, 0x00}), TextFileType::Unicode},
        {"x as UTF-16 BE", L"x", TextFileType::UnicodeBigEndian, Bytes({0xFE, 0xFF, 0x00, 0x78}),
         TextFileType::UnicodeBigEndian},
        {"x as UTF-8 with mark", L"x", TextFileType::Utf8, Bytes({0xEF, 0xBB, 0xBF, 0x78}), TextFileType::Utf8},
        {"type 0 writes ANSI and reports it", L"x\u00E4", TextFileType::Undetermined, "x\xE4", TextFileType::Ansi},
        {"ANSI 1252", L"\u00E4\u20AC\r\n", TextFileType::Ansi, "\xE4\x80\r\n", TextFileType::Ansi},
        {"ANSI replaces what 1252 lacks", L"a\u4E2D", TextFileType::Ansi, "a?", TextFileType::Ansi},
        {"OEM 850", L"\u00E4\u00DF", TextFileType::Oem, "\x84\xE1", TextFileType::Oem},
        {"UTF-8 without mark", L"\u00E4\U0001D11E", TextFileType::Utf8NoBom,
         Bytes({0xC3, 0xA4, 0xF0, 0x9D, 0x84, 0x9E}), TextFileType::Utf8NoBom},
        {"UTF-7 keeps plain letters", L"Hi", TextFileType::Utf7, "Hi", TextFileType::Utf7},
        {"UTF-16 BE of a surrogate pair", L"\U0001D11E", TextFileType::UnicodeBigEndian,
         Bytes({0xFE, 0xFF, 0xD8, 0x34, 0xDD, 0x1E}), TextFileType::UnicodeBigEndian},
        {"zeros are written", std::wstring(L"a\0b", 3), TextFileType::Unicode,
         Bytes({0xFF, 0xFE, 'a', 0, 0, 0, 'b', 0}), TextFileType::Unicode},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Put("an older and much longer content that must be cut away");
        TextFileType::Type type = row.type;
        EXPECT_EQ(WriteBuffer(file.c_str(), row.text.c_str(), static_cast<uint32_t>(row.text.size()), type), 1);
        EXPECT_EQ(type, row.typeAfter);
        EXPECT_EQ(ReadBytes(file), row.bytes);
    }
}

TEST_F(TextFileTest, TypedWriteBufferFailures)
{
    const std::string old = "old content";
    struct Row {
        const char* name;
        TextFileType::Type type;
        uint32_t count;
        bool fileEmptied;
    };
    const Row rows[] = {
        {"Reserved writes nothing and keeps the file", TextFileType::Reserved, 1, false},
        {"an unknown type keeps the file", static_cast<TextFileType::Type>(9), 1, false},
        {"a negative type keeps the file", static_cast<TextFileType::Type>(-1), 1, false},
        {"count 0 leaves an empty file", TextFileType::Unicode, 0, true},
        {"count 0 with type 0 leaves an empty file", TextFileType::Undetermined, 0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Put(old);
        TextFileType::Type type = row.type;
        EXPECT_EQ(WriteBuffer(file.c_str(), L"x", row.count, type), 0);
        EXPECT_EQ(ReadBytes(file), row.fileEmptied ? "" : old);
    }
    TextFileType::Type type = TextFileType::Ansi;
    EXPECT_EQ(WriteBuffer((scratch / L"no\\such\\folder.txt").c_str(), L"x", 1, type), 0);
    EXPECT_EQ(WriteBuffer(L"", L"x", 1, type), 0);
    EXPECT_EQ(WriteBuffer(nullptr, L"x", 1, type), 0);
    EXPECT_EQ(WriteBuffer(file.c_str(), static_cast<const wchar_t*>(nullptr), 3, type), 0);
}

TEST_F(TextFileTest, TypedWriteBufferWritesOnlyCountCharacters)
{
    TextFileType::Type type = TextFileType::Utf8;
    EXPECT_EQ(WriteBuffer(file.c_str(), L"abcdef", 3, type), 1);
    EXPECT_EQ(ReadBytes(file), "\xEF\xBB\xBF" "abc");
}

TEST_F(TextFileTest, PlainWriteBufferPicksUtf8ForXml)
{
    struct Row {
        const char* name;
        std::wstring text;
        std::string bytes;
    };
    const Row rows[] = {
        {"XML declaration", L"<?xml version=\"1.0\"?>\u00E4", "\xEF\xBB\xBF<?xml version=\"1.0\"?>\xC3\xA4"},
        {"mixed case declaration", L"<?XmL a", "\xEF\xBB\xBF<?XmL a"},
        {"exactly <?xml is ANSI", L"<?xml", "<?xml"},
        {"plain text is ANSI", L"a\u00E4", "a\xE4"},
        {"nearly XML is ANSI", L"<?xm l\u00E4", "<?xm l\xE4"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(WriteBuffer(file.c_str(), row.text.c_str(), static_cast<uint32_t>(row.text.size())), 1);
        EXPECT_EQ(ReadBytes(file), row.bytes);
    }
    Put("old");
    EXPECT_EQ(WriteBuffer(file.c_str(), L"abc", 0), 1);
    EXPECT_TRUE(PathExists(file));
    EXPECT_EQ(ReadBytes(file), "");
}

TEST_F(TextFileTest, ByteWriteBufferWritesBytesAsTheyAre)
{
    const std::string bytes("\xFF\0\r\n\x80", 5);
    EXPECT_EQ(WriteBuffer(file.c_str(), bytes.data(), static_cast<uint32_t>(bytes.size())), 1);
    EXPECT_EQ(ReadBytes(file), bytes);
    EXPECT_EQ(WriteBuffer(file.c_str(), bytes.data(), 0), 1);
    EXPECT_EQ(ReadBytes(file), "");
    EXPECT_EQ(WriteBuffer(L"", bytes.data(), 1), 0);
}

TEST_F(TextFileTest, WriteArrayEndsEveryLine)
{
    struct Row {
        const char* name;
        Lines lines;
        TextFileType::Type type;
        int result;
        std::string bytes;
    };
    const Row rows[] = {
        {"two lines", {L"a", L"b"}, TextFileType::Ansi, 1, "a\r\nb\r\n"},
        {"type 0 is ANSI", {L"\u00E4"}, TextFileType::Undetermined, 1, "\xE4\r\n"},
        {"empty lines stay", {L"", L""}, TextFileType::Ansi, 1, "\r\n\r\n"},
        {"UTF-16", {L"a", L"b"}, TextFileType::Unicode, 1, "\xFF\xFE" + Utf16Le(L"a\r\nb\r\n")},
        {"empty array: empty file and failure", {}, TextFileType::Utf8, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Put("older content");
        EXPECT_EQ(WriteArray(file.c_str(), row.lines, row.type), row.result);
        EXPECT_EQ(ReadBytes(file), row.bytes);
    }
    Put("older content");
    EXPECT_EQ(WriteArray(file.c_str(), Lines{}), 1);
    EXPECT_EQ(ReadBytes(file), "");
    EXPECT_EQ(WriteArray(file.c_str(), Lines{L"<?xml version=\"1.0\"?>", L"\u00E4"}), 1);
    EXPECT_EQ(ReadBytes(file), "<?xml version=\"1.0\"?>\r\n\xE4\r\n");
    EXPECT_EQ(WriteArray(file.c_str(), Lines{L"a"}, TextFileType::Reserved), 0);
    EXPECT_EQ(ReadBytes(file), "<?xml version=\"1.0\"?>\r\n\xE4\r\n");
    EXPECT_EQ(WriteArray(nullptr, Lines{}), 0);
}

// ---------------------------------------------------------------- sharing

TEST_F(TextFileTest, ReadersShareWithWritersAndWritersShareWithNobody)
{
    Put("a\r\nb");
    {
        // Another writer that lets readers in: reading still works.
        tarn::UniqueFileHandle writer(::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(writer);
        Lines lines;
        EXPECT_EQ(ReadArray(file.c_str(), lines), 1);
        EXPECT_EQ(lines, (Lines{L"a", L"b"}));
        // Our writer does not share, so it cannot open a file another process has open.
        TextFileType::Type type = TextFileType::Ansi;
        EXPECT_EQ(WriteBuffer(file.c_str(), L"x", 1, type), 0);
    }
    EXPECT_EQ(ReadBytes(file), "a\r\nb");

    tarn::test::FileHolder holder(file);
    ASSERT_TRUE(holder.Holding());
    Lines lines;
    TextFileType::Type type = TextFileType::Utf8;
    EXPECT_EQ(ReadArray(file.c_str(), lines, type), 0);
    EXPECT_EQ(type, TextFileType::Ansi);  // could not be opened
    EXPECT_EQ(WriteArray(file.c_str(), Lines{L"x"}), 0);
    holder.Release();
    EXPECT_EQ(ReadBytes(file), "a\r\nb");
}

// ---------------------------------------------------------------- round trips

TEST_F(TextFileTest, DetectedEncodingsRoundTrip)
{
    const std::wstring ansiText = L"Zeile \u00E4\u00F6\u00FC\u00DF \u20AC\tend\r\nzweite Zeile\r\n\r\n";
    const std::wstring wideText = ansiText + L"\u4E2D\u6587 \U0001D11E \u0410";
    struct Row {
        TextFileType::Type type;
        std::wstring text;
    };
    const Row rows[] = {
        {TextFileType::Ansi, ansiText},
        {TextFileType::Unicode, wideText},
        {TextFileType::UnicodeBigEndian, wideText},
        {TextFileType::Utf8, wideText},
        {TextFileType::Utf8NoBom, L"<?xml version=\"1.0\"?>\r\n" + wideText},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "type " << row.type);
        TextFileType::Type type = row.type;
        ASSERT_EQ(WriteBuffer(file.c_str(), row.text.c_str(), static_cast<uint32_t>(row.text.size()), type), 1);
        std::wstring text;
        uint32_t length = 0;
        wchar_t* start = nullptr;
        TextFileType::Type readType = TextFileType::Reserved;
        ASSERT_EQ(ReadBuffer(file.c_str(), text, &start, &length, readType), 1);
        EXPECT_EQ(readType, row.type);
        EXPECT_EQ(std::wstring(start, length), row.text);

        Lines written;
        ReadArrayFromBuffer(row.text.c_str(), written);
        ASSERT_EQ(WriteArray(file.c_str(), written, row.type), 1);
        Lines read;
        ASSERT_EQ(ReadArray(file.c_str(), read, readType), 1);
        EXPECT_EQ(readType, row.type);
        written.emplace_back();  // the final line break gives a final empty line
        EXPECT_EQ(read, written);
    }
}

TEST_F(TextFileTest, UndetectedEncodingsRoundTripThroughTheirCodePage)
{
    struct Row {
        TextFileType::Type type;
        UINT codePage;
        std::wstring text;
    };
    const Row rows[] = {
        {TextFileType::Oem, CP_OEMCP, L"Gr\u00FC\u00DFe \u00C4\u00D6\u00DC \u2502\u2500 ok"},
        {TextFileType::Utf7, CP_UTF7, L"a+b \u00E4\u4E2D-c \U0001D11E~\\ end"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "type " << row.type);
        TextFileType::Type type = row.type;
        ASSERT_EQ(WriteBuffer(file.c_str(), row.text.c_str(), static_cast<uint32_t>(row.text.size()), type), 1);
        CChar bytes;
        ASSERT_EQ(GetFileToBuffer(file.c_str(), bytes), 1);
        std::wstring text;
        EXPECT_EQ(bytes.ToWide(text, row.codePage, 0), static_cast<int>(row.text.size()));
        EXPECT_EQ(text, row.text);
    }
}

}  // namespace
