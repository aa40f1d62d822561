#include "support/trace.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "common/test_files.h"

namespace {

using tarn::test::ScratchFolder;

// Restores the default log when a test ends.
struct TraceLogOverride {
    TraceLogOverride(const std::wstring& path, unsigned long long rotateAt) { tarn::SetTraceLogForTest(path, rotateAt); }
    ~TraceLogOverride() { tarn::SetTraceLogForTest(L"", 0); }
};

TEST(Trace, DefaultLogIsNamedAfterTheProgramInTheTemporaryFolder)
{
    wchar_t temp[MAX_PATH + 1];
    ASSERT_GT(::GetTempPathW(MAX_PATH + 1, temp), 0u);
    EXPECT_EQ(tarn::TraceLogPath(), std::wstring(temp) + L"support_tests.log");
}

// Lines are appended whole (UTF-8, one per call), the caller's error code
// survives, and past the size limit the log starts afresh with the previous
// one kept as ".old.log".
TEST(Trace, AppendsLinesKeepsLastErrorAndRotates)
{
    ScratchFolder scratch;
    const std::wstring log = scratch / L"prog.log";
    TraceLogOverride useLog(log, 200);

    ::SetLastError(ERROR_FILE_NOT_FOUND);
    tarn::Trace(L"open failed: %ls (error %lu)", L"C:\\Gr\u00fc\u00dfe\\a.txt", 2ul);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    std::string first = tarn::test::ReadBytes(log);
    EXPECT_NE(first.find("open failed: C:\\Gr\xc3\xbc\xc3\x9f" "e\\a.txt (error 2)\r\n"), std::string::npos) << first;
    EXPECT_EQ(first.find('\n'), first.size() - 1);

    for (int i = 0; i < 6; ++i) {
        tarn::Trace(L"line %d", i);
    }
    const std::string current = tarn::test::ReadBytes(log);
    const std::string old = tarn::test::ReadBytes(scratch / L"prog.old.log");
    EXPECT_LE(current.size(), 200u);
    EXPECT_FALSE(old.empty());
    EXPECT_NE(current.find("line 5\r\n"), std::string::npos);
    EXPECT_EQ(old.find("line 5"), std::string::npos);
}

TEST(Trace, AnUnwritableLogCostsNothing)
{
    ScratchFolder scratch;
    TraceLogOverride useLog(scratch / L"no\\such\\folder\\x.log", 1000);
    ::SetLastError(ERROR_ACCESS_DENIED);
    tarn::Trace(L"%ls", L"nothing lands");
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(tarn::test::PathExists(scratch / L"no"));
}

}  // namespace
