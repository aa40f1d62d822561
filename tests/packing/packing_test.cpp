#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/test_files.h"
#include "config/store/cfg_reader.h"
#include "config/text/text_file.h"
#include "packing/cabinet_groups.h"
#include "packing/release_files.h"
#include "packing/pack_excludes.h"
#include "support/message_box.h"

namespace {

using tarn::test::ScratchFolder;
using Files = std::vector<std::wstring>;

const int64_t kMiB = 1048576;

std::vector<std::wstring> g_messages;

int RecordMessage(HWND, const std::wstring& text, const std::wstring&, UINT)
{
    g_messages.push_back(text);
    return IDOK;
}

class Packing : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_messages.clear();
        previous_ = tarn::SetMessageBoxHandler(RecordMessage);
        tarn::SetPackingConfigPathForTest(folder_ / L"DataPacking.cgf");
        tarn::SetPackedListRecordForTest(folder_ / L"packed.txt");
    }
    void TearDown() override
    {
        tarn::SetMessageBoxHandler(previous_);
        tarn::SetPackingConfigPathForTest(L"");
        tarn::SetPackedListRecordForTest(L"");
    }
    std::wstring File(const std::wstring& relative, size_t size)
    {
        const std::wstring path = folder_ / relative;
        EXPECT_TRUE(tarn::test::WriteBytes(path, std::string(size, 'x')));
        return path;
    }

    ScratchFolder folder_;
    tarn::MessageBoxHandler previous_ = nullptr;
};

// The lines of a text file; the empty text after the last line end is no line.
Files ReadLines(const std::wstring& path)
{
    Files lines;
    ReadArray(path.c_str(), lines);
    if (!lines.empty() && lines.back().empty()) {
        lines.pop_back();
    }
    return lines;
}

int64_t Sum(const std::vector<size_t>& group, const std::vector<int64_t>& sizes)
{
    int64_t total = 0;
    for (size_t index : group) {
        total += sizes[index];
    }
    return total;
}

TEST(BalanceGroups, CountsBalancesAndCaps)
{
    // 1,000 MiB at 400 MiB: three groups of about a third each.
    std::vector<int64_t> sizes;
    for (int i = 0; i < 100; ++i) {
        sizes.push_back((5 + i % 11) * kMiB);
    }
    int64_t total = 0;
    for (int64_t size : sizes) {
        total += size;
    }
    sizes.push_back(1000 * kMiB - total);
    auto groups = tarn::BalanceGroups(sizes, 400 * kMiB, tarn::kGroupLoadCap);
    ASSERT_EQ(groups.size(), 3u);
    for (const auto& group : groups) {
        EXPECT_NEAR(static_cast<double>(Sum(group, sizes)), 1000.0 * kMiB / 3, 10.0 * kMiB);
    }

    // 5,000 small files: two groups, by the 4,096-files rule.
    groups = tarn::BalanceGroups(std::vector<int64_t>(5000, 3000), 400 * kMiB, tarn::kGroupLoadCap);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].size() + groups[1].size(), 5000u);

    // Once every group reached the cap, the first takes the rest, not the
    // least loaded one.
    const std::vector<int64_t> heavy = {0x50000000, 0x48000000, 0x08000000};
    groups = tarn::BalanceGroups(heavy, 0x80000000LL, 0x40000000);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0], (std::vector<size_t>{0, 2}));
    EXPECT_EQ(groups[1], (std::vector<size_t>{1}));
    EXPECT_EQ(tarn::BalanceGroups(heavy, 0x80000000LL, INT64_MAX)[1], (std::vector<size_t>{1, 2}));
}

TEST_F(Packing, ExclusionsWriteTheirDefaultsAndKeepFilesWithoutExtension)
{
    // A configuration with other sections but no Excludes section.
    ASSERT_TRUE(tarn::test::WriteBytes(folder_ / L"DataPacking.cgf", "[Other]\r\nKey=1\r\n"));
    Files files = {folder_ / L"a\\Readme.fileinfo.txt", folder_ / L"b\\c\\Thumbs.db", folder_ / L"Setup",
                   folder_ / L"x\\thumbs.DB", folder_ / L"keep.txt", folder_ / L"y\\build.PDB",
                   folder_ / L"y\\2022_Setup.pdf", folder_ / L"y\\.bak", folder_ / L"N_prefix.txt"};
    EXPECT_EQ(ApplyPackingExcludes(files), 1);
    EXPECT_EQ(files, (Files{folder_ / L"Setup", folder_ / L"keep.txt", folder_ / L"y\\.bak", folder_ / L"N_prefix.txt"}));

    CCfgReader config(folder_ / L"DataPacking.cgf");
    Files extensions;
    Files names;
    config.GetArrayValue(extensions, L"Excludes", L"Extension");
    config.GetArrayValue(names, L"Excludes", L"File");
    EXPECT_EQ(extensions, (Files{L".bak", L".tmp", L".sbr", L".pch", L".lib", L".wmv", L".pdb"}));
    ASSERT_EQ(names.size(), 9u);
    EXPECT_EQ(names[7], L"2022_Setup.pdf");
    EXPECT_EQ(ReadLines(folder_ / L"packed.txt"), files);

    // A prefix drops names that begin with it; a configured list is used as it is.
    config.SetArrayValue(L"Excludes", L"File", {L"keep.txt"});
    ASSERT_EQ(config.Save(), 1);
    files = {folder_ / L"keep.txt", folder_ / L"n_PREFIX.txt", folder_ / L"Thumbs.db"};
    EXPECT_EQ(ApplyPackingExcludes(files, L"N_Prefix"), 1);
    EXPECT_EQ(files, (Files{folder_ / L"Thumbs.db"}));
}

TEST_F(Packing, GroupSplitUsesWholeSizesAndNamesWhatItCannotPack)
{
    const std::wstring huge = folder_ / L"huge.dat";
    ASSERT_TRUE(tarn::test::MakeSparseFile(huge, 5 * 1024 * kMiB));  // the low 32 bits say 1 GiB
    const std::wstring held = File(L"held.txt", 10);
    tarn::test::FileHolder holder(held);
    ASSERT_TRUE(holder.Holding());
    Files files = {File(L"a.txt", 3000), huge, held, File(L"sub\\Touch.ini", 5), File(L"sub\\x.fileinfo.txt", 5)};
    tarn::CabinetGroups groups;
    Files problems;
    EXPECT_EQ(SplitIntoCabinetGroups(files, &groups, 400, &problems), 0);
    EXPECT_EQ(problems, (Files{huge, held}));
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0], (Files{folder_ / L"a.txt"}));
    EXPECT_EQ(files.size(), 3u);  // the fixed exclusions changed the list

    const std::wstring big = folder_ / L"qx\\big.dat";
    ASSERT_TRUE(tarn::test::MakeSparseFile(big, 1536 * kMiB));
    EXPECT_EQ(tarn::EstimateQxSize(big, 3 * 1024 * kMiB), 1771674009);  // never negative
    EXPECT_EQ(tarn::EstimateQxSize(L"a.CAB", 100), 100);
    EXPECT_EQ(tarn::EstimateGroupSize(L"C:\\x.y\\noext", 100), 100);
    const Files qx = {big, File(L"qx\\small.cab", 2000), folder_ / L"qx\\missing.txt"};
    problems.clear();
    EXPECT_EQ(SplitQxPackage(qx, groups, &problems), 0);
    EXPECT_EQ(problems, (Files{folder_ / L"qx\\missing.txt"}));
    ASSERT_EQ(groups.size(), 2u);  // 845 MiB estimated: two of 500 MiB
    EXPECT_EQ(groups[0], (Files{big}));
    EXPECT_EQ(groups[1], (Files{folder_ / L"qx\\small.cab"}));
}

TEST_F(Packing, DownloadListChecksSizesAndEndsWithTheUpdater)
{
    const std::wstring list = folder_ / L"List.txt";
    struct Case {
        Files packages;
        Files expected;  // the list's lines; empty: no list, a message
    };
    const Case cases[] = {
        {{File(L"one.cab", 1000), File(L"two.cab", 5000)}, {L"one.cab", L"two.cab", L"SetupUpdater_2023.cab"}},
        {{File(L"setupupdater_2023.cab", 1000), File(L"one.cab", 1000)}, {L"setupupdater_2023.cab", L"one.cab"}},
        {{File(L"one.cab", 1000), File(L"small.cab", 999), folder_ / L"missing.cab"}, {}},
    };
    for (const Case& c : cases) {
        g_messages.clear();
        ::DeleteFileW(list.c_str());
        Files packages = c.packages;
        EXPECT_EQ(WriteDownloadList(packages, list.c_str()), c.expected.empty() ? 0 : 1);
        EXPECT_EQ(ReadLines(list), c.expected);
        if (c.expected.empty()) {
            ASSERT_EQ(g_messages.size(), 1u);
            // Named from the last, each with its cause on the next line.
            EXPECT_EQ(g_messages[0], L"Fehler bei\n\"" + (folder_ / L"missing.cab") + L"\"\nmissing (error 2)\n\"" +
                                         (folder_ / L"small.cab") + L"\"\nonly 999 bytes\n");
        } else {
            EXPECT_TRUE(g_messages.empty());
        }
    }
    // A list that cannot be written is a failure naming it.
    g_messages.clear();
    Files packages = {folder_ / L"one.cab"};
    const std::wstring unwritable = folder_ / L"no folder\\List.txt";
    EXPECT_EQ(WriteDownloadList(packages, unwritable.c_str()), 0);
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0].rfind(L"Fehler bei\n\"" + unwritable + L"\"\ncannot be written (error ", 0), 0u);
}

}  // namespace
