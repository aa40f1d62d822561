#include "support/file_size.h"

#include <gtest/gtest.h>

#include "common/test_files.h"
#include "support/file_system.h"
#include "support/unique_handle.h"

namespace {

using tarn::test::ScratchFolder;

// A file of the given size that occupies no space on the host.
bool MakeSparseFile(const std::wstring& path, int64_t size)
{
    const tarn::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER end{};
    end.QuadPart = size;
    return file.Valid() && ::SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.Get());
}

TEST(GetFileSize64, ReportsTheWholeSize)
{
    ScratchFolder scratch;
    ASSERT_TRUE(tarn::test::WriteBytes(scratch / L"five.bin", "12345"));
    ASSERT_TRUE(tarn::test::WriteBytes(scratch / L"empty.bin", ""));
    ASSERT_TRUE(MakeSparseFile(scratch / L"huge.bin", 4294967296LL + 7));

    EXPECT_EQ(tarn::GetFileSize64((scratch / L"five.bin").c_str()), 5);
    EXPECT_EQ(tarn::GetFileSize64((scratch / L"empty.bin").c_str()), 0);
    EXPECT_EQ(tarn::GetFileSize64((scratch / L"huge.bin").c_str()), 4294967303LL);
    // The 32-bit form loses what lies above 4 GiB.
    EXPECT_EQ(GetFileSizeByName((scratch / L"huge.bin").c_str()), 7);

    EXPECT_EQ(tarn::GetFileSize64((scratch / L"missing.bin").c_str()), -1);
    EXPECT_EQ(tarn::GetFileSize64((scratch / L"*.bin").c_str()), -1);
    EXPECT_EQ(tarn::GetFileSize64(L""), -1);
    EXPECT_EQ(tarn::GetFileSize64(nullptr), -1);
}

}  // namespace
