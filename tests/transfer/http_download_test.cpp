#include "transfer/http_download.h"

#include <gtest/gtest.h>

#include "common/test_files.h"
#include "support/file_system.h"
#include "transfer/download_stream.h"
#include "transfer/download_url.h"
#include "transfer/partial_download.h"

namespace {

using tarn::test::ReadBytes;
using tarn::test::ScratchFolder;
using tarn::test::WriteBytes;

// Nothing listens on port 1: every open fails at once with a refused connection.
const wchar_t kUnreachable[] = L"http://127.0.0.1:1/gridwell/data/2023/Downloads/Tarn_Gridwell_2023_(1).cab";

struct SplitCase {
    const wchar_t* url;
    bool ok;
    const wchar_t* base;
    const wchar_t* name;
    const wchar_t* stem;
    const wchar_t* extension;
    const wchar_t* record;
};

class UrlSplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(UrlSplitTest, SplitsAtLastSeparatorAndDot)
{
    const SplitCase& c = GetParam();
    tarn::UrlParts parts;
    EXPECT_EQ(tarn::SplitUrl(c.url, parts), c.ok);
    EXPECT_EQ(parts.base, c.base);
    EXPECT_EQ(parts.name, c.name);
    EXPECT_EQ(parts.stem, c.stem);
    EXPECT_EQ(parts.extension, c.extension);
    EXPECT_EQ(tarn::FileInfoNameFor(c.url), c.record);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UrlSplitTest,
    ::testing::Values(
        SplitCase{L"http://h.de/a/Tarn_(1).cab", true, L"http://h.de/a", L"Tarn_(1).cab", L"Tarn_(1)", L".cab",
                  L"http://h.de/a/Tarn_(1).fileinfo.txt"},
        SplitCase{L"http://h.de/a/x.tar.gz", true, L"http://h.de/a", L"x.tar.gz", L"x.tar", L".gz",
                  L"http://h.de/a/x.tar.fileinfo.txt"},
        // A dot in the host or a folder never names the record.
        SplitCase{L"http://h.de/a/README", true, L"http://h.de/a", L"README", L"README", L"", L""},
        SplitCase{L"C:\\dir.v2\\data", true, L"C:\\dir.v2", L"data", L"data", L"", L""},
        SplitCase{L"C:\\dir.v2\\data.cab", true, L"C:\\dir.v2", L"data.cab", L"data", L".cab",
                  L"C:\\dir.v2\\data.fileinfo.txt"},
        // The later of '/' and '\' decides.
        SplitCase{L"http://h/a\\b/c.d", true, L"http://h/a\\b", L"c.d", L"c", L".d", L"http://h/a\\b/c.fileinfo.txt"},
        SplitCase{L"http://h/a/b\\c.d", true, L"http://h/a/b", L"c.d", L"c", L".d", L"http://h/a/b\\c.fileinfo.txt"},
        SplitCase{L"http://h/a/", true, L"http://h/a", L"", L"", L"", L""},
        SplitCase{L"http://h/a/.cab", true, L"http://h/a", L".cab", L"", L".cab", L"http://h/a/.fileinfo.txt"},
        SplitCase{L"file.cab", false, L"", L"", L"", L"", L"file.fileinfo.txt"},
        SplitCase{L"", false, L"", L"", L"", L"", L""}));

TEST(DownloadDestination, ResolvesEachForm)
{
    ScratchFolder scratch;
    const std::wstring temp = GetTempFolder();
    EXPECT_EQ(tarn::ResolveDownloadDestination(L"", L"a.cab"), temp + L"\\a.cab");
    EXPECT_EQ(tarn::ResolveDownloadDestination(L"plain.bin", L"a.cab"), temp + L"\\plain.bin");
    EXPECT_EQ(tarn::ResolveDownloadDestination(scratch.Path(), L"a.cab"), scratch / L"a.cab");

    const std::wstring newFolder = scratch / L"new folder\\";
    EXPECT_EQ(tarn::ResolveDownloadDestination(newFolder, L"a.cab"), newFolder + L"a.cab");
    EXPECT_TRUE(tarn::test::PathExists(scratch / L"new folder"));

    const std::wstring filePath = scratch / L"deep\\er\\b.bin";
    EXPECT_EQ(tarn::ResolveDownloadDestination(filePath, L"a.cab"), filePath);
    EXPECT_TRUE(tarn::test::PathExists(scratch / L"deep\\er"));
    EXPECT_FALSE(tarn::test::PathExists(filePath));
}

struct PageCase {
    const char* name;
    std::string bytes;
    int expected;
};

std::string Padded(const std::string& head, size_t size)
{
    std::string text = head;
    text.resize(size, 'x');
    return text;
}

std::string Utf16(const std::string& ascii)
{
    std::string bytes = "\xFF\xFE";
    for (const char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

TEST(IsErrorPage, RecognisesSmallHtmlOnly)
{
    const PageCase cases[] = {
        {"empty", "", 1},
        {"plain html", "<!DOCTYPE html>\r\n<html><body>404</body></html>", 1},
        {"upper case", "<HTML><BODY>Not Found</BODY></HTML>", 1},
        {"mixed case late", "garbage before\r\n<HtMl>", 1},
        {"zero before tag", std::string("ab\0cd <html>", 12), 1},
        {"utf-16 page", Utf16("<html><body>x</body></html>"), 1},
        {"no tag", "MSCF\0\0\0\0 a cabinet", 0},
        {"partial tag", "<htm", 0},
        {"html at the limit", Padded("<html>", 10240), 1},
        {"html beyond the limit", Padded("<html>", 10241), 0},
        {"binary beyond the limit", std::string(20000, '\x01'), 0},
    };
    ScratchFolder scratch;
    for (const PageCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = scratch / L"page.bin";
        ASSERT_TRUE(WriteBytes(path, c.bytes));
        EXPECT_EQ(IsErrorPage(path.c_str()), c.expected);
    }
    // 4 GiB exactly: the low 32 bits of its size are 0, yet it is no empty page.
    ASSERT_TRUE(tarn::test::MakeSparseFile(scratch / L"huge.bin", 4294967296LL));
    EXPECT_EQ(IsErrorPage((scratch / L"huge.bin").c_str()), 0);
    EXPECT_EQ(IsErrorPage((scratch / L"missing.bin").c_str()), 1);
    EXPECT_EQ(IsErrorPage(scratch.Path().c_str()), 1) << "a folder is no downloaded file";
    EXPECT_EQ(IsErrorPage(L""), 0);
    EXPECT_EQ(IsErrorPage(nullptr), 0);
}

bool WriteTo(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    return file != INVALID_HANDLE_VALUE &&
           ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// The partial download beside a destination: kept only with a validator and
// for its own URL, never under the destination's name, continued at an
// offset, moved into place whole.
TEST(PartialDownload, KeepsOnlyWhatCanBeContinued)
{
    ScratchFolder scratch;
    const std::wstring destination = scratch / L"P.cab";
    const std::wstring url = L"http://h/Downloads/P.cab";
    const std::string head(1000, 'h');
    std::wstring validator;
    {
        tarn::PartialDownload partial(destination);
        EXPECT_EQ(partial.Kept(url, validator), 0);
        ASSERT_TRUE(WriteTo(partial.Open(0, url, L"\"v1\""), head));
        tarn::PartialDownload second(destination);
        EXPECT_EQ(second.Open(0, url, L"\"v1\""), INVALID_HANDLE_VALUE) << "held without write sharing";
        EXPECT_TRUE(partial.Suspend());
    }
    EXPECT_FALSE(tarn::test::PathExists(destination));
    tarn::PartialDownload again(destination);
    EXPECT_EQ(again.Kept(url, validator), 1000);
    EXPECT_EQ(validator, L"\"v1\"");
    EXPECT_EQ(again.Kept(L"http://h/Other/P.cab", validator), 0);
    EXPECT_TRUE(again.Suspend()) << "kept without being opened";

    ASSERT_TRUE(WriteBytes(destination, "an older copy"));
    ASSERT_TRUE(WriteTo(again.Open(600, url, L"\"v1\""), "tail"));
    ASSERT_TRUE(again.MoveTo(destination));
    EXPECT_EQ(ReadBytes(destination), head.substr(0, 600) + "tail");
    EXPECT_FALSE(tarn::test::PathExists(again.DataPath()));
    EXPECT_EQ(again.Kept(url, validator), 0);

    // Without a validator, or without bytes, nothing stays.
    ASSERT_TRUE(WriteTo(again.Open(0, url, L""), head));
    EXPECT_FALSE(again.Suspend());
    EXPECT_FALSE(tarn::test::PathExists(again.DataPath()));
    ASSERT_NE(again.Open(0, url, L"\"v2\""), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(again.Suspend());
    EXPECT_EQ(again.Kept(url, validator), 0);
}

// The clock of the pass pauses, replaced so that thirty passes take no time.
ULONGLONG g_now = 0;
int g_sleeps = 0;
int* g_cancelAfterSleeps = nullptr;
int g_cancelAt = 0;
ULONGLONG FakeNow()
{
    return g_now;
}
void FakeSleep(DWORD ms)
{
    g_now += ms;
    if (++g_sleeps == g_cancelAt && g_cancelAfterSleeps != nullptr) {
        *g_cancelAfterSleeps = 1;
    }
}

tarn::ExpectedFile NoRecord(std::wstring_view, tarn::RecordNeed)
{
    return tarn::ExpectedFile();
}

class OfflineDownloadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Every attempt would first ask ten times for the file's record.
        previousLookup_ = tarn::SetFileInfoLookup(&NoRecord);
        g_now = 0;
        g_sleeps = 0;
        g_cancelAfterSleeps = nullptr;
        g_cancelAt = 0;
        tarn::DownloadTiming timing;
                timing.clock = tarn::Clock{&FakeNow, &FakeSleep};
        previous_ = tarn::SetDownloadTiming(timing);
    }
    void TearDown() override
    {
        tarn::SetDownloadTiming(previous_);
        tarn::SetFileInfoLookup(previousLookup_);
    }

    ScratchFolder scratch;

private:
    tarn::DownloadTiming previous_;
    tarn::FileInfoLookup previousLookup_ = nullptr;
};

TEST_F(OfflineDownloadTest, UrlWithoutFileNameFailsWithoutTouchingDestination)
{
    for (const wchar_t* url : {L"", L"no-separator.cab", L"http://127.0.0.1:1/folder/"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(url)));
        std::wstring destination = L"unchanged";
        int retry = -1;
        EXPECT_EQ(HttpGetFileOnce(url, destination, nullptr, nullptr, &retry), 0);
        EXPECT_EQ(destination, L"unchanged");
        EXPECT_EQ(retry, -1);
    }
}

TEST_F(OfflineDownloadTest, FailedOpenDeletesOldFileAndAsksForRetry)
{
    std::wstring destination = scratch / L"old.cab";
    ASSERT_TRUE(WriteBytes(destination, "an older download"));
    int retry = -1;
    EXPECT_EQ(HttpGetFileOnce(kUnreachable, destination, nullptr, nullptr, &retry), 0);
    EXPECT_EQ(destination, scratch / L"old.cab");
    EXPECT_FALSE(tarn::test::PathExists(destination));
    EXPECT_EQ(retry, 1);
}

TEST_F(OfflineDownloadTest, MissingRecordNeverAsksForRetry)
{
    std::wstring destination = scratch.Path() + L"\\";
    int retry = -1;
    EXPECT_EQ(HttpGetFileOnce(L"http://127.0.0.1:1/Downloads/Tarn_(1).FileInfo.TXT", destination, nullptr,
                              nullptr, &retry),
              0);
    EXPECT_EQ(destination, scratch / L"Tarn_(1).FileInfo.TXT");
    EXPECT_EQ(retry, -1);
}

TEST_F(OfflineDownloadTest, OtherSchemesFailWithoutRetry)
{
    std::wstring destination = scratch.Path();
    int retry = -1;
    EXPECT_EQ(HttpGetFileOnce(L"ftp://127.0.0.1:1/Downloads/a.cab", destination, nullptr, nullptr, &retry), 0);
    EXPECT_EQ(retry, -1);
}

TEST_F(OfflineDownloadTest, RetryingRunsThirtyPassesWithPauses)
{
    std::wstring destination = scratch.Path();
    EXPECT_EQ(HttpGetFileRetrying(kUnreachable, destination), 0);
    EXPECT_EQ(g_sleeps, 30 * 20);  // a 2-second pause in 100 ms looks after each pass
    EXPECT_EQ(g_now, 30u * 2000u);
}

TEST_F(OfflineDownloadTest, RetryingEndsWhenCancelledDuringPause)
{
    int cancel = 0;
    g_cancelAfterSleeps = &cancel;
    g_cancelAt = 25;  // in the second pause
    std::wstring destination = scratch.Path();
    EXPECT_EQ(HttpGetFileRetrying(kUnreachable, destination, nullptr, &cancel), 0);
    EXPECT_EQ(g_sleeps, 25);
}

TEST_F(OfflineDownloadTest, RetryingStopsAfterOnePassWithoutRetryReason)
{
    std::wstring destination = scratch.Path();
    EXPECT_EQ(HttpGetFileRetrying(L"http://127.0.0.1:1/Downloads/a.fileinfo.txt", destination), 0);
    EXPECT_EQ(g_sleeps, 0);
}

}  // namespace
