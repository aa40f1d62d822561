#include "support/registry.h"

#include <gtest/gtest.h>

#include <knownfolders.h>

#include "common/test_registry.h"
#include "support/environment.h"
#include "support/file_system.h"
#include "support/known_folders.h"
#include "support/name_compare.h"

using tarn::test::RegistrySandbox;
using tarn::test::SavedEnvironmentVariable;
using tarn::test::SavedRegistryValue;

namespace {

const wchar_t kShellFolders[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

TEST(SplitRegistryPathTest, SplitsKnownRootsAndRefusesOthers)
{
    struct Row {
        const wchar_t* path;
        HKEY root;
        const wchar_t* rootName;
        const wchar_t* keyPath;
    };
    const Row rows[] = {
        {L"hkey_local_machine\\Software\\Tarnix\\", HKEY_LOCAL_MACHINE, L"hkey_local_machine", L"Software\\Tarnix"},
        {L"HKEY_CURRENT_USER\\Software", HKEY_CURRENT_USER, L"HKEY_CURRENT_USER", L"Software"},
        {L"HKEY_CLASSES_ROOT\\.txt", HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT", L".txt"},
        {L"HKEY_USERS", HKEY_USERS, L"HKEY_USERS", L""},
        {L"HKEY_CURRENT_CONFIG\\a\\b\\\\", HKEY_CURRENT_CONFIG, L"HKEY_CURRENT_CONFIG", L"a\\b\\"},
        {L"HKEY_USERS\\", HKEY_USERS, L"HKEY_USERS", L""},
        {L"HKLM\\Software", nullptr, L"", L""},
        {L"HKEY_NOWHERE\\x", nullptr, L"", L""},
        {L"HKEY_LOCAL_MACHINEX\\Software", nullptr, L"", L""},
        {L"\\HKEY_LOCAL_MACHINE\\Software", nullptr, L"", L""},
        {L"", nullptr, L"", L""},
        {nullptr, nullptr, L"", L""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "path " << (row.path ? row.path : L"(null)"));
        std::wstring rootName = L"stale";
        std::wstring keyPath = L"stale";
        EXPECT_EQ(SplitRegistryPath(row.path, rootName, keyPath), row.root);
        EXPECT_EQ(rootName, row.rootName);
        EXPECT_EQ(keyPath, row.keyPath);
    }
}

class RegistryTest : public ::testing::Test {
protected:
    RegistrySandbox sandbox;

    void SetUp() override { ASSERT_TRUE(sandbox.Valid()); }

    std::wstring Read(const std::wstring& subkey, const wchar_t* name, int* result = nullptr) const
    {
        tarn::UniqueRegKey key(OpenRegistryPath((sandbox.Path() + subkey).c_str()));
        std::wstring text = L"stale";
        const int ok = ReadRegistryText(key.Get(), name, text);
        if (result) {
            *result = ok;
        }
        return text;
    }
};

TEST_F(RegistryTest, ReadRegistryTextByType)
{
    const DWORD allOnes = 0xFFFFFFFFu;
    const BYTE binary[] = {0x01, 0xAB};
    const uint64_t qword = 5;
    const wchar_t unterminated[] = {L'a', L'b', L'c'};
    const WORD shortDword = 7;
    std::wstring temp;
    ASSERT_TRUE(tarn::GetEnvironmentText(L"TEMP", temp));
    ASSERT_TRUE(sandbox.SetText(L"", L"Text", L"C:\\Some Folder"));
    ASSERT_TRUE(sandbox.SetText(L"", L"Expand", L"%TEMP%\\x", REG_EXPAND_SZ));
    ASSERT_TRUE(sandbox.SetText(L"", L"ExpandUnknown", L"%TARN_NOT_SET_ANYWHERE%\\x", REG_EXPAND_SZ));
    ASSERT_TRUE(sandbox.Set(L"", L"Dword", REG_DWORD, &allOnes, sizeof(allOnes)));
    ASSERT_TRUE(sandbox.SetDword(L"", L"Small", 42));
    ASSERT_TRUE(sandbox.Set(L"", L"Binary", REG_BINARY, binary, sizeof(binary)));
    ASSERT_TRUE(sandbox.Set(L"", L"Qword", REG_QWORD, &qword, sizeof(qword)));
    ASSERT_TRUE(sandbox.Set(L"", L"Multi", REG_MULTI_SZ, L"a\0b\0", 10));
    ASSERT_TRUE(sandbox.Set(L"", L"Unterminated", REG_SZ, unterminated, sizeof(unterminated)));
    ASSERT_TRUE(sandbox.Set(L"", L"ShortDword", REG_DWORD, &shortDword, sizeof(shortDword)));
    ASSERT_TRUE(sandbox.Set(L"", L"EmptyText", REG_SZ, nullptr, 0));
    ASSERT_TRUE(sandbox.SetText(L"", nullptr, L"unnamed"));

    struct Row {
        const wchar_t* name;
        int result;
        std::wstring text;
    };
    const Row rows[] = {
        {L"Text", 1, L"C:\\Some Folder"},
        {L"Expand", 1, temp + L"\\x"},
        {L"ExpandUnknown", 1, L"%TARN_NOT_SET_ANYWHERE%\\x"},
        {L"Dword", 1, L"-1"},
        {L"Small", 1, L"42"},
        {L"Unterminated", 1, L"abc"},
        {L"EmptyText", 1, L""},
        {L"", 1, L"unnamed"},
        {nullptr, 1, L"unnamed"},
        {L"Binary", 0, L""},
        {L"Qword", 0, L""},
        {L"Multi", 0, L""},
        {L"ShortDword", 0, L""},
        {L"Missing", 0, L""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "value " << (row.name ? row.name : L"(null)"));
        int result = -1;
        EXPECT_EQ(Read(L"", row.name, &result), row.text);
        EXPECT_EQ(result, row.result);
    }

    std::wstring text = L"stale";
    EXPECT_EQ(ReadRegistryText(nullptr, L"Text", text), 0);
    EXPECT_EQ(text, L"");
}

TEST_F(RegistryTest, LargeValuesAreReadWhole)
{
    // Far beyond any first buffer a reader might offer.
    std::wstring large(300000, L'x');
    large[0] = L'A';
    large.back() = L'Z';
    ASSERT_TRUE(sandbox.SetText(L"", L"Large", large));
    int result = 0;
    EXPECT_EQ(Read(L"", L"Large", &result), large);
    EXPECT_EQ(result, 1);

    std::wstring text;
    EXPECT_EQ(GetRegistryText(text, sandbox.Path().c_str(), L"Large"), 1);
    EXPECT_EQ(text.size(), large.size());
}

TEST_F(RegistryTest, GetRegistryTextOpensThePath)
{
    ASSERT_TRUE(sandbox.SetText(L"Sub", L"Name", L"value"));
    std::wstring text = L"stale";
    EXPECT_EQ(GetRegistryText(text, (sandbox.Path() + L"\\Sub\\").c_str(), L"Name"), 1);
    EXPECT_EQ(text, L"value");
    EXPECT_EQ(GetRegistryText(text, (sandbox.Path() + L"\\Missing").c_str(), L"Name"), 0);
    EXPECT_EQ(text, L"");
    text = L"stale";
    EXPECT_EQ(GetRegistryText(text, L"", L"Name"), 0);
    EXPECT_EQ(text, L"");
    EXPECT_EQ(GetRegistryText(text, L"HKLM\\Software", L"Name"), 0);
}

TEST_F(RegistryTest, OpenCreatesWholePathsAndHonoursAccess)
{
    const std::wstring deep = sandbox.KeyPath() + L"\\One\\Two\\Three";
    EXPECT_EQ(OpenRegistryKey(HKEY_CURRENT_USER, deep.c_str()), nullptr);
    EXPECT_EQ(OpenRegistryKey(nullptr, deep.c_str(), 1), nullptr);
    {
        tarn::UniqueRegKey created(OpenRegistryKey(HKEY_CURRENT_USER, deep.c_str(), 1));
        ASSERT_TRUE(created);
        // Created keys are writable whatever read access was asked for.
        EXPECT_EQ(SetRegistryValue(created.Get(), L"v", REG_SZ, L"x", 0), ERROR_SUCCESS);
    }
    {
        tarn::UniqueRegKey readOnly(OpenRegistryKey(HKEY_CURRENT_USER, deep.c_str()));
        ASSERT_TRUE(readOnly);
        EXPECT_EQ(SetRegistryValue(readOnly.Get(), L"v", REG_SZ, L"y", 0), ERROR_ACCESS_DENIED);
    }
    for (REGSAM access : {REGSAM{KEY_ALL_ACCESS}, REGSAM{KEY_WRITE}}) {
        tarn::UniqueRegKey writable(OpenRegistryKey(HKEY_CURRENT_USER, deep.c_str(), 0, 0, access));
        ASSERT_TRUE(writable);
        EXPECT_EQ(SetRegistryValue(writable.Get(), L"v", REG_SZ, L"z", 0), ERROR_SUCCESS);
    }
    EXPECT_EQ(Read(L"\\One\\Two\\Three", L"v"), L"z");

    tarn::UniqueRegKey byPath(OpenRegistryPath((sandbox.Path() + L"\\One\\Two").c_str()));
    EXPECT_TRUE(byPath);
    EXPECT_EQ(OpenRegistryPath(L"HKEY_NOWHERE\\x", 1), nullptr);
    EXPECT_EQ(OpenRegistryPath(nullptr, 1), nullptr);
}

TEST_F(RegistryTest, ReopenReplacesTheHeldKeyUnlessThePathIsEmpty)
{
    ASSERT_TRUE(sandbox.SetText(L"A", L"n", L"in A"));
    ASSERT_TRUE(sandbox.SetText(L"B", L"n", L"in B"));
    tarn::UniqueRegKey held;
    ReopenRegistryKey(held, (sandbox.Path() + L"\\A").c_str());
    std::wstring text;
    ASSERT_TRUE(held);
    EXPECT_EQ(ReadRegistryText(held.Get(), L"n", text), 1);
    EXPECT_EQ(text, L"in A");

    ReopenRegistryKey(held, HKEY_CURRENT_USER, (sandbox.KeyPath() + L"\\B").c_str());
    EXPECT_EQ(ReadRegistryText(held.Get(), L"n", text), 1);
    EXPECT_EQ(text, L"in B");

    ReopenRegistryKey(held, HKEY_CURRENT_USER, L"");
    ReopenRegistryKey(held, L"HKEY_CURRENT_USER");
    EXPECT_EQ(ReadRegistryText(held.Get(), L"n", text), 1);
    EXPECT_EQ(text, L"in B");

    ReopenRegistryKey(held, (sandbox.Path() + L"\\Missing").c_str());
    EXPECT_FALSE(held);
}

TEST_F(RegistryTest, ListsSubkeysFlatAndRecursively)
{
    for (const wchar_t* subkey : {L"A", L"B", L"A\\A1", L"A\\A2", L"A\\A1\\Deep", L"B\\B1"}) {
        ASSERT_TRUE(sandbox.CreateSubkey(subkey));
    }
    std::vector<std::wstring> flat = {L"kept"};
    EXPECT_EQ(ListRegistrySubkeys(sandbox.Path().c_str(), flat), 1);
    EXPECT_EQ(flat, (std::vector<std::wstring>{L"kept", L"A", L"B"}));

    const std::wstring base = sandbox.Path();
    std::vector<std::wstring> all;
    EXPECT_EQ(ListRegistrySubkeys(base.c_str(), all, 1), 1);
    const std::vector<std::wstring> expected = {
        base + L"\\A", base + L"\\B", base + L"\\A\\A1", base + L"\\A\\A2", base + L"\\A\\A1\\Deep",
        base + L"\\B\\B1",
    };
    EXPECT_EQ(all, expected);

    std::vector<std::wstring> none;
    EXPECT_EQ(ListRegistrySubkeys((base + L"\\B\\B1").c_str(), none, 1), 0);
    EXPECT_EQ(ListRegistrySubkeys((base + L"\\Missing").c_str(), none, 1), 0);
    EXPECT_EQ(ListRegistrySubkeys(L"HKLM\\Software", none), 0);
    EXPECT_TRUE(none.empty());
}

TEST_F(RegistryTest, RecursiveListingOfALinkLoopEndsAtTheDeepestLevel)
{
    tarn::test::RegistryLink loop(sandbox.Key(), L"Loop", sandbox.Key());
    ASSERT_TRUE(loop.Valid());
    std::vector<std::wstring> all;
    EXPECT_EQ(ListRegistrySubkeys(sandbox.Path().c_str(), all, 1), 1);
    ASSERT_EQ(all.size(), 512u);
    EXPECT_EQ(all.front(), sandbox.Path() + L"\\Loop");
    EXPECT_TRUE(all.back().size() == sandbox.Path().size() + 512 * 5) << "one key per level";
}

TEST_F(RegistryTest, SetRegistryValueSizeRules)
{
    tarn::UniqueRegKey key(OpenRegistryPath(sandbox.Path().c_str(), 0, 0, KEY_ALL_ACCESS));
    ASSERT_TRUE(key);
    const BYTE bytes[] = {1, 2, 3, 4, 5};
    const DWORD number = 0x01020304;
    struct Row {
        const wchar_t* name;
        DWORD type;
        const void* data;
        DWORD size;
        std::vector<BYTE> stored;
    };
    const Row rows[] = {
        // Strings: the given size is ignored, the terminator always written.
        {L"Sz", REG_SZ, L"ab", 1, {'a', 0, 'b', 0, 0, 0}},
        {L"Expand", REG_EXPAND_SZ, L"%x%", 1000, {'%', 0, 'x', 0, '%', 0, 0, 0}},
        {L"NullSz", REG_SZ, nullptr, 7, {0, 0}},
        // Multi-strings: the size counts code units.
        {L"Multi", REG_MULTI_SZ, L"a\0b\0", 5, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
        // Everything else: bytes.
        {L"Binary", REG_BINARY, bytes, 3, {1, 2, 3}},
        {L"Dword", REG_DWORD, &number, 4, {4, 3, 2, 1}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "value " << row.name);
        EXPECT_EQ(SetRegistryValue(key.Get(), row.name, row.type, row.data, row.size), ERROR_SUCCESS);
        DWORD type = 0;
        std::vector<BYTE> stored;
        ASSERT_TRUE(sandbox.Get(L"", row.name, type, stored));
        EXPECT_EQ(type, row.type);
        EXPECT_EQ(stored, row.stored);
    }
    EXPECT_NE(SetRegistryValue(nullptr, L"x", REG_SZ, L"x", 0), ERROR_SUCCESS);
    EXPECT_NE(SetRegistryValue(key.Get(), L"x", REG_BINARY, nullptr, 4), ERROR_SUCCESS);
    EXPECT_NE(SetRegistryValue(key.Get(), L"x", REG_MULTI_SZ, L"a\0", 0x80000001u), ERROR_SUCCESS);
}

TEST(RegistryView64Test, MachineKeysWithThe64BitFlag)
{
    RegistrySandbox sandbox(HKEY_LOCAL_MACHINE, true);
    ASSERT_TRUE(sandbox.Valid());
    const std::wstring path = sandbox.Path() + L"\\Sub";
    {
        tarn::UniqueRegKey key(OpenRegistryPath(path.c_str(), 1, 1));
        ASSERT_TRUE(key);
        EXPECT_EQ(SetRegistryValue(key.Get(), L"Name", REG_SZ, L"sixty-four", 0), ERROR_SUCCESS);
    }
    std::wstring text;
    EXPECT_EQ(GetRegistryText(text, path.c_str(), L"Name", 1), 1);
    EXPECT_EQ(text, L"sixty-four");
    std::vector<std::wstring> subkeys;
    EXPECT_EQ(ListRegistrySubkeys(sandbox.Path().c_str(), subkeys, 1, 1), 1);
    EXPECT_EQ(subkeys, std::vector<std::wstring>{path});

    // The value lives in the 64-bit view and not in the 32-bit one.
    HKEY view32 = nullptr;
    const std::wstring keyPath = sandbox.KeyPath() + L"\\Sub";
    EXPECT_NE(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &view32),
              ERROR_SUCCESS);
    if (view32) {
        ::RegCloseKey(view32);
    }
}

// The shell-folder table is read from the real keys of the test prefix; the
// values a test adds are put back by the guards.
TEST(ShellFoldersTest, TakesFoldersFromBothRootsWithKnownFoldersWinning)
{
    const std::wstring desktop = tarn::GetKnownFolderPath(FOLDERID_Desktop);
    ASSERT_FALSE(desktop.empty());
    SavedRegistryValue bang(HKEY_CURRENT_USER, kShellFolders, L"!TarnBang");
    SavedRegistryValue brace(HKEY_CURRENT_USER, kShellFolders, L"{TarnBrace}");
    SavedRegistryValue oneChar(HKEY_CURRENT_USER, kShellFolders, L"Q");
    SavedRegistryValue shortData(HKEY_CURRENT_USER, kShellFolders, L"TarnShort");
    SavedRegistryValue userOnly(HKEY_CURRENT_USER, kShellFolders, L"TarnUserOnly");
    SavedRegistryValue bothUser(HKEY_CURRENT_USER, kShellFolders, L"TarnBoth");
    SavedRegistryValue bothMachine(HKEY_LOCAL_MACHINE, kShellFolders, L"TarnBoth");
    SavedRegistryValue machineDesktop(HKEY_LOCAL_MACHINE, kShellFolders, L"Desktop");
    SavedRegistryValue userDesktop(HKEY_CURRENT_USER, kShellFolders, L"Desktop");
    ASSERT_TRUE(bang.SetText(L"C:\\bang"));
    ASSERT_TRUE(brace.SetText(L"C:\\brace"));
    ASSERT_TRUE(oneChar.SetText(L"C:\\q"));
    ASSERT_TRUE(shortData.SetText(L""));
    ASSERT_TRUE(userOnly.SetText(L"C:\\user only"));
    ASSERT_TRUE(bothUser.SetText(L"C:\\from user"));
    ASSERT_TRUE(bothMachine.SetText(L"C:\\from machine"));
    ASSERT_TRUE(machineDesktop.SetText(L"C:\\stale machine desktop"));
    ASSERT_TRUE(userDesktop.SetText(L"C:\\stale user desktop"));

    std::vector<std::wstring> names;
    std::vector<std::wstring> paths;
    ASSERT_EQ(GetShellFolders(names, paths), 1);
    ASSERT_EQ(names.size(), paths.size());
    for (size_t i = 1; i < names.size(); ++i) {
        EXPECT_LT(tarn::CompareNoCase(names[i - 1], names[i]), 0) << "sorted without duplicates";
    }
    for (const std::wstring& name : names) {
        EXPECT_NE(name[0], L'!');
        EXPECT_NE(name[0], L'{');
        EXPECT_GT(name.size(), 1u);
        EXPECT_NE(name, L"TarnShort");
    }

    struct Row {
        const wchar_t* name;
        int result;
        std::wstring path;
    };
    const Row rows[] = {
        {L"desktop", 1, desktop},  // a known folder: its real path from either root
        {L"TarnUserOnly", 1, L"C:\\user only"},
        {L"TARNBOTH", 1, L"C:\\from machine"},  // the machine's entry replaces the user's
        {L"!TarnBang", 0, L""},
        {L"{TarnBrace}", 0, L""},
        {L"Q", 0, L""},
        {L"TarnMissing", 0, L""},
        {L"", 0, L""},
        {nullptr, 0, L""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "name " << (row.name ? row.name : L"(null)"));
        std::wstring path = L"stale";
        EXPECT_EQ(GetShellFolder(row.name, path), row.result);
        EXPECT_EQ(path, row.path);
    }
}

TEST(ShellFoldersTest, AppDataFallsBackToEnvironmentThenTemp)
{
    SavedRegistryValue userAppData(HKEY_CURRENT_USER, kShellFolders, L"AppData");
    SavedRegistryValue machineAppData(HKEY_LOCAL_MACHINE, kShellFolders, L"AppData");
    ASSERT_TRUE(userAppData.SetText(L"C:\\registry appdata"));
    std::wstring path;
    EXPECT_EQ(GetShellFolder(L"AppData", path), 1);
    EXPECT_EQ(path, L"C:\\registry appdata");

    ASSERT_TRUE(userAppData.Remove());
    ASSERT_TRUE(machineAppData.Remove());
    {
        SavedEnvironmentVariable environment(L"AppData", L"C:\\environment appdata");
        EXPECT_EQ(GetShellFolder(L"appdata", path), 1);
        EXPECT_EQ(path, L"C:\\environment appdata");
    }
    {
        SavedEnvironmentVariable environment(L"AppData", nullptr);
        EXPECT_EQ(GetShellFolder(L"AppData", path), 1);
        EXPECT_EQ(path, GetTempFolder() + L"\\");
        // Only AppData has fall-backs.
        EXPECT_EQ(GetShellFolder(L"Local AppData2", path), 0);
    }
}

}  // namespace
