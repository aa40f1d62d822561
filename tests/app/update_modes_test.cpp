#include "app/update_modes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/install/test_share_source.h"
#include "common/test_files.h"
#include "support/file_system.h"
#include "support/message_box.h"
#include "transfer/download_stream.h"
#include "transfer/http_download.h"

namespace {

using tarn::test::PathExists;
using tarn::test::ReadBytes;
using tarn::test::ScratchFolder;
using tarn::test::WriteBytes;

const char kRecord[] = "[FileInfo]\r\nCRC=-316464934\r\nFileSize=1234\r\n";

struct VersionCase {
    const char* name;
    const char* serverRecord;  // null: none
    const char* localRecord;   // null: none
    int localFileSize;         // -1: no file
    bool current;
};

TEST(FolderHoldsVersion, ComparesRecordsByteForByteAndNeedsTheWholeFile)
{
    const char* const unsized = "[FileInfo]\r\nCRC=-316464934\r\n";
    const VersionCase cases[] = {
        {"identical with file", kRecord, kRecord, 1234, true},
        {"identical without file", kRecord, kRecord, -1, false},
        {"identical, file cut short", kRecord, kRecord, 1000, false},
        {"identical, file longer", kRecord, kRecord, 1235, false},
        {"identical without size, any file", unsized, unsized, 7, true},
        {"other checksum", kRecord, "[FileInfo]\r\nCRC=-316464935\r\nFileSize=1234\r\n", 1234, false},
        {"same values, other line ends", kRecord, "[FileInfo]\nCRC=-316464934\nFileSize=1234\n", 1234, false},
        {"no local record", kRecord, nullptr, 1234, false},
        {"no server record", nullptr, kRecord, 1234, false},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder scratch;
        if (c.serverRecord != nullptr) {
            ASSERT_TRUE(WriteBytes(scratch / L"server.fileinfo.txt", c.serverRecord));
        }
        if (c.localRecord != nullptr) {
            ASSERT_TRUE(WriteBytes(scratch / L"a.fileinfo.txt", c.localRecord));
        }
        if (c.localFileSize >= 0) {
            ASSERT_TRUE(WriteBytes(scratch / L"a.cab", std::string(static_cast<size_t>(c.localFileSize), 'x')));
        }
        EXPECT_EQ(tarn::FolderHoldsVersion(scratch / L"server.fileinfo.txt", scratch / L"a.fileinfo.txt",
                                           scratch / L"a.cab"),
                  c.current);
    }
}

TEST(UpdateProductName, OnlyKindsZeroAndOne)
{
    EXPECT_EQ(tarn::UpdateProductName(0), L"Tarn Gridwell");
    EXPECT_EQ(tarn::UpdateProductName(1), L"Tarn Corvin");
    EXPECT_TRUE(tarn::UpdateProductName(-1).empty());
    EXPECT_TRUE(tarn::UpdateProductName(2).empty());
}

TEST(CopyFromTestShare, CopiesTheUrlsFileFromTheShare)
{
    ScratchFolder share;
    ASSERT_TRUE(WriteBytes(share / L"Tarn_Gridwell_2023_(1).cab", "cabinet"));
    const std::wstring url = L"http://srv/gridwell/data/2023/Downloads/Tarn_Gridwell_2023_(1).cab";
    const std::wstring copy = GetTempFolder() + L"\\Tarn_Gridwell_2023_(1).cab";
    ::DeleteFileW(copy.c_str());

    std::wstring destination = L"stale";
    EXPECT_EQ(tarn::CopyFromTestShare(url, destination, share.Path()), 1);
    EXPECT_EQ(destination, copy);
    EXPECT_EQ(ReadBytes(copy), "cabinet");
    ::DeleteFileW(copy.c_str());

    // Missing on the share, no '/' in the URL, or a name that climbs out: no copy.
    const wchar_t* refused[] = {L"http://srv/Downloads/missing.cab", L"Tarn_Gridwell_2023_(1).cab",
                                L"http://srv/Downloads/..\\Tarn_Gridwell_2023_(1).cab\\", L""};
    for (const wchar_t* bad : refused) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(bad)));
        destination = L"stale";
        EXPECT_EQ(tarn::CopyFromTestShare(bad, destination, share.Path()), 0);
        EXPECT_TRUE(destination.empty());
    }
}

std::vector<std::wstring> g_shown;
int RecordBox(HWND, const std::wstring& text, const std::wstring&, UINT type)
{
    g_shown.push_back(text);
    return type == MB_OK ? IDOK : IDCANCEL;
}
void NoSleep(DWORD) {}
tarn::ExpectedFile NoRecord(std::wstring_view, tarn::RecordNeed)
{
    return tarn::ExpectedFile();
}

TEST(RunTestDownloads, ShowsTheModeThenEachDestination)
{
    g_shown.clear();
    const tarn::MessageBoxHandler previousHandler = tarn::SetMessageBoxHandler(&RecordBox);
    tarn::DownloadTiming timing;
    timing.clock.sleep = &NoSleep;
    const tarn::DownloadTiming previousTiming = tarn::SetDownloadTiming(timing);
    // Each attempt would ask for the cabinet's record ten times first.
    const tarn::FileInfoLookup previousLookup = tarn::SetFileInfoLookup(&NoRecord);

    tarn::RunTestDownloadsFrom(L"http://127.0.0.1:1");

    tarn::SetFileInfoLookup(previousLookup);
    tarn::SetDownloadTiming(previousTiming);
    tarn::SetMessageBoxHandler(previousHandler);
    const std::wstring cabinet = GetTempFolder() + L"\\SetupUpdater_2023.cab";
    EXPECT_EQ(g_shown, (std::vector<std::wstring>{L"TestFunc", cabinet, cabinet}));
    EXPECT_FALSE(PathExists(cabinet)) << "nothing reached the temporary folder";
}

TEST(DownloadModes, RefuseMissingArgumentsWithoutTouchingTheFolder)
{
    ScratchFolder scratch;
    const std::wstring folder = scratch / L"target";
    EXPECT_EQ(DownloadFileToFolder(L"", folder), 0);
    EXPECT_EQ(DownloadFileToFolder(L"http://127.0.0.1:1/Downloads/a.cab", L""), 0);
    EXPECT_EQ(DownloadFileToFolder(L"no-separator.cab", folder), 0);
    EXPECT_EQ(DownloadFileToFolder(L"http://127.0.0.1:1/Downloads/", folder), 0);
    EXPECT_EQ(DownloadProductUpdate(L"", folder, 0), 0);
    EXPECT_EQ(DownloadProductUpdate(L"http://127.0.0.1:1/Updates/AutoUpdateInfo.csv", L"", 0), 0);
    EXPECT_FALSE(PathExists(folder));
}

TEST(DownloadModes, UnreachableServerLeavesTheFolderAsItWas)
{
    ScratchFolder scratch;
    ASSERT_TRUE(WriteBytes(scratch / L"a.cab", "old"));
    ASSERT_TRUE(WriteBytes(scratch / L"a.fileinfo.txt", kRecord));
    EXPECT_EQ(DownloadFileToFolder(L"http://127.0.0.1:1/Downloads/a.cab", scratch.Path()), 0);
    EXPECT_EQ(ReadBytes(scratch / L"a.cab"), "old");
    EXPECT_EQ(ReadBytes(scratch / L"a.fileinfo.txt"), kRecord);
    EXPECT_EQ(DownloadProductUpdate(L"http://127.0.0.1:1/Updates/AutoUpdateInfo.csv", scratch.Path(), 0), 0);
    EXPECT_FALSE(PathExists(GetTempFolder() + L"\\Update.csv"));
}

}  // namespace
