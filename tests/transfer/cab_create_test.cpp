#include "transfer/cab_create.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transfer/cab_jobs.h"

namespace {

using Lines = std::vector<std::wstring>;

const Lines kHeader = {L".OPTION EXPLICIT", L".Set DiskDirectoryTemplate=",
                       L".Set CabinetNameTemplate=\"C:\\w\\a.cab\"", L".Set MaxDiskSize=2147483648",
                       L".Set Cabinet=on"};

Lines WithHeader(const wchar_t* compress, const Lines& groups)
{
    Lines lines = kHeader;
    lines.push_back(compress);
    lines.insert(lines.end(), groups.begin(), groups.end());
    return lines;
}

TEST(MakeCabDirectives, GroupsByFolderInKeyOrderAndStoresCabinetLists)
{
    struct Case {
        const wchar_t* name;
        Lines files;
        Lines expected;
    };
    const Case cases[] = {
        {L"files directly in the source folder, cabinets only: stored",
         {L"C:\\Src\\b.cab", L"c:\\src\\A.CAB"},
         WithHeader(L".Set Compress=off",
                    {L".Set DestinationDir=\"\\\"", L"\"C:\\Src\\b.cab\"", L"\"c:\\src\\A.CAB\""})},
        {L"one other file among cabinets: compressed",
         {L"C:\\Src\\x\\a.cab", L"C:\\Src\\readme"},
         WithHeader(L".Set Compress=on", {L".Set DestinationDir=\"\\\"", L"\"C:\\Src\\readme\"",
                                          L".Set DestinationDir=\"\\x\"", L"\"C:\\Src\\x\\a.cab\""})},
        {L"groups in key order without case, each once, whatever the input order",
         {L"C:\\Src\\b\\1.txt", L"C:\\Src\\A\\2.txt", L"C:\\Src\\a\\3.txt", L"C:\\Src\\B\\c\\4.txt",
          L"C:\\Src\\5.txt"},
         WithHeader(L".Set Compress=on",
                    {L".Set DestinationDir=\"\\\"", L"\"C:\\Src\\5.txt\"", L".Set DestinationDir=\"\\A\"",
                     L"\"C:\\Src\\A\\2.txt\"", L"\"C:\\Src\\a\\3.txt\"", L".Set DestinationDir=\"\\b\"",
                     L"\"C:\\Src\\b\\1.txt\"", L".Set DestinationDir=\"\\B\\c\"", L"\"C:\\Src\\B\\c\\4.txt\""})},
    };
    for (const Case& c : cases) {
        Lines lines;
        std::wstring outside;
        ASSERT_TRUE(tarn::BuildMakeCabDirectives(L"C:\\Src\\", L"C:\\w\\a.cab", c.files, lines, outside)) << c.name;
        EXPECT_EQ(lines, c.expected) << c.name;
    }
}

TEST(MakeCabDirectives, RefusesFilesOutsideTheSourceFolder)
{
    for (const wchar_t* file : {L"C:\\Other\\a.txt", L"C:\\Src2\\a.txt", L"C:\\Src\\..\\Other\\a.txt", L"C:\\Src\\"}) {
        Lines lines;
        std::wstring outside;
        EXPECT_FALSE(tarn::BuildMakeCabDirectives(L"C:\\Src\\", L"C:\\w\\a.cab", {L"C:\\Src\\in.txt", file}, lines,
                                                  outside))
            << file;
        EXPECT_EQ(outside, file);
    }
}

TEST(MakeCabBatch, ChangesToTheDirectiveFoldersDriveAndFolder)
{
    Lines lines;
    std::wstring batch;
    ASSERT_TRUE(tarn::BuildMakeCabBatch(L"MakeCab.exe", L"/f \"C:\\no such\\folder\\d.txt\"", lines, batch));
    // A path that does not exist has no short form: it stays as given.
    EXPECT_EQ(lines, (Lines{L"@echo off", L"C:", L"cd \"C:\\no such\\folder\"",
                            L"\"MakeCab.exe\" /f \"C:\\no such\\folder\\d.txt\" > mcab.log 2>&1",
                            L"exit /b %errorlevel%"}));
    EXPECT_EQ(batch, L"C:\\no such\\folder\\mcab.bat");

    ASSERT_TRUE(tarn::BuildMakeCabBatch(L"\"D:\\t\\MakeCab.exe\"", L"/f D:\\w\\d.txt", lines, batch));
    EXPECT_EQ(lines[3], L"\"D:\\t\\MakeCab.exe\" /f D:\\w\\d.txt > mcab.log 2>&1");

    EXPECT_FALSE(tarn::BuildMakeCabBatch(L"MakeCab.exe", L"/f \"work\\d.txt\"", lines, batch));
    EXPECT_EQ(tarn::DirectiveFolder(L"/f \"work\\d.txt\""), L"work");
}

TEST(CabinetJobs, EveryEndIsSeenAndFailuresAreNamed)
{
    // Jobs that fail at once (no source) end before the waiting starts:
    // their end is still seen, and each failure named.
    tarn::CabinetJobList jobs;
    Lines failed;
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(StartCabinetJob(jobs, L"", (L"C:\\x\\" + std::to_wstring(i) + L".cab").c_str()), 1);
    }
    EXPECT_EQ(WaitForCabinetJobs(jobs, &failed), 0);
    EXPECT_TRUE(jobs.IsEmpty());
    EXPECT_EQ(failed.size(), 8u);
    EXPECT_EQ(WaitForCabinetJobs(jobs, &failed), 1);  // nothing left: nothing failed
}

}  // namespace
