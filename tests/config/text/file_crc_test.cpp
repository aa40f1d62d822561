#include "config/text/file_crc.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "common/test_files.h"

using tarn::test::ScratchFolder;
using tarn::test::WriteBytes;

namespace {

// The checksum written down once more, byte by byte, straight from its
// definition; the library's forms are checked against it.
uint32_t ReferenceCrc(const std::string& bytes)
{
    uint32_t table[256];
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        }
        table[i] = value;
    }
    uint32_t crc = 0;
    for (unsigned char b : bytes) {
        crc = ((crc >> 6) & 0x00FFFFFFu) ^ table[(crc ^ b) & 0xFF];
    }
    return crc;
}

std::string RandomBytes(std::mt19937& random, size_t size)
{
    std::string bytes(size, '\0');
    for (char& b : bytes) {
        b = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

std::string AllByteValues()
{
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
        bytes.push_back(static_cast<char>(i));
    }
    return bytes;
}

TEST(FileCrcTest, KnownValues)
{
    struct Row {
        std::string bytes;
        uint32_t crc;
    };
    const Row rows[] = {
        {"abc", 1041260337u},
        {"a", 0x3AB551CEu},
        {"123456789", 0xED2320DAu},
        {"The quick brown fox jumps over the lazy dog", 0x0CE9FCB2u},
        {AllByteValues(), 0xC4849938u},
        {std::string(100, '\0'), 0u},  // zero bytes never leave the start value
        {"", 0u},
    };
    ScratchFolder scratch;
    const std::wstring file = scratch / L"known.bin";
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.bytes.substr(0, 20)));
        EXPECT_EQ(ReferenceCrc(row.bytes), row.crc);
        EXPECT_EQ(tarn::UpdateFileCrc(0, row.bytes.data(), row.bytes.size()), row.crc);
        EXPECT_EQ(tarn::UpdateFileCrcBytewise(0, row.bytes.data(), row.bytes.size()), row.crc);
        ASSERT_TRUE(WriteBytes(file, row.bytes));
        EXPECT_EQ(GetFileCrc(file.c_str()), row.crc);
    }
}

TEST(FileCrcTest, FoldedFormMatchesTheDefinitionAtEveryLengthAndAlignment)
{
    std::mt19937 random(20230417);
    const std::string data = RandomBytes(random, 4096 + 64);
    for (size_t offset = 0; offset < 16; ++offset) {
        for (size_t length = 0; length <= 300; ++length) {
            const std::string piece = data.substr(offset, length);
            ASSERT_EQ(tarn::UpdateFileCrc(0, data.data() + offset, length), ReferenceCrc(piece))
                << "offset " << offset << " length " << length;
        }
    }
    for (int i = 0; i < 200; ++i) {
        const size_t offset = random() % 64;
        const size_t length = random() % 4096;
        const std::string piece = data.substr(offset, length);
        ASSERT_EQ(tarn::UpdateFileCrc(0, data.data() + offset, length), ReferenceCrc(piece))
            << "offset " << offset << " length " << length;
    }
}

TEST(FileCrcTest, ContinuingOverSplitsGivesTheWholeValue)
{
    std::mt19937 random(7);
    const std::string data = RandomBytes(random, 1000);
    const uint32_t whole = ReferenceCrc(data);
    for (size_t split : {0, 1, 15, 16, 17, 31, 500, 999, 1000}) {
        SCOPED_TRACE(testing::Message() << "split " << split);
        const uint32_t first = tarn::UpdateFileCrc(0, data.data(), split);
        EXPECT_EQ(tarn::UpdateFileCrc(first, data.data() + split, data.size() - split), whole);
        EXPECT_EQ(tarn::UpdateFileCrcBytewise(first, data.data() + split, data.size() - split), whole);
    }
}

TEST(FileCrcTest, FilesAroundThePieceSize)
{
    constexpr size_t kPiece = 4u << 20;
    std::mt19937 random(99);
    const std::string data = RandomBytes(random, 2 * kPiece + 17);
    ScratchFolder scratch;
    const std::wstring file = scratch / L"big.bin";
    for (size_t size : {kPiece - 1, kPiece, kPiece + 1, 2 * kPiece, 2 * kPiece + 17}) {
        SCOPED_TRACE(testing::Message() << "size " << size);
        const std::string bytes = data.substr(0, size);
        ASSERT_TRUE(WriteBytes(file, bytes));
        EXPECT_EQ(GetFileCrc(file.c_str()), ReferenceCrc(bytes));
    }
}

TEST(FileCrcTest, UnreadableNamesGiveZero)
{
    ScratchFolder scratch;
    EXPECT_EQ(GetFileCrc(nullptr), 0u);
    EXPECT_EQ(GetFileCrc(L""), 0u);
    EXPECT_EQ(GetFileCrc((scratch / L"missing.bin").c_str()), 0u);
    EXPECT_EQ(GetFileCrc(scratch.Path().c_str()), 0u);
}

}  // namespace
