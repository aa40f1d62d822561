#include "config/text/file_compare.h"

#include <gtest/gtest.h>

#include <string>

#include "common/test_files.h"

using tarn::test::ScratchFolder;
using tarn::test::WriteBytes;

namespace {

TEST(CompareFilesTest, SizesFirstThenBytes)
{
    const std::string big(3u << 20, 'q');  // three comparison pieces
    std::string bigLater = big;
    bigLater[(2u << 20) + 5] = 'r';
    struct Row {
        const char* name;
        std::string first;
        std::string second;
        int result;
        int64_t order;
    };
    const Row rows[] = {
        {"equal", "same bytes", "same bytes", 1, 0},
        {"both empty", "", "", 1, 0},
        {"first smaller byte", "abc", "abd", 0, -1},
        {"first larger byte", "abd", "abc", 0, 1},
        {"bytes compare unsigned", "\x80", "\x7F", 0, 1},
        {"second file smaller", "abcd", "abc", 0, 1},
        {"second file larger: order stays -1", "abc", "abcd", 0, -1},
        {"second larger though its bytes are smaller", "b", "aa", 0, -1},
        {"large and equal", big, big, 1, 0},
        {"large, differing in a later piece", big, bigLater, 0, -1},
        {"large, differing the other way", bigLater, big, 0, 1},
    };
    ScratchFolder scratch;
    const std::wstring first = scratch / L"first.bin";
    const std::wstring second = scratch / L"second.bin";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(WriteBytes(first, row.first));
        ASSERT_TRUE(WriteBytes(second, row.second));
        int64_t order = 42;
        EXPECT_EQ(CompareFiles(first.c_str(), second.c_str(), order), row.result);
        EXPECT_EQ(order, row.order);
    }
}

TEST(CompareFilesTest, UnopenableFilesGiveZeroAndMinusOne)
{
    ScratchFolder scratch;
    const std::wstring present = scratch / L"present.bin";
    const std::wstring missing = scratch / L"missing.bin";
    ASSERT_TRUE(WriteBytes(present, "x"));
    struct Row {
        const wchar_t* first;
        const wchar_t* second;
    };
    const Row rows[] = {
        {present.c_str(), missing.c_str()},
        {missing.c_str(), present.c_str()},
        {nullptr, present.c_str()},
        {present.c_str(), L""},
        {present.c_str(), scratch.Path().c_str()},
    };
    for (const Row& row : rows) {
        int64_t order = 42;
        EXPECT_EQ(CompareFiles(row.first, row.second, order), 0);
        EXPECT_EQ(order, -1);
    }
    int64_t order = 42;
    EXPECT_EQ(CompareFiles(present.c_str(), present.c_str(), order), 1);
    EXPECT_EQ(order, 0);
}

}  // namespace
