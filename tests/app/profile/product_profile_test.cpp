#include "app/profile/product_profile.h"

#include <gtest/gtest.h>

#include "common/test_files.h"
#include "config/paths/path_variables.h"
#include "transfer/download_stream.h"

using tarn::kDownloadNotReady;
using tarn::LookupProductProfile;
using tarn::ProductProfile;
using tarn::ReducedProgramName;
using tarn::ReduceProgramName;

namespace {

struct ReductionCase {
    const wchar_t* programPath;
    const wchar_t* settingsKey;
    const wchar_t* reducedName;
    int profile;
};

class ProgramNameTest : public ::testing::TestWithParam<ReductionCase> {};

TEST_P(ProgramNameTest, ReducesNameAndPicksProfile)
{
    const ReductionCase& c = GetParam();
    const ReducedProgramName reduced = ReduceProgramName(c.programPath);
    EXPECT_EQ(reduced.settingsKey, c.settingsKey);
    EXPECT_EQ(reduced.reducedName, c.reducedName);
    EXPECT_EQ(LookupProductProfile(c.programPath, L"http://srv").number, c.profile);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgramNameTest,
    ::testing::Values(
        ReductionCase{L"D:\\Tarn_Gridwell_2023.exe", L"Tarn_Gridwell_2023", L"Tarn_Gridwell", 0},
        ReductionCase{L"D:\\dl\\tarn_gridwell_2023.EXE", L"tarn_gridwell_2023", L"tarn_gridwell", 0},
        ReductionCase{L"D:\\Tarn_Gridwell_2023 (1).exe", L"Tarn_Gridwell_2023", L"Tarn_Gridwell", 0},
        ReductionCase{L"D:\\Tarn_Gridwell_2023(2).exe", L"Tarn_Gridwell_2023", L"Tarn_Gridwell", 0},
        ReductionCase{L"Tarn_Gridwell_2023_App_Test.exe", L"Tarn_Gridwell_2023_App", L"Tarn_Gridwell_App", 1},
        ReductionCase{L"C:\\Tarn_Gridwell_2023_App.exe", L"Tarn_Gridwell_2023_App", L"Tarn_Gridwell_App", 1},
        ReductionCase{L"C:\\Tarn_Corvin_2023_App.exe", L"Tarn_Corvin_2023_App", L"Tarn_Corvin_App", 2},
        ReductionCase{L"C:\\Tarn_Videotrainings_2023.exe", L"Tarn_Videotrainings_2023", L"Tarn_Videotrainings", 3},
        // A group that directly follows a removal is not examined.
        ReductionCase{L"C:\\Tarn_Gridwell_2023_2024.exe", L"Tarn_Gridwell_2023_2024", L"Tarn_Gridwell_2024", 4},
        ReductionCase{L"C:\\Tarn_Gridwell_0123.exe", L"Tarn_Gridwell_0123", L"Tarn_Gridwell_0123", 4},
        ReductionCase{L"C:\\Tarn_Gridwell_20a3.exe", L"Tarn_Gridwell_20a3", L"Tarn_Gridwell_20a3", 4},
        ReductionCase{L"C:\\Tarn_Videotraining_2023.exe", L"Tarn_Videotraining_2023", L"Tarn_Videotraining", 4},
        ReductionCase{L"C:\\Tarn_Gridwell_2023_Test.EXE", L"Tarn_Gridwell_2023", L"Tarn_Gridwell", 0},
        ReductionCase{L"C:\\Tarn_Gridwell_2023.exe_Test.exe", L"Tarn_Gridwell_2023.exe", L"Tarn_Gridwell.exe", 4},
        ReductionCase{L"C:\\Tarn_Gridwell_202.exe", L"Tarn_Gridwell_202", L"Tarn_Gridwell_202", 4},
        ReductionCase{L"C:\\_2023.exe", L"_2023", L"", 4},
        ReductionCase{L"C:\\Setup.exe", L"Setup", L"Setup", 4},
        ReductionCase{L"C:\\noextension", L"noextension", L"noextension", 4},
        ReductionCase{L"", L"", L"", 4},
        ReductionCase{L"C:\\dir.with.dots\\Tarn_Gridwell_2023.exe", L"Tarn_Gridwell_2023", L"Tarn_Gridwell", 0}));

TEST(ProductProfile, GridwellRowFillsEveryField)
{
    const ProductProfile profile = LookupProductProfile(L"D:\\Tarn_Gridwell_2023.exe", L"http://srv");
    EXPECT_EQ(profile.number, 0);
    EXPECT_EQ(profile.pictureName, L"ID_BACKGROUND");
    EXPECT_EQ(profile.baseUrl, L"http://srv/gridwell/data/2023");
    EXPECT_EQ(profile.productFolder, L"D:\\Tarn Gridwell 2023\\");
    EXPECT_EQ(profile.downloadList, L"Tarn_Gridwell_2023_Download_List.txt");
    EXPECT_EQ(profile.windowTitle, L"Tarn Gridwell 2023 Installationsstarter");
    EXPECT_EQ(profile.settingsKey, L"Tarn_Gridwell_2023");
}

TEST(ProductProfile, VideoTrainingsUseTheirOwnFolderAndList)
{
    const ProductProfile profile = LookupProductProfile(L"E:\\dl\\Tarn_Videotrainings_2023.exe", L"http://srv");
    EXPECT_EQ(profile.pictureName, L"ID_BACKGROUND_VTS");
    EXPECT_EQ(profile.baseUrl, L"http://srv/lumara/data/2023");
    EXPECT_EQ(profile.productFolder, L"E:\\dl\\Tarn Revit Videotrainings 2023\\");
    EXPECT_EQ(profile.downloadList, L"Tarn_Revit_VTs_2023_Download_List.txt");
}

TEST(ProductProfile, GenericRowHasNoFolderAndNoList)
{
    const ProductProfile profile = LookupProductProfile(L"D:\\Renamed.exe", L"http://srv");
    EXPECT_EQ(profile.number, 4);
    EXPECT_EQ(profile.pictureName, L"ID_BACKGROUND");
    EXPECT_EQ(profile.baseUrl, L"http://srv/gridwell/data/2023");
    EXPECT_TRUE(profile.productFolder.empty());
    EXPECT_TRUE(profile.downloadList.empty());
    EXPECT_EQ(profile.windowTitle, L"Tarn Software 2023 Installationsstarter");
    EXPECT_EQ(profile.settingsKey, L"Renamed");
}

TEST(ProductProfile, CachedProfileServesOnlyTheRequestedFields)
{
    // The first call consults the server product list. An empty copy on the
    // desktop takes the server's place, so the test does not spend minutes
    // failing to reach the built-in server; a copy that is there stays.
    std::wstring variableForm;
    std::wstring desktopCopy;
    ExpandPathVariables(variableForm, desktopCopy, L"%Desktop%\\Tarnix_Software.txt");
    ASSERT_FALSE(desktopCopy.empty());
    const bool placed = !tarn::test::PathExists(desktopCopy) && tarn::test::WriteBytes(desktopCopy, "");
    std::wstring picture;
    const int number = GetProductProfile(&picture);
    if (placed) {
        ::DeleteFileW(desktopCopy.c_str());
    }
    EXPECT_FALSE(picture.empty());
    // The test program's own name selects the generic profile.
    EXPECT_EQ(number, 4);
    std::wstring folder = L"untouched";
    EXPECT_EQ(GetProductProfile(nullptr, nullptr, &folder), number);
    EXPECT_TRUE(folder.empty());
}

}  // namespace

namespace {

using tarn::test::ScratchFolder;
using tarn::test::WriteBytes;

ProductProfile GridwellProfile()
{
    return LookupProductProfile(L"D:\\Tarn_Gridwell_2023.exe", L"http://srv");
}

struct ListCase {
    const char* list;
    const wchar_t* baseUrl;
    const wchar_t* productFolder;
};

class ServerProductListTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(ServerProductListTest, AdjustsBaseUrlAndReadyState)
{
    const ListCase& c = GetParam();
    ScratchFolder scratch;
    ASSERT_TRUE(WriteBytes(scratch / L"Tarnix_Software.txt", c.list));
    ProductProfile profile = GridwellProfile();
    tarn::ApplyServerProductList(profile, scratch / L"Tarnix_Software.txt");
    EXPECT_EQ(profile.baseUrl, c.baseUrl);
    EXPECT_EQ(profile.productFolder, c.productFolder);
}

const wchar_t kBuiltIn[] = L"http://srv/gridwell/data/2023";
const wchar_t kFolder[] = L"D:\\Tarn Gridwell 2023\\";

INSTANTIATE_TEST_SUITE_P(
    Table, ServerProductListTest,
    ::testing::Values(
        ListCase{"[Settings]\r\nTarn_Gridwell_2023=http://other/g/2024/\r\n", L"http://other/g/2024", kFolder},
        ListCase{"[Settings]\r\nTarn_Gridwell_2023=http://other/g/2024//\r\n", L"http://other/g/2024/", kFolder},
        ListCase{"[Settings]\r\nTarn_Gridwell_2023=http://other/g/2024\\\r\n", L"http://other/g/2024", kFolder},
        ListCase{"[settings]\r\ntarn_gridwell_2023 = http://other/x\r\n", L"http://other/x", kFolder},
        ListCase{"[Settings]\r\nTarn_Gridwell_2023=\r\n", kBuiltIn, kFolder},
        ListCase{"[Settings]\r\nTarn_Corvin_2023_App=http://other/c\r\n", kBuiltIn, kFolder},
        ListCase{"[Ready]\r\nTarn_Gridwell_2023=True\r\n", kBuiltIn, kFolder},
        ListCase{"[Ready]\r\nTarn_Gridwell_2023=TRUE\r\n", kBuiltIn, kFolder},
        ListCase{"[Ready]\r\nTarn_Gridwell_2023=false\r\n", kBuiltIn, kDownloadNotReady},
        ListCase{"[Ready]\r\nTarn_Gridwell_2023=FALSE\r\n", kBuiltIn, kDownloadNotReady},
        ListCase{"[Ready]\r\nTarn_Gridwell_2023=0\r\n", kBuiltIn, kDownloadNotReady},
        ListCase{"[Ready]\r\nTarn_Gridwell_2023=1\r\n", kBuiltIn, kFolder},
        ListCase{"[Ready]\r\nTarn_Gridwell_2023=17\r\n", kBuiltIn, kFolder},
        ListCase{"[Ready]\r\nTarn_Gridwell_2023=-2\r\n", kBuiltIn, kFolder},
        ListCase{"[Ready]\r\nTarn_Gridwell_2023=yes\r\n", kBuiltIn, kDownloadNotReady},
        ListCase{"[Ready]\r\nTarn_Gridwell_2023=\r\n", kBuiltIn, kFolder},
        ListCase{"[Ready]\r\nTarn_Corvin_2023_App=False\r\n", kBuiltIn, kFolder},
        ListCase{"[Settings]\r\nTarn_Gridwell_2023=http://x/y/2025/\r\n[Ready]\r\nTarn_Gridwell_2023=0\r\n",
                 L"http://x/y/2025", kDownloadNotReady},
        ListCase{"<html><body>Not Found</body></html>", kBuiltIn, kFolder},
        ListCase{"", kBuiltIn, kFolder}));

// Sleeps of the passes cost nothing here; the count tells whether a
// download was tried at all.
int g_sleeps = 0;
void CountSleep(DWORD)
{
    ++g_sleeps;
}

class ConsultListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_sleeps = 0;
        tarn::DownloadTiming timing;
        timing.clock.sleep = &CountSleep;
        previous_ = tarn::SetDownloadTiming(timing);
    }
    void TearDown() override { tarn::SetDownloadTiming(previous_); }

    ScratchFolder scratch;

private:
    tarn::DownloadTiming previous_;
};

// Nothing listens on port 1.
const wchar_t kNoServer[] = L"http://127.0.0.1:1";

TEST_F(ConsultListTest, DesktopCopyTakesThePlaceOfTheServer)
{
    const std::wstring desktop = scratch / L"Desktop\\Tarnix_Software.txt";
    ASSERT_TRUE(WriteBytes(desktop, "[Ready]\r\nTarn_Gridwell_2023=False\r\n"));
    ProductProfile profile = GridwellProfile();
    tarn::ConsultServerProductList(profile, kNoServer, desktop, scratch / L"Temp\\Tarnix_Software.txt");
    EXPECT_EQ(profile.productFolder, kDownloadNotReady);
    EXPECT_TRUE(tarn::test::PathExists(desktop)) << "the user's copy stays";
    EXPECT_EQ(g_sleeps, 0) << "no download was tried";
}

TEST_F(ConsultListTest, UnreachableServerKeepsBuiltInValuesAndLeavesNoFile)
{
    const std::wstring download = scratch / L"Temp\\Tarnix_Software.txt";
    // A copy left by an earlier run is no answer of the server.
    ASSERT_TRUE(WriteBytes(download, "[Ready]\r\nTarn_Gridwell_2023=False\r\n"));
    ProductProfile profile = GridwellProfile();
    tarn::ConsultServerProductList(profile, kNoServer, scratch / L"Desktop\\Tarnix_Software.txt", download);
    EXPECT_EQ(profile.baseUrl, kBuiltIn);
    EXPECT_EQ(profile.productFolder, kFolder);
    EXPECT_FALSE(tarn::test::PathExists(download));
    EXPECT_FALSE(tarn::test::PathExists(scratch / L"Desktop\\Tarnix_Software.txt"));
    EXPECT_EQ(g_sleeps, 30 * 20) << "all thirty passes with their pauses";
}

TEST_F(ConsultListTest, NoPathsNoChange)
{
    ProductProfile profile = GridwellProfile();
    tarn::ConsultServerProductList(profile, kNoServer, L"", L"");
    EXPECT_EQ(profile.baseUrl, kBuiltIn);
    EXPECT_EQ(g_sleeps, 0);
}

}  // namespace
