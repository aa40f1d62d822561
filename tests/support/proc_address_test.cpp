#include "support/proc_address.h"

#include <gtest/gtest.h>

#include "common/test_files.h"

using tarn::test::PathExists;
using tarn::test::ReadBytes;
using tarn::test::WriteBytes;

namespace {

// Switches the log on for one test by creating it, and leaves the temporary
// folder as it found it.
class ProcAddressLogTest : public ::testing::Test {
protected:
    std::wstring log = tarn::GetProcAddressLogPath();
    bool existed = PathExists(log);
    std::string before = ReadBytes(log);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    std::string kernelPath;

    void SetUp() override
    {
        ASSERT_NE(kernel, nullptr);
        char path[MAX_PATH] = {};
        ::GetModuleFileNameA(kernel, path, MAX_PATH);
        kernelPath = path;
        ::DeleteFileW(log.c_str());
    }
    void TearDown() override
    {
        ::DeleteFileW(log.c_str());
        if (existed) {
            WriteBytes(log, before);
        }
    }
};

TEST_F(ProcAddressLogTest, LogPathIsInTheTemporaryFolder)
{
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    EXPECT_EQ(log, std::wstring(temp) + L"!!!!!!!GetProcAddressFailures.txt");
}

TEST_F(ProcAddressLogTest, FoundProceduresAreReturnedAndNotLogged)
{
    ASSERT_TRUE(WriteBytes(log, ""));
    EXPECT_EQ(GetProcAddressLogged(kernel, "GetTickCount"), ::GetProcAddress(kernel, "GetTickCount"));
    EXPECT_EQ(GetProcAddressLogged(kernel, L"GetTickCount"), ::GetProcAddress(kernel, "GetTickCount"));
    EXPECT_NE(GetProcAddressLogged(kernel, L"GetTickCount"), nullptr);
    EXPECT_EQ(ReadBytes(log), "");
}

TEST_F(ProcAddressLogTest, FailuresAreLoggedOnlyWhenTheFileExists)
{
    EXPECT_EQ(GetProcAddressLogged(kernel, "TarnNoSuchExport"), nullptr);
    EXPECT_FALSE(PathExists(log)) << "the log is never created";

    ASSERT_TRUE(WriteBytes(log, "earlier line\r\n"));
    EXPECT_EQ(GetProcAddressLogged(kernel, "TarnNoSuchExport"), nullptr);
    EXPECT_EQ(GetProcAddressLogged(kernel, L"Pr\u00fcfeExport"), nullptr);
    EXPECT_EQ(GetProcAddressLogged(kernel, MAKEINTRESOURCEA(65000)), nullptr);
    EXPECT_EQ(GetProcAddressLogged(kernel, static_cast<const char*>(nullptr)), nullptr);
    EXPECT_EQ(GetProcAddressLogged(kernel, static_cast<const wchar_t*>(nullptr)), nullptr);
    // ANSI lines (code page 1252), each "module path;name" and CR LF.
    EXPECT_EQ(ReadBytes(log), "earlier line\r\n" + kernelPath + ";TarnNoSuchExport\r\n" + kernelPath +
                                  ";Pr\xfc" "feExport\r\n" + kernelPath + ";#65000\r\n");
}

TEST_F(ProcAddressLogTest, ALockedLogLosesTheLineButNotTheResult)
{
    ASSERT_TRUE(WriteBytes(log, ""));
    {
        tarn::test::FileHolder holder(log);
        ASSERT_TRUE(holder.Holding());
        EXPECT_EQ(GetProcAddressLogged(kernel, "TarnNoSuchExport"), nullptr);
    }
    EXPECT_EQ(ReadBytes(log), "");
}

}  // namespace
