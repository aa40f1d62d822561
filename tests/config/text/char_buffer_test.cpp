#include "config/text/char_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Contents(const CChar& buffer)
{
    return std::string(buffer.Data(), static_cast<size_t>(buffer.GetSize()));
}

TEST(CCharTest, Construction)
{
    const CChar empty;
    EXPECT_EQ(empty.Data(), nullptr);
    EXPECT_EQ(empty.GetSize(), 0);

    const CChar narrow("abc");
    EXPECT_EQ(Contents(narrow), std::string("abc", 4));

    const CChar none(static_cast<const char*>(nullptr));
    EXPECT_EQ(none.Data(), nullptr);
    EXPECT_EQ(none.GetSize(), 0);

    const CChar wide(L"\u00E4b\u20AC\u4E2D");
    EXPECT_EQ(Contents(wide), std::string("\xE4" "b\x80?", 5));

    const CChar emptyWide(L"");
    EXPECT_EQ(Contents(emptyWide), std::string(1, '\0'));
}

TEST(CCharTest, GetBufferGrowsOnlyWhenTooSmall)
{
    struct Step {
        int request;
        int sizeAfter;
        bool kept;  // the block and its contents stay
    };
    // Each step runs on the result of the one before.
    const Step steps[] = {
        {0, 260, false},   // 0 means 260
        {10, 260, true},   // large enough: unchanged
        {260, 260, true},
        {-5, 260, true},   // negative means 260 too
        {261, 261, false}, // larger: a new block
        {1, 261, true},
    };
    CChar buffer;
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << "request " << step.request);
        if (buffer.Data()) {
            buffer.Data()[0] = 'x';
        }
        const char* before = buffer.Data();
        char* block = buffer.GetBuffer(step.request);
        EXPECT_EQ(block, buffer.Data());
        EXPECT_EQ(buffer.GetSize(), step.sizeAfter);
        if (step.kept) {
            EXPECT_EQ(block, before);
        }
        EXPECT_EQ(block[0], step.kept ? 'x' : '\0');
    }
}

TEST(CCharTest, SetSizeShrinksInPlaceAndGrowsWithoutCopying)
{
    CChar buffer("hello");
    const char* block = buffer.Data();
    buffer.SetSize(3);
    EXPECT_EQ(buffer.Data(), block);
    EXPECT_EQ(Contents(buffer), "hel");
    buffer.SetSize(3);
    EXPECT_EQ(buffer.Data(), block);
    buffer.SetSize(5);  // larger than the current size, though the block could hold it
    EXPECT_EQ(buffer.GetSize(), 5);
    EXPECT_NE(buffer.Data(), nullptr);
    buffer.SetSize(0);
    EXPECT_EQ(buffer.Data(), nullptr);
    EXPECT_EQ(buffer.GetSize(), 0);
    buffer.SetSize(-1);
    EXPECT_EQ(buffer.GetSize(), 0);
}

TEST(CCharTest, AssignCopiesThroughGetBuffer)
{
    struct Row {
        const char* name;
        const char* text;
        int length;
        std::string expected;  // up to and with the terminator
        int sizeAfter;
    };
    // Each row runs on the buffer the row before left.
    const Row rows[] = {
        {"counted text", "hello", -1, std::string("hello", 6), 6},
        {"shorter text keeps the block", "hi", -1, std::string("hi", 3), 6},
        {"given length", "abcdefgh", 7, std::string("abcdefg", 8), 8},
        {"length inside the text", "xyz", 1, std::string("x", 2), 8},
        {"null text", nullptr, -1, std::string(1, '\0'), 8},
        {"empty text", "", -1, std::string(1, '\0'), 8},
    };
    CChar buffer;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        buffer.Assign(row.text, row.length);
        EXPECT_EQ(buffer.GetSize(), row.sizeAfter);
        EXPECT_EQ(std::string(buffer.Data(), row.expected.size()), row.expected);
    }

    CChar fresh;
    fresh.Assign(nullptr);
    EXPECT_EQ(Contents(fresh), std::string(1, '\0'));

    CChar self("abcdef");
    self.Assign(self.Data() + 2);
    EXPECT_EQ(std::string(self.Data()), "cdef");
    CChar grow("ab");
    grow.Assign(grow.Data(), 2);
    EXPECT_EQ(std::string(grow.Data()), "ab");
}

TEST(CCharTest, ConvertsToWideText)
{
    const CChar ansi("\xE4" "b\x80");
    EXPECT_EQ(ansi.ToWide(), L"\u00E4b\u20AC");

    CChar utf8;
    utf8.Assign("x\xC3\xA4y");
    struct Row {
        UINT codePage;
        int offset;
        int result;
        std::wstring text;
    };
    const Row rows[] = {
        {CP_UTF8, 0, 3, L"x\u00E4y"},
        {CP_UTF8, 1, 2, L"\u00E4y"},
        {CP_ACP, 1, 3, L"\u00C3\u00A4y"},
        {CP_UTF8, 3, 1, L"y"},
        {CP_UTF8, 4, 0, L""},  // only the terminator left
        {CP_UTF8, 5, 0, L""},  // at the size
        {CP_UTF8, 99, 0, L""},
        {CP_UTF8, -1, 0, L""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "offset " << row.offset);
        std::wstring text = L"old";
        EXPECT_EQ(utf8.ToWide(text, row.codePage, row.offset), row.result);
        EXPECT_EQ(text, row.text);
    }

    CChar unterminated("abc");
    unterminated.SetSize(2);
    EXPECT_EQ(unterminated.ToWide(), L"ab");
    EXPECT_EQ(CChar().ToWide(), L"");
}

TEST(CCharTest, CopiesAndMovesOwnTheirBlocks)
{
    CChar original("abc");
    CChar copy(original);
    EXPECT_NE(copy.Data(), original.Data());
    EXPECT_EQ(Contents(copy), Contents(original));

    CChar assigned;
    assigned = original;
    original.Data()[0] = 'z';
    EXPECT_EQ(std::string(assigned.Data()), "abc");

    const char* block = original.Data();
    CChar moved(std::move(original));
    EXPECT_EQ(moved.Data(), block);
    EXPECT_EQ(original.GetSize(), 0);  // NOLINT(bugprone-use-after-move): moved-from is empty
    EXPECT_EQ(original.Data(), nullptr);
}

}  // namespace
