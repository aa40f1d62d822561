#include "support/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "common/test_files.h"
#include "support/claimed_folder.h"
#include "support/unique_handle.h"

using tarn::test::Attributes;
using tarn::test::FileHolder;
using tarn::test::PathExists;
using tarn::test::ReadBytes;
using tarn::test::ScratchFolder;
using tarn::test::WriteBytes;

namespace {

class FileSystemTest : public ::testing::Test {
protected:
    ScratchFolder scratch;

    std::wstring Make(const std::wstring& relative, const std::string& bytes = "data")
    {
        const std::wstring path = scratch / relative;
        EXPECT_TRUE(WriteBytes(path, bytes)) << "cannot write test file";
        return path;
    }
    std::wstring MakeFolder(const std::wstring& relative)
    {
        const std::wstring path = scratch / relative;
        EXPECT_TRUE(CreateFolderPath(path.c_str()));
        return path;
    }
    std::wstring Relative(const std::wstring& path) const { return path.substr(scratch.Path().size() + 1); }
};

FILETIME LastWriteTime(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

bool SameTime(const FILETIME& a, const FILETIME& b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

TEST_F(FileSystemTest, FileExistsTellsFilesFromFolders)
{
    const std::wstring file = Make(L"a.txt");
    const std::wstring folder = MakeFolder(L"sub");
    struct Row {
        std::wstring path;
        int withoutFlag;
        int withFlag;
        int isFolder;
    };
    const Row rows[] = {
        {file, 1, 1, 0},
        {folder, 0, 1, 1},
        {folder + L"\\", 0, 1, 1},        // one trailing backslash after a drive path is dropped
        {folder + L"\\\\", 0, 0, 0},      // but not a doubled one
        {scratch / L"a.*", 1, 1, 0},      // wildcards: the first match decides
        {scratch / L"missing.txt", 0, 0, 0},
        {scratch / L"sub\\missing", 0, 0, 0},
        {L"C:\\", 0, 0, 0},               // a drive root with its backslash reports nothing
        {L"C", 0, 0, 0},
        {L"", 0, 0, 0},
        {std::wstring(300, L'x'), 0, 0, 0},
        {scratch / std::wstring(270, L'y'), 0, 0, 0},
        {scratch / L"<>|?\"", 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "path " << testing::PrintToString(row.path));
        EXPECT_EQ(FileExists(row.path.c_str()), row.withoutFlag);
        int isFolder = 7;
        EXPECT_EQ(FileExists(row.path.c_str(), &isFolder), row.withFlag);
        EXPECT_EQ(isFolder, row.isFolder);
    }
    EXPECT_EQ(FileExists(nullptr), 0);
}

TEST_F(FileSystemTest, TrailingBackslashIsDroppedOnlyForKnownPrefixes)
{
    MakeFolder(L"rel");
    const DWORD length = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring previous(length, L'\0');
    previous.resize(::GetCurrentDirectoryW(length, previous.data()));
    ASSERT_TRUE(::SetCurrentDirectoryW(scratch.Path().c_str()));
    int isFolder = 0;
    EXPECT_EQ(FileExists(L".\\rel\\", &isFolder), 1);
    EXPECT_EQ(isFolder, 1);
    EXPECT_EQ(FileExists(L"rel\\", &isFolder), 0);
    EXPECT_EQ(FileExists(L"rel", &isFolder), 1);
    ::SetCurrentDirectoryW(previous.c_str());
}

TEST_F(FileSystemTest, SizeAndExactName)
{
    const std::wstring file = Make(L"MixedCase.Txt", std::string(12345, 'z'));
    EXPECT_EQ(GetFileSizeByName(file.c_str()), 12345);
    EXPECT_EQ(GetFileSizeByName(Make(L"empty.txt", "").c_str()), 0);
    EXPECT_EQ(GetFileSizeByName((scratch / L"none").c_str()), -1);
    EXPECT_EQ(GetFileSizeByName(nullptr), -1);
    EXPECT_EQ(GetFileSizeByName(L""), -1);

    std::wstring spelled = scratch / L"mixedcase.txt";
    EXPECT_EQ(GetExactFileName(spelled), 1);
    EXPECT_EQ(spelled, scratch / L"MixedCase.Txt");
    std::wstring missing = scratch / L"none.txt";
    EXPECT_EQ(GetExactFileName(missing), 0);
    EXPECT_EQ(missing, scratch / L"none.txt");
    std::wstring noSlash = L"MixedCase.Txt";
    EXPECT_EQ(GetExactFileName(noSlash), 0);
}

TEST_F(FileSystemTest, TempFolderHasNoTrailingBackslash)
{
    const std::wstring temp = GetTempFolder();
    ASSERT_FALSE(temp.empty());
    EXPECT_NE(temp.back(), L'\\');
    int isFolder = 0;
    EXPECT_EQ(FileExists(temp.c_str(), &isFolder), 1);
    EXPECT_EQ(isFolder, 1);
}

TEST_F(FileSystemTest, CreateFolderPathMakesEveryLevel)
{
    const std::wstring deep = scratch / L"a\\b\\c";
    EXPECT_EQ(CreateFolderPath((deep + L"\\").c_str()), 1);
    EXPECT_TRUE(Attributes(deep) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(CreateFolderPath(deep.c_str()), 1);  // already there

    const std::wstring file = Make(L"plain.txt");
    EXPECT_EQ(CreateFolderPath(file.c_str()), 1);  // an existing file counts
    EXPECT_EQ(CreateFolderPath((file + L"\\below").c_str()), 0);
    EXPECT_EQ(CreateFolderPath(L"C:"), 0);
    EXPECT_EQ(CreateFolderPath(L""), 0);
    EXPECT_EQ(CreateFolderPath(nullptr), 0);
    EXPECT_EQ(CreateFolderPath((scratch / std::wstring(300, L'n')).c_str()), 0);

    EXPECT_EQ(CreateFolderOfFile((scratch / L"x\\y\\file.txt").c_str()), 1);
    EXPECT_TRUE(Attributes(scratch / L"x\\y") & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(PathExists(scratch / L"x\\y\\file.txt"));
    EXPECT_EQ(CreateFolderOfFile(L"file.txt"), 0);
    EXPECT_EQ(CreateFolderOfFile(nullptr), 0);
}

TEST_F(FileSystemTest, ListFilesIsRecursiveSortedAndParallel)
{
    Make(L"b.txt", "bb");
    Make(L"A.txt", "a");
    Make(L"sub\\c.txt", "ccc");
    Make(L"sub\\deeper\\D.txt", "dddd");
    MakeFolder(L"emptyfolder");

    std::vector<std::wstring> files;
    std::vector<std::wstring> folders;
    std::vector<SYSTEMTIME> times;
    std::vector<uint32_t> sizes;
    EXPECT_EQ(ListFiles(scratch.Path().c_str(), files, &folders, &times, &sizes), 1);

    std::vector<std::wstring> relative;
    for (const auto& f : files) relative.push_back(Relative(f));
    EXPECT_EQ(relative, (std::vector<std::wstring>{L"A.txt", L"b.txt", L"sub\\c.txt", L"sub\\deeper\\D.txt"}));
    EXPECT_EQ(sizes, (std::vector<uint32_t>{1, 2, 3, 4}));
    ASSERT_EQ(times.size(), files.size());
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    EXPECT_EQ(times[0].wYear, now.wYear);

    std::vector<std::wstring> relativeFolders;
    for (const auto& f : folders) {
        relativeFolders.push_back(f == scratch.Path() ? std::wstring(L"<root>") : Relative(f));
    }
    EXPECT_EQ(relativeFolders,
              (std::vector<std::wstring>{L"<root>", L"emptyfolder", L"sub", L"sub\\deeper"}));

    // Listing again into the same arrays adds nothing and keeps them in step.
    EXPECT_EQ(ListFiles((scratch.Path() + L"\\").c_str(), files, &folders, &times, &sizes), 0);
    EXPECT_EQ(files.size(), 4u);
    EXPECT_EQ(times.size(), 4u);
    EXPECT_EQ(sizes.size(), 4u);
    EXPECT_EQ(folders.size(), 4u);

    // A new file lands at its sorted place with its size beside it.
    Make(L"a2.txt", "12345");
    EXPECT_EQ(ListFiles(scratch.Path().c_str(), files, nullptr, &times, &sizes), 1);
    EXPECT_EQ(Relative(files[1]), L"a2.txt");
    EXPECT_EQ(sizes[1], 5u);
    EXPECT_EQ(times.size(), 5u);
}

TEST_F(FileSystemTest, ListFilesPatternAlsoFiltersFolders)
{
    Make(L"one.cab");
    Make(L"two.txt");
    Make(L"sub\\three.cab");
    Make(L"inner.cab\\four.cab");
    Make(L"inner.cab\\five.txt");
    std::vector<std::wstring> files;
    std::vector<std::wstring> folders;
    EXPECT_EQ(ListFiles((scratch / L"*.cab").c_str(), files, &folders), 1);
    std::vector<std::wstring> relative;
    for (const auto& f : files) relative.push_back(Relative(f));
    EXPECT_EQ(relative, (std::vector<std::wstring>{L"inner.cab\\four.cab", L"one.cab"}));
    EXPECT_EQ(folders.size(), 2u);  // the start folder and inner.cab, not sub
}

TEST_F(FileSystemTest, ListFilesBadInput)
{
    std::vector<std::wstring> files;
    EXPECT_EQ(ListFiles(nullptr, files), 0);
    EXPECT_EQ(ListFiles(L"", files), 0);
    EXPECT_EQ(ListFiles((scratch / L"missing").c_str(), files), 0);
    EXPECT_EQ(ListFiles(L"*.txt", files), 0);
    EXPECT_EQ(ListFiles((scratch / std::wstring(400, L'q')).c_str(), files), 0);
    EXPECT_TRUE(files.empty());
}

TEST(FileTimeToLocalOrZero, UnconvertibleTimeGivesZeros)
{
    const FILETIME beyond{0xFFFFFFFFu, 0xFFFFFFFFu};
    const SYSTEMTIME zero = tarn::FileTimeToLocalOrZero(beyond);
    EXPECT_EQ(zero.wYear, 0);
    EXPECT_EQ(zero.wMonth, 0);
    EXPECT_EQ(zero.wDay, 0);
    SYSTEMTIME system{2023, 6, 0, 15, 12, 0, 0, 0};
    FILETIME valid{};
    ASSERT_TRUE(::SystemTimeToFileTime(&system, &valid));
    EXPECT_EQ(tarn::FileTimeToLocalOrZero(valid).wYear, 2023);
}

// Null, empty, over-long and odd paths give each helper's failure result and
// touch nothing.
TEST_F(FileSystemTest, BadPathsGiveFailureResults)
{
    const std::wstring longPath = scratch / std::wstring(300, L'L');
    const std::wstring odd = scratch / L"a<b>c|d?e*f\\\\::\\x";
    const wchar_t* const paths[] = {nullptr, L"", L"C", longPath.c_str(), odd.c_str()};
    for (const wchar_t* path : paths) {
        SCOPED_TRACE(testing::Message() << "path " << (path ? testing::PrintToString(std::wstring(path)) : "null"));
        EXPECT_EQ(FileExists(path), 0);
        EXPECT_EQ(GetFileSizeByName(path), -1);
        EXPECT_EQ(CreateFolderPath(path), 0);
        std::vector<std::wstring> files;
        EXPECT_EQ(ListFiles(path, files), 0);
        EXPECT_EQ(CopyFileKeepAttributes(path, (scratch / L"target").c_str()), 0);
        EXPECT_EQ(EmptyFolder(path), 0);
        std::wstring exact = path ? path : L"";
        EXPECT_EQ(GetExactFileName(exact), 0);
    }
    EXPECT_FALSE(PathExists(scratch / L"target"));
    EXPECT_EQ(TouchFiles({L"", longPath}), 0);
    CTempTouchFiles none({L"", longPath, odd});
    EXPECT_EQ(none.GetSize(), 0u);
}

TEST_F(FileSystemTest, CopyReplacesReadOnlyTargetAndLeavesItNormal)
{
    const std::wstring source = Make(L"src.bin", "new contents");
    const std::wstring target = Make(L"dst.bin", "old");
    ASSERT_TRUE(::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(CopyFileKeepAttributes(source.c_str(), target.c_str()), 1);
    EXPECT_EQ(ReadBytes(target), "new contents");
    EXPECT_EQ(Attributes(target) & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST_F(FileSystemTest, CopyCreatesTargetFolderAndFailsForMissingSource)
{
    const std::wstring source = Make(L"src.bin", "payload");
    const std::wstring target = scratch / L"new\\folder\\dst.bin";
    EXPECT_EQ(CopyFileKeepAttributes(source.c_str(), target.c_str()), 1);
    EXPECT_EQ(ReadBytes(target), "payload");
    EXPECT_EQ(CopyFileKeepAttributes((scratch / L"missing").c_str(), (scratch / L"t2").c_str()), 0);
    EXPECT_FALSE(PathExists(scratch / L"t2"));
    EXPECT_EQ(CopyFileKeepAttributes(nullptr, target.c_str()), 0);
    EXPECT_EQ(CopyFileKeepAttributes(source.c_str(), L""), 0);
    EXPECT_EQ(ReadBytes(target), "payload");
}

TEST_F(FileSystemTest, CopyFromEmptySourceDeletesTarget)
{
    const std::wstring source = Make(L"empty.bin", "");
    const std::wstring target = Make(L"dst.bin", "old");
    ASSERT_TRUE(::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(CopyFileKeepAttributes(source.c_str(), target.c_str()), 1);
    EXPECT_FALSE(PathExists(target));
    EXPECT_EQ(CopyFileKeepAttributes(source.c_str(), target.c_str()), 1);  // nothing left to delete
}

TEST_F(FileSystemTest, CopyOntoLockedTargetFailsAndKeepsIt)
{
    const std::wstring source = Make(L"src.bin", "new");
    const std::wstring target = Make(L"dst.bin", "old");
    FileHolder holder(target);
    ASSERT_TRUE(holder.Holding());
    EXPECT_EQ(CopyFileKeepAttributes(source.c_str(), target.c_str()), 0);
    holder.Release();
    EXPECT_EQ(ReadBytes(target), "old");
}

TEST_F(FileSystemTest, UniqueTempFileInRelativeFolderSkipsLockedSlot)
{
    const std::wstring relative = L"tarn_unique_" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring folder = GetTempFolder() + L"\\" + relative;
    const std::wstring first = folder + L"\\_Tarn_Temp_File.cab";

    EXPECT_EQ(GetUniqueTempFile(relative.c_str(), L".cab", 0), first);
    ASSERT_TRUE(WriteBytes(first, "stale"));
    // A deletable leftover is removed and its name handed out again.
    EXPECT_EQ(GetUniqueTempFile(relative.c_str(), L".cab", 1), first);
    EXPECT_EQ(ReadBytes(first), "");
    {
        FileHolder holder(first);
        ASSERT_TRUE(holder.Holding());
        EXPECT_EQ(GetUniqueTempFile(relative.c_str(), L".cab", 0), folder + L"\\_Tarn_Temp_File_(1).cab");
    }
    EXPECT_EQ(GetUniqueTempFile((L"\\" + relative).c_str(), L".cab", 0), first);
    tarn::test::RemoveTree(folder);
}

TEST_F(FileSystemTest, UniqueTempFileFolderChoices)
{
    EXPECT_EQ(GetUniqueTempFile(L"", L"", 0), GetTempFolder() + L"\\_Tarn_Temp\\_Tarn_Temp_File.dwg");
    EXPECT_EQ(GetUniqueTempFile(L".cab", 0), GetTempFolder() + L"\\_Tarn_Temp\\_Tarn_Temp_File.cab");
    EXPECT_EQ(GetUniqueTempFile(nullptr, nullptr, 0), GetTempFolder() + L"\\_Tarn_Temp\\_Tarn_Temp_File.dwg");

    const std::wstring absolute = scratch / L"made\\here";
    EXPECT_EQ(GetUniqueTempFile((absolute + L"\\").c_str(), L".txt", 1), absolute + L"\\_Tarn_Temp_File.txt");
    EXPECT_TRUE(PathExists(absolute + L"\\_Tarn_Temp_File.txt"));
    EXPECT_EQ(GetUniqueTempFile(absolute.c_str(), L".txt", 1), absolute + L"\\_Tarn_Temp_File.txt");

    // A file standing where the folder should be sends the name to the temporary folder.
    const std::wstring blocker = Make(L"blocker");
    EXPECT_EQ(GetUniqueTempFile(blocker.c_str(), L".txt", 0), GetTempFolder() + L"\\_Tarn_Temp_File.txt");
}

TEST_F(FileSystemTest, UniqueTempFoldersDifferAndRemoveThemselves)
{
    std::wstring first;
    {
        UniqueTempFolder a;
        UniqueTempFolder b;
        ASSERT_FALSE(a.m_Folder.empty());
        ASSERT_FALSE(b.m_Folder.empty());
        EXPECT_NE(a.m_Folder, b.m_Folder);
        EXPECT_EQ(a.m_TempBase, GetTempFolder());
        EXPECT_EQ(a.m_Folder.rfind(GetTempFolder() + L"\\_", 0), 0u);
        first = a.m_Folder;
        ASSERT_TRUE(WriteBytes(first + L"\\x\\y\\deep.txt", "d"));
        ASSERT_TRUE(WriteBytes(first + L"\\ro.txt", "r"));
        ::SetFileAttributesW((first + L"\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        ASSERT_TRUE(::CreateDirectoryW((first + L"\\emptysub").c_str(), nullptr));
    }
    EXPECT_FALSE(PathExists(first));
}

TEST_F(FileSystemTest, UniqueTempFolderKeptWhenAsked)
{
    std::wstring kept;
    {
        UniqueTempFolder folder;
        folder.m_Remove = 0;
        kept = folder.m_Folder;
    }
    EXPECT_TRUE(PathExists(kept));
    tarn::test::RemoveTree(kept);
}

TEST_F(FileSystemTest, EmptyFolderKeepsOnlyTheFolder)
{
    Make(L"a.txt");
    Make(L"s1\\s2\\b.txt");
    const std::wstring readOnly = Make(L"s1\\ro.txt");
    ::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    MakeFolder(L"s3\\s4");
    EXPECT_EQ(EmptyFolder((scratch.Path() + L"\\").c_str()), 1);
    EXPECT_TRUE(Attributes(scratch.Path()) & FILE_ATTRIBUTE_DIRECTORY);
    std::vector<std::wstring> files;
    std::vector<std::wstring> folders;
    ListFiles(scratch.Path().c_str(), files, &folders);
    EXPECT_TRUE(files.empty());
    EXPECT_EQ(folders.size(), 1u);
    EXPECT_EQ(EmptyFolder(nullptr), 0);
    EXPECT_EQ(EmptyFolder((scratch / L"missing").c_str()), 1);
}

// Packing jobs run in parallel threads and share the current folder: while
// one empties a tree, another must never see the current folder move.
TEST_F(FileSystemTest, EmptyFolderNeverChangesTheCurrentFolder)
{
    for (int i = 0; i < 150; ++i) {
        MakeFolder(L"tree\\f" + std::to_wstring(i) + L"\\g");
    }
    const auto currentFolder = [] {
        wchar_t folder[MAX_PATH] = {};
        return std::wstring(folder, ::GetCurrentDirectoryW(MAX_PATH, folder));
    };
    const std::wstring current = currentFolder();
    std::atomic<bool> done{false};
    std::atomic<int> moved{0};
    std::thread watcher([&] {
        while (!done) {
            moved += currentFolder() != current ? 1 : 0;
        }
    });
    EXPECT_EQ(EmptyFolder((scratch / L"tree").c_str()), 1);
    done = true;
    watcher.join();
    EXPECT_EQ(moved, 0);
    EXPECT_TRUE(::RemoveDirectoryW((scratch / L"tree").c_str()));
}

TEST_F(FileSystemTest, EmptyFolderReportsAFileItCannotRemove)
{
    const std::wstring held = Make(L"sub\\held.txt");
    Make(L"free.txt");
    FileHolder holder(held);
    ASSERT_TRUE(holder.Holding());
    EXPECT_EQ(EmptyFolder(scratch.Path().c_str()), 0);
    EXPECT_FALSE(PathExists(scratch / L"free.txt"));
    EXPECT_TRUE(PathExists(held));
}

struct TouchCase {
    WORD year, month, day;
    WORD touchMonth, touchDay;
};

class TouchTimeTest : public ::testing::TestWithParam<TouchCase> {};

TEST_P(TouchTimeTest, PicksHalfMonthOrEdgeDay)
{
    const TouchCase& c = GetParam();
    SYSTEMTIME today{};
    today.wYear = c.year;
    today.wMonth = c.month;
    today.wDay = c.day;
    today.wHour = 17;
    today.wMinute = 42;
    today.wSecond = 9;
    today.wMilliseconds = 500;
    const SYSTEMTIME touch = tarn::GetTouchLocalTime(today);
    EXPECT_EQ(touch.wYear, c.year);
    EXPECT_EQ(touch.wMonth, c.touchMonth);
    EXPECT_EQ(touch.wDay, c.touchDay);
    EXPECT_EQ(touch.wHour, 1);
    EXPECT_EQ(touch.wMinute, 0);
    EXPECT_EQ(touch.wSecond, 0);
    EXPECT_EQ(touch.wMilliseconds, 0);
}

INSTANTIATE_TEST_SUITE_P(Table, TouchTimeTest,
                         ::testing::Values(TouchCase{2023, 1, 1, 1, 1},
                                           TouchCase{2023, 1, 3, 1, 1},
                                           TouchCase{2023, 1, 14, 1, 1},
                                           TouchCase{2023, 1, 15, 1, 15},
                                           TouchCase{2023, 1, 20, 1, 15},
                                           TouchCase{2023, 1, 30, 1, 15},
                                           TouchCase{2023, 1, 31, 1, 31},
                                           TouchCase{2023, 2, 28, 2, 28},  // last day of a common year
                                           TouchCase{2024, 2, 28, 2, 15},  // not the last in a leap year
                                           TouchCase{2024, 2, 29, 2, 29},
                                           TouchCase{2100, 2, 28, 2, 28},  // 2100 is no leap year
                                           TouchCase{2000, 2, 29, 2, 29},
                                           TouchCase{2023, 4, 30, 4, 30},
                                           TouchCase{2023, 12, 31, 12, 31}));

TEST_F(FileSystemTest, TouchedFilesGetTheirTimesBack)
{
    const std::wstring a = Make(L"a.txt");
    const std::wstring b = Make(L"b.txt");
    FILETIME old{};
    SYSTEMTIME oldSystem{2001, 5, 0, 6, 7, 8, 9, 0};
    ::SystemTimeToFileTime(&oldSystem, &old);
    for (const auto& path : {a, b}) {
        tarn::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(::SetFileTime(file.Get(), &old, &old, &old));
    }

    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    const SYSTEMTIME touchLocal = tarn::GetTouchLocalTime(now);
    {
        CTempTouchFiles touched({a, b, scratch / L"missing.txt", a});
        EXPECT_EQ(touched.GetSize(), 2u);  // the missing file and the second a are dropped
        for (const auto& path : {a, b}) {
            SYSTEMTIME utc{};
            SYSTEMTIME local{};
            const FILETIME written = LastWriteTime(path);
            ::FileTimeToSystemTime(&written, &utc);
            ::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
            EXPECT_EQ(local.wDay, touchLocal.wDay);
            EXPECT_EQ(local.wMonth, touchLocal.wMonth);
            EXPECT_EQ(local.wHour, 1);
            EXPECT_EQ(local.wMinute, 0);
        }
    }
    EXPECT_TRUE(SameTime(LastWriteTime(a), old));
    EXPECT_TRUE(SameTime(LastWriteTime(b), old));
    EXPECT_EQ(TouchFiles({scratch / L"missing.txt"}), 0);
    EXPECT_EQ(TouchFiles({a}), 1);
}

TEST_F(FileSystemTest, WorkFoldersOfKilledRunsGoWhenTheNextIsMade)
{
    const std::wstring base = scratch.Path();
    // A killed run's folder with its claim no longer held, one whose claim
    // is gone, a claim without a folder, and a folder of another kind.
    Make(L"_W_1_1\\half.cab");
    Make(L"_W_1_1.claim");
    Make(L"_W_1_2\\sub\\half.cab");
    Make(L"_W_1_3.claim");
    Make(L"_Other_1\\keep.txt");
    auto live = std::make_unique<tarn::ClaimedWorkFolder>(base, L"_W_");
    ASSERT_FALSE(live->Folder().empty());
    {
        const tarn::ClaimedWorkFolder next(base, L"_W_");
        ASSERT_FALSE(next.Folder().empty());
        EXPECT_NE(next.Folder(), live->Folder());
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found{};
        const tarn::UniqueFindHandle find(::FindFirstFileW((base + L"\\*").c_str(), &found));
        do {
            names.push_back(found.cFileName);
        } while (find && ::FindNextFileW(find.Get(), &found));
        std::sort(names.begin(), names.end());
        const std::wstring liveName = live->Folder().substr(base.size() + 1);
        const std::wstring nextName = next.Folder().substr(base.size() + 1);
        std::vector<std::wstring> expected{L".", L"..", L"_Other_1", liveName, liveName + L".claim", nextName,
                                           nextName + L".claim"};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names, expected);
    }
    const std::wstring liveFolder = live->Folder();
    live.reset();
    EXPECT_FALSE(PathExists(liveFolder));
    EXPECT_FALSE(PathExists(liveFolder + L".claim"));
}

TEST_F(FileSystemTest, AKilledRunsTouchedFilesGetTheirTimesBackFromItsJournal)
{
    const std::wstring journal = scratch / L"work.touched";
    const std::wstring kept = Make(L"kept.txt");
    const std::wstring edited = Make(L"edited.txt");
    const std::wstring locked = Make(L"locked.txt");
    FILETIME old{};
    FILETIME edit{};
    const SYSTEMTIME oldSystem{2001, 5, 0, 6, 7, 8, 9, 0};
    const SYSTEMTIME editSystem{2020, 3, 0, 4, 5, 6, 7, 0};
    ::SystemTimeToFileTime(&oldSystem, &old);
    ::SystemTimeToFileTime(&editSystem, &edit);
    const auto setTime = [](const std::wstring& path, const FILETIME& time) {
        tarn::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        return ::SetFileTime(file.Get(), &time, &time, &time) != 0;
    };
    for (const auto& path : {kept, edited, locked}) {
        ASSERT_TRUE(setTime(path, old));
    }
    // A run killed after touching never runs its destructor.
    static_cast<void>(new CTempTouchFiles({kept, edited, locked}, journal));
    ASSERT_TRUE(PathExists(journal));
    ASSERT_FALSE(SameTime(LastWriteTime(kept), old));
    ASSERT_TRUE(setTime(edited, edit));
    {
        // The file is held without shared writing: the journal outlasts the next run.
        FileHolder holder(locked);
        CTempTouchFiles next({}, journal);
        EXPECT_EQ(tarn::ReadTouchJournal(journal).size(), 1u);
    }
    EXPECT_TRUE(SameTime(LastWriteTime(kept), old));
    EXPECT_TRUE(SameTime(LastWriteTime(edited), edit));  // written meanwhile: keeps its time
    EXPECT_FALSE(SameTime(LastWriteTime(locked), old));
    {
        // The run after that restores it and removes the journal; a line a
        // kill cut short is no record.
        const std::wstring cut = L"0123\tC:\\cut.txt\n";
        std::string text = ReadBytes(journal);
        text.append(reinterpret_cast<const char*>(cut.data()), cut.size() * sizeof(wchar_t));
        ASSERT_TRUE(WriteBytes(journal, text));
        EXPECT_EQ(tarn::ReadTouchJournal(journal).size(), 1u);
        CTempTouchFiles last({locked}, journal);
        EXPECT_TRUE(PathExists(journal));
    }
    EXPECT_TRUE(SameTime(LastWriteTime(locked), old));
    EXPECT_FALSE(PathExists(journal));
}

}  // namespace
