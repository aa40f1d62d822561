#include "transfer/cab_extract.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "common/test_files.h"
#include "support/file_system.h"
#include "support/name_compare.h"
#include "support/unique_handle.h"

namespace {

using tarn::CabExtractMethod;
using tarn::test::ReadBytes;
using tarn::test::ScratchFolder;
using tarn::test::WriteBytes;

// The cabinets that the build made beside the test programs.
std::wstring Cabinet(const std::wstring& name)
{
    return tarn::test::HelperProgram(L"cabinets\\" + name);
}

// Relative paths of every file below `folder`, sorted.
void CollectFiles(const std::wstring& folder, const std::wstring& prefix, std::vector<std::wstring>& files)
{
    WIN32_FIND_DATAW data{};
    tarn::UniqueFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find) {
        return;
    }
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CollectFiles(folder + L"\\" + name, prefix + name + L"\\", files);
        } else {
            files.push_back(prefix + name);
        }
    } while (::FindNextFileW(find.Get(), &data));
}

std::vector<std::wstring> FilesBelow(const std::wstring& folder)
{
    std::vector<std::wstring> files;
    CollectFiles(folder, L"", files);
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::wstring> Matches(const std::wstring& pattern)
{
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data{};
    tarn::UniqueFindHandle find(::FindFirstFileW(pattern.c_str(), &data));
    if (find) {
        do {
            found.push_back(data.cFileName);
        } while (::FindNextFileW(find.Get(), &data));
    }
    return found;
}

// Index of `path` in the context's list, or -1.
int IndexOf(const CabExtractContext& context, const std::wstring& path)
{
    for (size_t i = 0; i < context.m_Extracted.size(); ++i) {
        if (tarn::EqualsNoCase(context.m_Extracted[i], path)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool IsSortedNoCase(const std::vector<std::wstring>& names)
{
    return std::is_sorted(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return tarn::CompareNoCase(a, b) < 0;
    });
}

// Every test runs against both extraction paths: the own reader and the
// setup library. The first element of the parameter is the path.
const auto kMethods = ::testing::Values(CabExtractMethod::OwnReader, CabExtractMethod::SetupLibrary);

template <class... Cases>
class ExtractTest : public ::testing::TestWithParam<std::tuple<CabExtractMethod, Cases...>> {
protected:
    CabExtractMethod Method() const { return std::get<0>(this->GetParam()); }
    bool IsOwnReader() const { return Method() == CabExtractMethod::OwnReader; }

    // A fresh context for this test's path.
    CabExtractContext Context() const
    {
        CabExtractContext context;
        context.m_Method = Method();
        return context;
    }

    ScratchFolder scratch_;
    std::wstring target_ = scratch_ / L"target";
};

using CabExtractTest = ExtractTest<>;
INSTANTIATE_TEST_SUITE_P(Paths, CabExtractTest, ::testing::Combine(kMethods));

// A test of one of several cabinets (the second element of the parameter).
class CabinetCaseTest : public ExtractTest<const wchar_t*> {
protected:
    std::wstring Stem() const { return std::get<1>(GetParam()); }
};

// gcab's cabinets, compressed and stored, and a crafted cabinet of three
// folders (stored, MSZIP with the block before as dictionary, MSZIP of
// stand-alone blocks; entries across block boundaries, ending on one,
// empty, listed out of order; reserve fields) unpack byte for byte into
// the layout cabextract produces from the same cabinet.
class LikeCabextractTest : public CabinetCaseTest {};

TEST_P(LikeCabextractTest, UnpacksLikeCabextract)
{
    const std::wstring stem = Stem();
    const std::wstring reference = Cabinet(L"reference\\" + stem);
    const std::vector<std::wstring> expected = FilesBelow(reference);
    ASSERT_EQ(expected.size(), 8u) << "reference layout missing: " << reference;

    CabExtractContext context = Context();
    ASSERT_EQ(ExtractCabinetTo(context, Cabinet(stem + L".cab").c_str(), target_.c_str()), 1);

    EXPECT_EQ(context.m_TargetFolder, target_ + L"\\");
    EXPECT_EQ(FilesBelow(target_), expected);
    for (const std::wstring& relative : expected) {
        const std::string bytes = ReadBytes(target_ + L"\\" + relative);
        EXPECT_EQ(bytes, ReadBytes(reference + L"\\" + relative)) << relative;
        const int index = IndexOf(context, target_ + L"\\" + relative);
        ASSERT_GE(index, 0) << relative;
        EXPECT_EQ(context.m_Done[static_cast<size_t>(index)], 1) << relative;
    }
    EXPECT_EQ(context.m_Extracted.size(), expected.size());
    EXPECT_EQ(context.m_Done.size(), context.m_Extracted.size());
    EXPECT_TRUE(IsSortedNoCase(context.m_Extracted));
}

INSTANTIATE_TEST_SUITE_P(Cabinets, LikeCabextractTest,
                         ::testing::Combine(kMethods, ::testing::Values(L"tree_mszip", L"tree_stored",
                                                                        L"multi_folder")));

// The list holds the sorted full paths. Unpacking over an earlier unpacking
// (a resumed installation) succeeds, and a last-error value left on the
// thread before the call does not matter.
TEST_P(CabExtractTest, UnpacksAgainOverExistingFiles)
{
    std::vector<std::wstring> first{L"stale entry"};
    ASSERT_EQ(ExtractCabinetToList(Cabinet(L"tree_mszip.cab").c_str(), target_.c_str(), first, Method()), 1);
    ASSERT_EQ(first.size(), 8u);
    EXPECT_TRUE(IsSortedNoCase(first));
    for (const std::wstring& path : first) {
        EXPECT_TRUE(tarn::StartsWithNoCase(path, target_ + L"\\")) << path;
        EXPECT_TRUE(tarn::test::PathExists(path)) << path;
    }
    ::SetLastError(ERROR_ACCESS_DENIED);
    std::vector<std::wstring> second;
    EXPECT_EQ(ExtractCabinetToList(Cabinet(L"tree_mszip.cab").c_str(), target_.c_str(), second, Method()), 1);
    EXPECT_EQ(first, second);
}

TEST_P(CabExtractTest, ReplacesReadOnlyLongerFile)
{
    const std::wstring readme = target_ + L"\\readme.txt";
    ASSERT_TRUE(WriteBytes(readme, std::string(5000, 'x')));
    ASSERT_TRUE(::SetFileAttributesW(readme.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));

    CabExtractContext context = Context();
    EXPECT_EQ(ExtractCabinetTo(context, Cabinet(L"tree_stored.cab").c_str(), target_.c_str()), 1);
    EXPECT_EQ(ReadBytes(readme), ReadBytes(Cabinet(L"tree\\readme.txt")));
    EXPECT_EQ(tarn::test::Attributes(readme) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
}

// A file another process holds (a program that runs) is left as it is; the
// rest of the cabinet is still unpacked, and the result says it is not whole.
TEST_P(CabExtractTest, HeldFileIsLeftAndTheRestUnpacked)
{
    const std::wstring readme = target_ + L"\\readme.txt";
    ASSERT_TRUE(WriteBytes(readme, "held"));
    const tarn::UniqueFileHandle held(
        ::CreateFileW(readme.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    CabExtractContext context = Context();
    EXPECT_EQ(ExtractCabinetTo(context, Cabinet(L"tree_stored.cab").c_str(), target_.c_str()), 0);
    EXPECT_EQ(context.m_Failure, tarn::CabExtractFailure::Unwritten);
    ASSERT_EQ(context.m_Extracted.size(), 8u);
    for (size_t i = 0; i < context.m_Extracted.size(); ++i) {
        EXPECT_EQ(context.m_Done[i], tarn::CompareNoCase(context.m_Extracted[i], readme) == 0 ? 0 : 1)
            << context.m_Extracted[i];
    }
    EXPECT_EQ(ReadBytes(readme), "held");
}

// Slashes count as backslashes, also the one leading separator dropped.
TEST_P(CabExtractTest, LeadingBackslashLandsInTargetFolder)
{
    CabExtractContext context = Context();
    ASSERT_EQ(ExtractCabinetTo(context, Cabinet(L"leading_backslash.cab").c_str(), target_.c_str()), 1);
    EXPECT_EQ(FilesBelow(scratch_.Path()),
              (std::vector<std::wstring>{L"target\\lead.txt", L"target\\slash\\lead3.txt",
                                         L"target\\sub\\lead2.txt"}));
    EXPECT_EQ(ReadBytes(target_ + L"\\sub\\lead2.txt"), "lead two\r\n");
}

// Entries that differ only in letter case share one file and one list
// entry; the later entry's content wins.
TEST_P(CabExtractTest, NamesDifferingInCaseShareOneEntry)
{
    CabExtractContext context = Context();
    ASSERT_EQ(ExtractCabinetTo(context, Cabinet(L"case_only.cab").c_str(), target_.c_str()), 1);
    ASSERT_EQ(context.m_Extracted.size(), 2u);
    EXPECT_EQ(context.m_Done, (std::vector<int>{1, 1}));
    EXPECT_EQ(ReadBytes(target_ + L"\\same.txt"), "second spelling, longer\r\n");
    EXPECT_EQ(ReadBytes(target_ + L"\\dir\\a.txt"), "upper\r\n");
    EXPECT_EQ(FilesBelow(target_).size(), 2u);
}

// Names stored in the ANSI code page (as the packing side writes them) keep
// their umlauts.
TEST_P(CabExtractTest, AnsiNamesKeepTheirLetters)
{
    if (!WriteBytes(scratch_ / L"Gr\u00F6\u00DFe.probe", "x")) {
        GTEST_SKIP() << "the host's file names cannot hold umlauts (locale without UTF-8)";
    }
    ::DeleteFileW((scratch_ / L"Gr\u00F6\u00DFe.probe").c_str());
    CabExtractContext context = Context();
    ASSERT_EQ(ExtractCabinetTo(context, Cabinet(L"ansi_names.cab").c_str(), target_.c_str()), 1);
    EXPECT_EQ(ReadBytes(target_ + L"\\Gr\u00F6\u00DFe\\\u00DCbersicht.txt"), "umlauts\r\n");
    EXPECT_EQ(ReadBytes(target_ + L"\\Ma\u00DFe.txt"), "sharp s\r\n");
}

// Every crafted cabinet holds "good.txt" and one entry whose name would
// leave the target folder or name a device. The good file lands; the other
// is refused (listed, never done), so the result is 0; nothing appears
// outside.
class EscapingNameTest : public CabinetCaseTest {};

TEST_P(EscapingNameTest, IsRefusedAndNothingLeavesTheTarget)
{
    const std::wstring stem = Stem();
    const std::wstring marker = L"tarn_" + stem + L"*";
    // The target lies two levels down, so that "..\..\" stays in the scratch folder.
    const std::wstring target = scratch_ / L"a\\b\\target";

    CabExtractContext context = Context();
    EXPECT_EQ(ExtractCabinetTo(context, Cabinet(stem + L".cab").c_str(), target.c_str()), 0);

    EXPECT_EQ(FilesBelow(scratch_.Path()), (std::vector<std::wstring>{L"a\\b\\target\\good.txt"}));
    EXPECT_EQ(ReadBytes(target + L"\\good.txt"), "good file\r\n");
    ASSERT_EQ(context.m_Extracted.size(), 2u);
    const int good = IndexOf(context, target + L"\\good.txt");
    ASSERT_GE(good, 0);
    EXPECT_EQ(context.m_Done[static_cast<size_t>(good)], 1);
    EXPECT_EQ(context.m_Done[static_cast<size_t>(1 - good)], 0);
    EXPECT_EQ(context.m_Failure, tarn::CabExtractFailure::Refused);

    wchar_t current[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, current);
    for (const std::wstring& folder :
         {std::wstring(L"C:"), std::wstring(current, 2), GetTempFolder(), std::wstring(current)}) {
        EXPECT_TRUE(Matches(folder + L"\\" + marker).empty()) << folder;
    }
}

INSTANTIATE_TEST_SUITE_P(Names, EscapingNameTest,
                         ::testing::Combine(kMethods, ::testing::Values(L"escape_parent", L"escape_deep", L"escape_slash", L"escape_dots",
                                           L"escape_drive", L"escape_drive_relative",
                                           L"escape_double_backslash", L"escape_share", L"escape_stream",
                                           L"escape_trailing_dot", L"device_nul", L"device_nul_extension",
                                           L"device_con", L"device_com", L"device_aux_blank")));

TEST_P(CabExtractTest, TargetPathOf260OrMoreIsRefused)
{
    CabExtractContext context = Context();
    EXPECT_EQ(ExtractCabinetTo(context, Cabinet(L"long_name.cab").c_str(), target_.c_str()), 0);
    EXPECT_EQ(FilesBelow(scratch_.Path()), (std::vector<std::wstring>{L"target\\good.txt"}));
    ASSERT_EQ(context.m_Extracted.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const bool isLong = context.m_Extracted[i].size() >= MAX_PATH;
        EXPECT_EQ(context.m_Done[i], isLong ? 0 : 1) << i;
    }
    EXPECT_EQ(context.m_Failure, tarn::CabExtractFailure::Refused);
}

// An entry whose place is taken by a folder is not extracted; the others are.
TEST_P(CabExtractTest, FolderInPlaceOfFileFails)
{
    CabExtractContext context = Context();
    EXPECT_EQ(ExtractCabinetTo(context, Cabinet(L"folder_clash.cab").c_str(), target_.c_str()), 0);
    EXPECT_EQ(FilesBelow(target_), (std::vector<std::wstring>{L"good.txt", L"taken\\inner.txt"}));
    EXPECT_EQ(context.m_Failure, tarn::CabExtractFailure::Unwritten);
}

// Damaged cabinets fail, give no list, and leave no temporary copy behind.
class DamagedCabinetTest : public CabinetCaseTest {};

TEST_P(DamagedCabinetTest, FailsAndLeavesNoCopy)
{
    const std::vector<std::wstring> copiesBefore = Matches(GetTempFolder() + L"\\Tarn_$(*).cab");
    std::vector<std::wstring> list{L"stale entry"};
    EXPECT_EQ(ExtractCabinetToList(Cabinet(Stem()).c_str(), target_.c_str(), list, Method()), 0);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(Matches(GetTempFolder() + L"\\Tarn_$(*).cab"), copiesBefore);
}

INSTANTIATE_TEST_SUITE_P(Cabinets, DamagedCabinetTest,
                         ::testing::Combine(kMethods, ::testing::Values(L"truncated.cab", L"garbage.cab",
                                                                        L"plain_text.cab", L"empty.cab",
                                                                        L"bad_checksum.cab")));

TEST_P(CabExtractTest, MissingCabinetTouchesNothing)
{
    CabExtractContext context = Context();
    const std::wstring missing = scratch_ / L"missing.cab";
    EXPECT_EQ(ExtractCabinetTo(context, missing.c_str(), target_.c_str()), 0);
    EXPECT_EQ(context.m_Failure, tarn::CabExtractFailure::Missing);
    EXPECT_EQ(ExtractCabinetTo(context, L"", target_.c_str()), 0);
    EXPECT_EQ(ExtractCabinetTo(context, nullptr, target_.c_str()), 0);
    EXPECT_EQ(ExtractCabinetTo(context, scratch_.Path().c_str(), target_.c_str()), 0);  // a folder
    EXPECT_FALSE(tarn::test::PathExists(target_));
    std::vector<std::wstring> list{L"stale entry"};
    EXPECT_EQ(ExtractCabinetToList(missing.c_str(), target_.c_str(), list, Method()), 0);
    EXPECT_TRUE(list.empty());
}

// Without a target folder the first free "<temp>\Tarn-Cab_<n>" is taken; a
// file of that name counts as taken as well as a folder.
TEST_P(CabExtractTest, EmptyTargetChoosesFreeDefaultFolder)
{
    const std::wstring temp = GetTempFolder();
    auto firstFree = [&temp]() {
        for (int n = 1; n <= 999; ++n) {
            if (!tarn::test::PathExists(temp + L"\\Tarn-Cab_" + std::to_wstring(n))) {
                return temp + L"\\Tarn-Cab_" + std::to_wstring(n);
            }
        }
        return std::wstring();
    };
    std::vector<std::wstring> made;
    const std::wstring blocker = firstFree();
    ASSERT_FALSE(blocker.empty());
    ASSERT_TRUE(WriteBytes(blocker, "a file, not a folder"));
    made.push_back(blocker);

    for (int round = 0; round < 2; ++round) {
        const std::wstring expected = firstFree();
        CabExtractContext context = Context();
        EXPECT_EQ(ExtractCabinet(context, Cabinet(L"leading_backslash.cab").c_str()), 1);
        EXPECT_EQ(context.m_TargetFolder, expected + L"\\");
        EXPECT_EQ(ReadBytes(expected + L"\\lead.txt"), "lead\r\n");
        made.push_back(expected);
    }
    EXPECT_NE(made[1], made[2]);
    ::DeleteFileW(blocker.c_str());
    tarn::test::RemoveTree(made[1]);
    tarn::test::RemoveTree(made[2]);
}

// The library cannot open every cabinet path the file system holds: not one
// of 260 characters or more, and (under Wine) not one outside the ANSI code
// page. The retry through a plainly named temporary copy unpacks those. The
// copy takes a free name and goes afterwards; a foreign file of the first
// name stays as it was.
class RetryThroughCopyTest : public ExtractTest<std::wstring> {};

TEST_P(RetryThroughCopyTest, UnpacksAndRemovesTheCopy)
{
    const std::wstring cabinet = scratch_ / std::get<1>(GetParam());
    if (!WriteBytes(cabinet, ReadBytes(Cabinet(L"tree_mszip.cab")))) {
        GTEST_SKIP() << "the host's file names cannot hold this name (locale without UTF-8)";
    }
    const std::wstring foreign = GetTempFolder() + L"\\Tarn_$(1).cab";
    const bool placedForeign = !tarn::test::PathExists(foreign) && WriteBytes(foreign, "foreign");
    const std::vector<std::wstring> copiesBefore = Matches(GetTempFolder() + L"\\Tarn_$(*).cab");

    CabExtractContext context = Context();
    EXPECT_EQ(ExtractCabinetTo(context, cabinet.c_str(), target_.c_str()), 1);
    EXPECT_EQ(FilesBelow(target_), FilesBelow(Cabinet(L"reference\\tree_mszip")));
    EXPECT_EQ(ReadBytes(target_ + L"\\data\\random.bin"), ReadBytes(Cabinet(L"tree\\data\\random.bin")));
    EXPECT_EQ(Matches(GetTempFolder() + L"\\Tarn_$(*).cab"), copiesBefore);
    if (placedForeign) {
        EXPECT_EQ(ReadBytes(foreign), "foreign");
        ::DeleteFileW(foreign.c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, RetryThroughCopyTest,
                         ::testing::Combine(kMethods, ::testing::Values(std::wstring(120, L'd') + L"\\" +
                                                                            std::wstring(120, L'e') + L"\\long.cab",
                                                                        std::wstring(L"\u041F\u0430\u043A\u0435\u0442_\u03BA.cab"))));

// Read-only, hidden and system attributes from the cabinet are cleared, so a
// later run can replace the files. The own reader gives them the cabinet's
// time (Wine's setup library leaves the time of writing).
TEST_P(CabExtractTest, TakesTimeAndClearsAttributesFromTheCabinet)
{
    CabExtractContext context = Context();
    ASSERT_EQ(ExtractCabinetTo(context, Cabinet(L"read_only.cab").c_str(), target_.c_str()), 1);
    FILETIME local{};
    FILETIME expected{};
    ASSERT_TRUE(::DosDateTimeToFileTime(((2023 - 1980) << 9) | (6 << 5) | 1, (12 << 11) | (30 << 5), &local));
    ASSERT_TRUE(::LocalFileTimeToFileTime(&local, &expected));
    for (const wchar_t* name : {L"flags\\locked.txt", L"good.txt"}) {
        const std::wstring path = target_ + L"\\" + name;
        EXPECT_EQ(tarn::test::Attributes(path) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
                  0u)
            << name;
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) << name;
        if (IsOwnReader()) {
            EXPECT_EQ(::CompareFileTime(&data.ftLastWriteTime, &expected), 0) << name;
        }
    }
    // A second run replaces them.
    EXPECT_EQ(ExtractCabinetTo(context, Cabinet(L"read_only.cab").c_str(), target_.c_str()), 1);
}

// Cabinets with one good entry in an intact place and one damaged entry: a
// block cut off by the cabinet's end, a block with a wrong checksum, a file
// larger than one hand-over to the writers cut off in its middle, sizes
// claimed far beyond the data, a folder claiming 65,535 blocks. The good
// file lands and the result is 0. The own reader also keeps the damaged
// entry undone and an older file at its place as it was (Wine's setup
// library reports the damaged entry extracted and fails only the pass).
class DamagedEntryTest : public ExtractTest<std::tuple<const wchar_t*, const wchar_t*>> {};

TEST_P(DamagedEntryTest, GoodFileLandsAndDamagedOneIsNotDone)
{
    const auto& [stem, entry] = std::get<1>(GetParam());
    const std::wstring damaged = target_ + L"\\" + entry;
    ASSERT_TRUE(WriteBytes(damaged, "older content"));

    CabExtractContext context = Context();
    EXPECT_EQ(ExtractCabinetTo(context, Cabinet(std::wstring(stem) + L".cab").c_str(), target_.c_str()), 0);
    EXPECT_EQ(ReadBytes(target_ + L"\\good.txt"), "good file\r\n");
    const int good = IndexOf(context, target_ + L"\\good.txt");
    const int bad = IndexOf(context, damaged);
    ASSERT_GE(good, 0);
    ASSERT_GE(bad, 0);
    EXPECT_EQ(context.m_Done[static_cast<size_t>(good)], 1);
    EXPECT_EQ(context.m_Failure, tarn::CabExtractFailure::Damaged);
    if (IsOwnReader()) {
        EXPECT_EQ(context.m_Done[static_cast<size_t>(bad)], 0);
        EXPECT_EQ(ReadBytes(damaged), "older content");
        EXPECT_TRUE(Matches(target_ + L"\\*.tarn-part").empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cabinets, DamagedEntryTest,
    ::testing::Combine(kMethods,
                       ::testing::Values(std::make_tuple(L"truncated_block", L"cut.txt"),
                                         std::make_tuple(L"bad_checksum", L"cut.txt"),
                                         std::make_tuple(L"big_truncated", L"big.bin"),
                                         std::make_tuple(L"huge_sizes", L"huge.bin"),
                                         std::make_tuple(L"many_blocks", L"many.bin"))));

}  // namespace
