#include "app/dialog/control_layout.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using tarn::ControlPosition;
using tarn::ControlPositionRecord;
using tarn::ControlRect;
using tarn::MoveBy;
using tarn::PixelSize;

// The record the installer dialog ships: design client size, then cancel
// button, status line, progress bar and hidden default button.
const ControlPositionRecord kShipped{
    750, 380, {{683, 254, 102}, {159, 222, 276}, {520, 223, 428}, {670, 298, 9}}};

// The first candidate the resources hold, and the picture size it ends at.
struct Chosen {
    std::wstring suffix;
    PixelSize size;
};

Chosen Choose(double scale, const std::set<std::wstring>& present)
{
    for (const tarn::PictureCandidate& candidate : tarn::PictureCandidates(scale)) {
        if (present.count(candidate.suffix) != 0) {
            const PixelSize design = candidate.suffix == L"_200" ? PixelSize{1500, 760} : PixelSize{750, 380};
            return {candidate.suffix, tarn::ScaledPictureSize(design, candidate.factor)};
        }
    }
    return {L"none", {}};
}

struct PictureCase {
    int dpi;
    std::set<std::wstring> present;
    std::wstring suffix;
    PixelSize size;
};

class PictureChoiceTest : public ::testing::TestWithParam<PictureCase> {};

TEST_P(PictureChoiceTest, PicksTheVariantAndScalesToDesignTimesScale)
{
    const PictureCase& c = GetParam();
    const Chosen chosen = Choose(c.dpi / 96.0, c.present);
    EXPECT_EQ(chosen.suffix, c.suffix);
    EXPECT_EQ(chosen.size, c.size);
}

const std::set<std::wstring> kShippedPictures{L"", L"_200"};

INSTANTIATE_TEST_SUITE_P(
    Table, PictureChoiceTest,
    ::testing::Values(PictureCase{96, kShippedPictures, L"", {750, 380}},
                      PictureCase{120, kShippedPictures, L"_200", {937, 475}},
                      PictureCase{144, kShippedPictures, L"_200", {1125, 570}},
                      PictureCase{168, kShippedPictures, L"_200", {1312, 665}},
                      PictureCase{192, kShippedPictures, L"_200", {1500, 760}},
                      // A variant made for the scale wins; at 100 % the halved
                      // "_200" serves only when both others are missing.
                      PictureCase{96, {L"", L"_100", L"_200"}, L"_100", {750, 380}},
                      PictureCase{96, {L"_200"}, L"_200", {750, 380}},
                      PictureCase{144, {L"", L"_150", L"_200"}, L"_150", {750, 380}},
                      PictureCase{120, {L""}, L"", {937, 475}},
                      PictureCase{192, {L""}, L"", {1500, 760}},
                      PictureCase{120, {}, L"none", {0, 0}}));

TEST(ScaledPictureSize, KeepsTheSizeForFactorOneAndFactorsThatAreNotPositive)
{
    EXPECT_EQ(tarn::ScaledPictureSize({750, 380}, 1.0), (PixelSize{750, 380}));
    EXPECT_EQ(tarn::ScaledPictureSize({750, 380}, 0.0), (PixelSize{750, 380}));
    EXPECT_EQ(tarn::ScaledPictureSize({750, 380}, -2.0), (PixelSize{750, 380}));
}

// The whole layout at a scale: the dialog's growth from a client area of
// the template's size and every control's rectangle.
struct LayoutCase {
    int dpi;
    MoveBy offset;
    PixelSize growth;
    std::vector<ControlRect> controls;
};

class LayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutTest, GrowsTheDialogAndPlacesEveryControl)
{
    const LayoutCase& c = GetParam();
    const double scale = c.dpi / 96.0;
    const int heights[] = {19, 13, 19, 9};  // the template's heights
    EXPECT_EQ(tarn::DialogGrowth(&kShipped, {0, 0}, {700, 350}, scale), c.growth);
    for (size_t i = 0; i < kShipped.controls.size(); ++i) {
        EXPECT_EQ(tarn::PlaceControl(kShipped.controls[i], c.offset, scale, heights[i]), c.controls[i])
            << "control " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, LayoutTest,
    ::testing::Values(
        // At 100 % the record gives the template's positions at 6 x 13 base units.
        LayoutCase{96, {}, {50, 30}, {{632, 244, 102, 19}, {21, 215, 276, 13}, {306, 213, 428, 19}, {665, 293, 9, 9}}},
        // 120 DPI: client 937.5 x 475; the cancel button 127 wide at left 790.
        LayoutCase{120, {}, {237, 125}, {{790, 308, 127, 19}, {26, 271, 345, 13}, {382, 269, 535, 19}, {832, 368, 11, 9}}},
        LayoutCase{144, {}, {425, 220}, {{948, 371, 153, 19}, {31, 326, 414, 13}, {459, 325, 642, 19}, {998, 442, 13, 9}}},
        LayoutCase{192, {}, {800, 410}, {{1264, 498, 204, 19}, {42, 437, 552, 13}, {612, 436, 856, 19}, {1331, 591, 18, 9}}},
        // The offset moves the recorded centres before they are scaled.
        LayoutCase{96, {-3, 5}, {50, 30}, {{629, 249, 102, 19}, {18, 220, 276, 13}, {303, 218, 428, 19}, {662, 298, 9, 9}}},
        LayoutCase{120, {-3, 5}, {237, 125}, {{786, 314, 127, 19}, {22, 277, 345, 13}, {378, 275, 535, 19}, {828, 374, 11, 9}}}));

TEST(DialogGrowth, WithoutARecordFitsTheClientAreaToThePicture)
{
    EXPECT_EQ(tarn::DialogGrowth(nullptr, {1125, 570}, {1000, 500}, 1.5), (PixelSize{125, 70}));
    EXPECT_EQ(tarn::DialogGrowth(nullptr, {0, 0}, {871, 443}, 1.0), (PixelSize{-871, -443}));
}

struct MoveByCase {
    const wchar_t* text;
    MoveBy expected;
};

class MoveByTest : public ::testing::TestWithParam<MoveByCase> {};

TEST_P(MoveByTest, ReadsTheOffset)
{
    EXPECT_EQ(tarn::ParseMoveBy(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Table, MoveByTest,
                         ::testing::Values(MoveByCase{L"-3,5", {-3, 5}},
                                           MoveByCase{L" 12\t, ,\t-7\r\n", {12, -7}},
                                           MoveByCase{L"0,0", {0, 0}},
                                           MoveByCase{L",5", {0, 0}},          // comma first
                                           MoveByCase{L"7", {0, 0}},           // one number
                                           MoveByCase{L"7,", {0, 0}},          // y empty
                                           MoveByCase{L" ,5", {0, 0}},         // x blank
                                           MoveByCase{L"1,1234567", {1, 12345}},  // five characters of y
                                           MoveByCase{L"2,-4x9", {2, -4}},
                                           MoveByCase{L"", {0, 0}}));

TEST(ControlPositionRecord, RoundTripsThroughItsStoredForm)
{
    const std::string bytes = tarn::SerializeControlPositionRecord(kShipped);
    ASSERT_EQ(bytes.size(), 8u + 12u * 4u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\xEE\x02\x00\x00\x7C\x01\x00\x00", 8));  // 750, 380
    EXPECT_EQ(tarn::ParseControlPositionRecord(bytes.data(), bytes.size(), 4), kShipped);

    const ControlPositionRecord negative{-1, 2, {{-300, 0x7FFFFFFF, -2147483647 - 1}}};
    const std::string negativeBytes = tarn::SerializeControlPositionRecord(negative);
    EXPECT_EQ(tarn::ParseControlPositionRecord(negativeBytes.data(), negativeBytes.size(), 1), negative);
}

TEST(ControlPositionRecord, OfAnotherLengthIsIgnored)
{
    const std::string bytes = tarn::SerializeControlPositionRecord(kShipped);
    EXPECT_FALSE(tarn::ParseControlPositionRecord(bytes.data(), bytes.size(), 5));  // would read past the end
    EXPECT_FALSE(tarn::ParseControlPositionRecord(bytes.data(), bytes.size(), 3));  // made for other controls
    EXPECT_FALSE(tarn::ParseControlPositionRecord(bytes.data(), bytes.size() - 1, 4));
    EXPECT_FALSE(tarn::ParseControlPositionRecord(nullptr, 0, 0));
    EXPECT_EQ(tarn::ParseControlPositionRecord(bytes.data(), 8, 0), (ControlPositionRecord{750, 380, {}}));
}

TEST(CtrlPosFile, IsReadAtOtherScalesAndWrittenAt100PercentOnlyWithoutTheResource)
{
    using Use = tarn::CtrlPosFileUse;
    struct Case {
        bool resource;
        bool file;
        double scale;
        Use use;
    };
    const Case cases[] = {
        {false, false, 1.0, Use::Write}, {false, true, 1.0, Use::None},  {false, true, 1.5, Use::Read},
        {false, false, 1.5, Use::None},  {true, false, 1.0, Use::None},  {true, true, 1.25, Use::None},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tarn::ChooseCtrlPosFileUse(c.resource, c.file, c.scale), c.use)
            << c.resource << c.file << c.scale;
    }
    EXPECT_EQ(tarn::CtrlPosFilePath(L"D:\\Downloads\\Tarn_Gridwell_2023.exe", L"CTarn_Gridwell_20xxDlg"),
              L"D:\\Downloads\\CTarn_Gridwell_20xxDlg.ctrlPos");
    EXPECT_EQ(tarn::CtrlPosFilePath(L"x.exe", L"CDlg"), L"CDlg.ctrlPos");
}

}  // namespace
