#include "support/file_queries.h"

#include <gtest/gtest.h>

#include "common/test_files.h"
#include "support/file_system.h"

namespace {

using tarn::test::MakeSparseFile;
using tarn::test::ScratchFolder;

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
