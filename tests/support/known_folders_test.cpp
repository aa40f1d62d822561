#include "support/known_folders.h"

#include <gtest/gtest.h>

#include <knownfolders.h>

#include <set>

#include "support/name_compare.h"

namespace {

TEST(KnownFoldersTest, TableHoldsEveryFolderOnceInOrder)
{
    const auto folders = tarn::KnownFolders();
    ASSERT_EQ(folders.size(), 141u);
    EXPECT_STREQ(folders.front().name, L"NetworkFolder");
    EXPECT_STREQ(folders[12].name, L"Desktop");
    EXPECT_STREQ(folders.back().name, L"AppDataProgramData");
    std::set<std::wstring> names;
    for (const tarn::KnownFolder& folder : folders) {
        EXPECT_TRUE(names.insert(folder.name).second) << "duplicate name";
        for (const tarn::KnownFolder& other : folders) {
            // OneDrive is the later name of SkyDrive; the platform gives both one identifier.
            const bool aliases = (std::wstring(folder.name) == L"OneDrive" && std::wstring(other.name) == L"SkyDrive") ||
                                 (std::wstring(folder.name) == L"SkyDrive" && std::wstring(other.name) == L"OneDrive");
            if (&other != &folder && !aliases) {
                EXPECT_FALSE(IsEqualGUID(*folder.id, *other.id)) << "duplicate identifier of " << folder.name;
            }
        }
    }
}

TEST(KnownFoldersTest, FindsByNameInAnyCase)
{
    struct Row {
        const wchar_t* name;
        const GUID* id;
    };
    const Row rows[] = {
        {L"Desktop", &FOLDERID_Desktop},
        {L"roamingappdata", &FOLDERID_RoamingAppData},
        {L"SEARCH_MAPI", &FOLDERID_SEARCH_MAPI},
        {L"PROGRAMFILESX86", &FOLDERID_ProgramFilesX86},
        {L"Objects3D", &FOLDERID_Objects3D},
        {L"FOLDERID_Desktop", nullptr},
        {L"AppData", nullptr},
        {L"Desk", nullptr},
        {L"", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "name " << row.name);
        const tarn::KnownFolder* found = tarn::FindKnownFolder(row.name);
        ASSERT_EQ(found != nullptr, row.id != nullptr);
        if (found) {
            EXPECT_TRUE(IsEqualGUID(*found->id, *row.id));
            EXPECT_TRUE(tarn::EqualsNoCase(found->name, row.name));
        }
    }
}

TEST(KnownFoldersTest, PathsComeFromTheShell)
{
    // The test prefix has a Desktop folder; Windows is there in any prefix.
    const std::wstring desktop = tarn::GetKnownFolderPath(FOLDERID_Desktop);
    EXPECT_TRUE(tarn::EndsWithNoCase(desktop, L"\\Desktop")) << desktop;
    EXPECT_NE(::GetFileAttributesW(desktop.c_str()), INVALID_FILE_ATTRIBUTES);
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_TRUE(tarn::EqualsNoCase(tarn::GetKnownFolderPath(FOLDERID_Windows), windows));
    // Virtual folders have no path.
    EXPECT_EQ(tarn::GetKnownFolderPath(FOLDERID_ControlPanelFolder), L"");
    EXPECT_EQ(tarn::GetKnownFolderPath(GUID{}), L"");
}

}  // namespace
