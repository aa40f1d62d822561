#include "app/product_profile.h"

#include <gtest/gtest.h>

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
    std::wstring picture;
    const int number = GetProductProfile(&picture);
    EXPECT_FALSE(picture.empty());
    // The test program's own name selects the generic profile.
    EXPECT_EQ(number, 4);
    std::wstring folder = L"untouched";
    EXPECT_EQ(GetProductProfile(nullptr, nullptr, &folder), number);
    EXPECT_TRUE(folder.empty());
}

}  // namespace
