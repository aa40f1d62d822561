#include "support/file_write.h"

#include <gtest/gtest.h>

#include <string>

#include "common/test_files.h"
#include "support/unique_handle.h"

namespace {

using tarn::test::ScratchFolder;

tarn::UniqueFileHandle Open(const std::wstring& path, DWORD access, DWORD disposition)
{
    return tarn::UniqueFileHandle(
        ::CreateFileW(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Pieces around the piece size land whole and in order, appended to what
// the handle wrote before; a handle that may not write fails with its cause
// and leaves the file as it was.
TEST(WriteWhole, WritesEveryPieceInOrderOrFailsWithTheCause)
{
    ScratchFolder scratch;
    const std::wstring path = scratch / L"pieces.bin";
    std::string expected;
    {
        tarn::UniqueFileHandle file = Open(path, GENERIC_WRITE, CREATE_NEW);
        ASSERT_TRUE(file);
        for (const size_t size : {size_t{0}, size_t{1}, size_t{tarn::kFileWritePiece},
                                  size_t{tarn::kFileWritePiece} + 1, 3 * size_t{tarn::kFileWritePiece} + 17}) {
            std::string bytes(size, '\0');
            for (size_t i = 0; i < size; ++i) {
                bytes[i] = static_cast<char>((expected.size() + i) * 7 + i / 251);
            }
            EXPECT_TRUE(tarn::WriteWhole(file.Get(), bytes.data(), bytes.size())) << size;
            expected += bytes;
        }
    }
    EXPECT_EQ(tarn::test::ReadBytes(path), expected);

    tarn::UniqueFileHandle reading = Open(path, GENERIC_READ, OPEN_EXISTING);
    ASSERT_TRUE(reading);
    ::SetLastError(NO_ERROR);
    EXPECT_FALSE(tarn::WriteWhole(reading.Get(), "x", 1));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    reading.Reset();
    EXPECT_EQ(tarn::test::ReadBytes(path), expected);
}

}  // namespace
