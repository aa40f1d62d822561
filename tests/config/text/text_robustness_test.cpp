// Bad input for the text readers and the CSV table: random and mutated files,
// very long lines, zeros, broken encodings. Every reader must return, and what
// it returns must still hold together. The generator is seeded, so every run
// sees the same inputs.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>

#include "common/test_files.h"
#include "config/text/csv_file.h"
#include "config/text/text_file.h"
#include "support/name_compare.h"

using tarn::test::ScratchFolder;
using tarn::test::WriteBytes;

namespace {

using Lines = std::vector<std::wstring>;

// Seeds that mutations start from: every mark, the XML start, CSV shapes.
const std::string kSeeds[] = {
    "",
    "\xFF\xFE",
    "\xFE\xFF",
    "\xEF\xBB\xBF",
    "<?xml version=\"1.0\"?>\r\n<a>\xC3\xA4</a>",
    "\xFF\xFE" "a\0;\0b\0\r\0\n\0",
    "\xFE\xFF\0a\0;\0b\0\n",
    "product;updateURL\r\nTarn Gridwell;x.cab\r\n",
    "\"a\";\"b\"\r\n\"1\";\"2;3\"\r\n;;\r\n\"\r\n",
    "a;b;c\n1\n1;2;3;4\n\n\r\r\n",
    "\xEF\xBB\xBF\xC3\x28\xE2\x82\xF0\x9F\x98",
};

class Mutator {
public:
    explicit Mutator(uint32_t seed) : random_(seed) {}

    size_t Below(size_t bound) { return bound == 0 ? 0 : random_() % bound; }

    std::string RandomBytes(size_t size)
    {
        std::string bytes(size, '\0');
        for (char& b : bytes) {
            b = static_cast<char>(random_() & 0xFF);
        }
        return bytes;
    }

    // A seed changed at a few places, or plain random bytes.
    std::string Next()
    {
        if (Below(5) == 0) {
            return RandomBytes(Below(300));
        }
        std::string bytes = kSeeds[Below(std::size(kSeeds))];
        const size_t edits = 1 + Below(8);
        static const std::string kPieces[] = {"\r", "\n", "\r\n", ";", "\"", "\";\"", std::string(1, '\0'),
                                              "\xFF\xFE", "\xEF\xBB\xBF", "<?xml", "\xC3", "\xED\xA0\x80", " \t"};
        for (size_t i = 0; i < edits; ++i) {
            const size_t at = Below(bytes.size() + 1);
            switch (Below(4)) {
            case 0:  // insert a piece with a meaning somewhere
                bytes.insert(at, kPieces[Below(std::size(kPieces))]);
                break;
            case 1:  // overwrite a byte
                if (at < bytes.size()) {
                    bytes[at] = static_cast<char>(random_() & 0xFF);
                }
                break;
            case 2:  // cut the end off
                bytes.resize(at);
                break;
            default:  // insert random bytes
                bytes.insert(at, RandomBytes(1 + Below(16)));
                break;
            }
        }
        return bytes;
    }

    // Random UTF-16 code units, lone surrogates and zeros included.
    std::wstring RandomUnits(size_t size)
    {
        std::wstring text(size, L'\0');
        for (wchar_t& c : text) {
            switch (Below(4)) {
            case 0:
                c = L"\r\n;\"\0a"[Below(6)];
                break;
            case 1:
                c = static_cast<wchar_t>(0xD800 + Below(0x800));
                break;
            default:
                c = static_cast<wchar_t>(random_() & 0xFFFF);
                break;
            }
        }
        return text;
    }

    // Well-formed UTF-16: surrogates only in pairs, no zeros.
    std::wstring RandomText(size_t size)
    {
        std::wstring text;
        while (text.size() < size) {
            const uint32_t c = static_cast<uint32_t>(1 + Below(0x10FFFF));
            if (c >= 0xD800 && c < 0xE000) {
                continue;
            }
            if (c >= 0x10000) {
                text.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
                text.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
            } else {
                text.push_back(static_cast<wchar_t>(c));
            }
        }
        return text;
    }

    // Characters that code page 1252 holds, line breaks included.
    std::wstring RandomAnsiText(size_t size)
    {
        static const std::wstring kExtra = L"\u20AC\u201E\u0160\u0178\r\n;\"";
        std::wstring text;
        for (size_t i = 0; i < size; ++i) {
            const size_t pick = Below(3);
            if (pick == 0) {
                text.push_back(kExtra[Below(kExtra.size())]);
            } else {
                text.push_back(static_cast<wchar_t>(pick == 1 ? 0x20 + Below(0x5F) : 0xA0 + Below(0x60)));
            }
        }
        return text;
    }

private:
    std::mt19937 random_;
};

bool HasLineBreak(const std::wstring& line)
{
    return line.find_first_of(L"\r\n") != std::wstring::npos;
}

// What every reader must give for one file, whatever its bytes.
void CheckReaders(const std::wstring& path, const std::string& bytes)
{
    TextFileType::Type type = TextFileType::Reserved;
    std::wstring text;
    uint32_t length = 0;
    wchar_t* start = nullptr;
    const int read = ReadBuffer(path.c_str(), text, &start, &length, type);
    ASSERT_EQ(read, bytes.empty() ? 0 : 1);
    ASSERT_TRUE(type >= TextFileType::Undetermined && type <= TextFileType::Utf8NoBom);
    ASSERT_EQ(length, text.size());
    ASSERT_EQ(start, text.data());
    ASSERT_LE(text.size(), bytes.size());

    std::wstring cut;
    ASSERT_EQ(ReadBuffer(path.c_str(), cut, nullptr, nullptr, type), read);
    ASSERT_EQ(cut, text.substr(0, text.find(L'\0')));

    Lines lines;
    ASSERT_EQ(ReadArray(path.c_str(), lines), read);
    if (read) {
        ASSERT_FALSE(lines.empty());
        size_t characters = 0;
        for (const std::wstring& line : lines) {
            ASSERT_FALSE(HasLineBreak(line));
            ASSERT_EQ(line.find(L'\0'), std::wstring::npos);
            characters += line.size();
        }
        ASSERT_LE(characters, cut.size());
        Lines fromBuffer;
        ReadArrayFromBuffer(cut.c_str(), fromBuffer, static_cast<int64_t>(cut.size()));
        // The two splits differ at most by the final empty line.
        ASSERT_GE(lines.size(), fromBuffer.size());
        ASSERT_LE(lines.size(), fromBuffer.size() + 1);
        ASSERT_TRUE(std::equal(fromBuffer.begin(), fromBuffer.end(), lines.begin()));
    }

    std::wstring ansi;
    ASSERT_EQ(ReadBuffer(path.c_str(), ansi), 1);

    CChar raw;
    uint32_t rawLength = 0;
    ASSERT_EQ(ReadBuffer(path.c_str(), raw, rawLength), 1);
    ASSERT_EQ(rawLength, bytes.size());
    ASSERT_EQ(std::string(raw.Data(), rawLength), bytes);
    CChar whole;
    ASSERT_EQ(GetFileToBuffer(path.c_str(), whole), bytes.empty() ? 0 : 1);
    ASSERT_EQ(static_cast<size_t>(whole.GetSize()), bytes.size());
}

// What every table must hold together, whatever its file.
void CheckTable(const std::wstring& path)
{
    const CCsvFile table(path.c_str());
    const size_t columns = table.m_Columns.size();
    ASSERT_EQ(table.m_SortedColumns.size(), columns);
    ASSERT_EQ(table.m_ColumnNumbers.size(), columns);
    for (size_t i = 1; i < columns; ++i) {
        ASSERT_LE(tarn::CompareNoCase(table.m_SortedColumns[i - 1], table.m_SortedColumns[i]), 0);
    }
    std::vector<bool> seen(columns, false);
    for (size_t i = 0; i < columns; ++i) {
        const uint64_t number = table.m_ColumnNumbers[i];
        ASSERT_LT(number, columns);
        ASSERT_FALSE(seen[number]);
        seen[number] = true;
        ASSERT_EQ(table.m_Columns[number], table.m_SortedColumns[i]);
    }
    for (const std::wstring& name : table.m_Columns) {
        const int found = table.GetColumn(name);
        if (name.empty()) {
            ASSERT_EQ(found, -1);
        } else {
            ASSERT_GE(found, 0);
            ASSERT_TRUE(tarn::EqualsNoCase(table.m_Columns[static_cast<size_t>(found)], name));
        }
    }
    for (const CCsvLine& row : table.m_Lines) {
        ASSERT_EQ(row.size(), columns);
    }
}

TEST(TextRobustnessTest, RandomAndMutatedFiles)
{
    ScratchFolder scratch;
    const std::wstring path = scratch / L"input.csv";
    Mutator mutator(4711);
    for (int i = 0; i < 2500; ++i) {
        const std::string bytes = mutator.Next();
        SCOPED_TRACE(testing::Message() << "input " << i << ": " << testing::PrintToString(bytes));
        ASSERT_TRUE(WriteBytes(path, bytes));
        CheckReaders(path, bytes);
        CheckTable(path);
        if (HasFailure()) {
            return;
        }
    }
}

TEST(TextRobustnessTest, RandomTextsInMemory)
{
    Mutator mutator(815);
    for (int i = 0; i < 5000; ++i) {
        const std::wstring text = mutator.RandomUnits(mutator.Below(200));
        const int64_t length = static_cast<int64_t>(mutator.Below(text.size() + 2)) - 1;
        Lines lines{L"dropped"};
        const int result = ReadArrayFromBuffer(text.c_str(), lines, length);
        const size_t used = length >= 0 ? static_cast<size_t>(length) : std::min(text.find(L'\0'), text.size());
        ASSERT_EQ(result, used == 0 ? 0 : 1) << "text " << i;
        size_t characters = 0;
        for (const std::wstring& line : lines) {
            ASSERT_FALSE(HasLineBreak(line));
            characters += line.size();
        }
        ASSERT_LE(characters, used);
        ASSERT_LE(lines.size(), used);
    }
}

TEST(TextRobustnessTest, RandomTextsRoundTrip)
{
    ScratchFolder scratch;
    const std::wstring path = scratch / L"round.txt";
    Mutator mutator(1234);
    for (int i = 0; i < 600; ++i) {
        const size_t size = 1 + mutator.Below(400);
        std::wstring text;
        TextFileType::Type type = TextFileType::Ansi;
        switch (i % 5) {
        case 0:
            text = mutator.RandomAnsiText(size);
            break;
        case 1:
            type = TextFileType::Unicode;
            text = mutator.RandomUnits(size);
            break;
        case 2:
            type = TextFileType::UnicodeBigEndian;
            text = mutator.RandomUnits(size);
            break;
        case 3:
            type = TextFileType::Utf8;
            text = mutator.RandomText(size);
            break;
        default:
            type = TextFileType::Utf8NoBom;
            text = L"<?xml" + mutator.RandomText(size);
            break;
        }
        SCOPED_TRACE(testing::Message() << "text " << i << " type " << type);
        const TextFileType::Type written = type;
        ASSERT_EQ(WriteBuffer(path.c_str(), text.c_str(), static_cast<uint32_t>(text.size()), type), 1);
        std::wstring read;
        uint32_t length = 0;
        wchar_t* start = nullptr;
        ASSERT_EQ(ReadBuffer(path.c_str(), read, &start, &length, type), 1);
        ASSERT_EQ(type, written);
        ASSERT_EQ(read, text);
    }
}

TEST(TextRobustnessTest, LargeAndBrokenFiles)
{
    ScratchFolder scratch;
    const std::wstring path = scratch / L"large.csv";
    Mutator mutator(2024);
    constexpr size_t kTenMegabytes = 10u << 20;
    std::string oddUtf16 = "\xFF\xFE";
    for (int i = 0; i < 1000; ++i) {
        oddUtf16 += "a\0;\0\r\0"[mutator.Below(3) * 2];
        oddUtf16 += '\0';
    }
    oddUtf16 += 'x';
    struct Row {
        const char* name;
        std::string bytes;
        size_t lines;  // 0: not checked
    };
    const Row rows[] = {
        {"a 10 MB single line", std::string(kTenMegabytes, 'x'), 1},
        {"a 10 MB line of separators", std::string(kTenMegabytes, ';'), 1},
        {"a 10 MB UTF-16 line", "\xFF\xFE" + std::string(kTenMegabytes, 'y'), 1},
        {"10 MB of zeros", std::string(kTenMegabytes, '\0'), 1},
        {"1 MB of line feeds", std::string(1u << 20, '\n'), (1u << 20) + 1},
        {"1 MB of binary garbage", mutator.RandomBytes(1u << 20), 0},
        {"odd-length UTF-16", oddUtf16, 0},
        {"invalid UTF-8 with mark", "\xEF\xBB\xBF" + mutator.RandomBytes(100000), 0},
        {"invalid UTF-8 after <?xml", "<?xml" + mutator.RandomBytes(100000), 0},
        {"a ragged table", "a;b;c\n1\n1;2;3;4;5;6\n\"1\";2\n;;;;;;\n\"x;y\"\n", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(WriteBytes(path, row.bytes));
        CheckReaders(path, row.bytes);
        CheckTable(path);
        if (row.lines) {
            Lines lines;
            ASSERT_EQ(ReadArray(path.c_str(), lines), 1);
            EXPECT_EQ(lines.size(), row.lines);
        }
    }
}

}  // namespace
