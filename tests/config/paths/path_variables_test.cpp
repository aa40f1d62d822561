#include "config/paths/path_variables.h"

#include <gtest/gtest.h>

#include <knownfolders.h>

#include "common/test_files.h"
#include "common/test_registry.h"
#include "config/store/cfg_reader.h"
#include "support/environment.h"
#include "support/file_system.h"
#include "support/known_folders.h"

using tarn::PathVariableTable;
using tarn::test::RegistrySandbox;
using tarn::test::SavedRegistryValue;

namespace {

// An environment block from "name=value" entries.
std::wstring Block(std::initializer_list<const wchar_t*> entries)
{
    std::wstring block;
    for (const wchar_t* entry : entries) {
        block += entry;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

PathVariableTable Table(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> variables)
{
    PathVariableTable table;
    for (const auto& [name, value] : variables) {
        table.Add(name, value);
    }
    return table;
}

std::wstring Value(const PathVariableTable& table, const wchar_t* name)
{
    const std::wstring* value = table.Find(name);
    return value ? *value : L"(missing)";
}

TEST(PathVariableTableTest, EnvironmentEntriesAreTrimmedAndTheFirstWins)
{
    PathVariableTable table;
    const std::wstring block = Block({
        L"=C:=C:\\current",
        L" Tools = C:\\Tools\\ ",
        L"Both=a=b",
        L"EMPTY=",
        L"BLANK=  \t",
        L"NoEquals",
        L"tools=C:\\Second",
        L"Root=C:\\\\",
    });
    table.AddEnvironment(block.c_str());
    table.AddEnvironment(nullptr);
    EXPECT_EQ(table.Names(), (std::vector<std::wstring>{L"%Both%", L"%Root%", L"%Tools%"}));
    EXPECT_EQ(Value(table, L"%TOOLS%"), L"C:\\Tools");
    EXPECT_EQ(Value(table, L"%both%"), L"a=b");
    EXPECT_EQ(Value(table, L"%Root%"), L"C:\\");  // one trailing backslash only
}

TEST(PathVariableTableTest, DerivedNamesFollowTheEnvironment)
{
    struct Row {
        std::wstring block;
        const wchar_t* commonAppData;
        const wchar_t* commonFiles;
    };
    const Row rows[] = {
        {Block({L"ProgramData=C:\\PD", L"CommonProgramFiles=C:\\CF", L"CommonProgramFiles(x86)=C:\\CF86"}), L"C:\\PD",
         L"C:\\CF86"},
        {Block({L"CommonProgramFiles=C:\\CF"}), L"(missing)", L"C:\\CF"},
        {Block({L"Other=C:\\x"}), L"(missing)", L"(missing)"},
    };
    for (const Row& row : rows) {
        PathVariableTable table;
        table.AddEnvironment(row.block.c_str());
        table.AddDerivedNames();
        EXPECT_EQ(Value(table, L"%Common Appdata%"), row.commonAppData);
        EXPECT_EQ(Value(table, L"%CommonFilesDirX86%"), row.commonFiles);
    }
}

TEST(PathVariableTableTest, KnownFoldersComeAfterTheEnvironment)
{
    PathVariableTable table;
    const std::wstring block = Block({L"ProgramData=C:\\From Environment"});
    table.AddEnvironment(block.c_str());
    table.AddKnownFolders([](const GUID& id) -> std::wstring {
        if (IsEqualGUID(id, FOLDERID_Desktop)) {
            return L"C:\\Fake\\Desktop";
        }
        if (IsEqualGUID(id, FOLDERID_ProgramData)) {
            return L"C:\\From Shell";
        }
        return L"";
    });
    EXPECT_EQ(table.Names(), (std::vector<std::wstring>{L"%Desktop%", L"%ProgramData%"}));
    EXPECT_EQ(Value(table, L"%ProgramData%"), L"C:\\From Environment");
    EXPECT_EQ(Value(table, L"%desktop%"), L"C:\\Fake\\Desktop");
}

TEST(PathVariableTableTest, OnlyFoldersSurviveTheFilter)
{
    PathVariableTable table = Table({
        {L"%Tools%", L"C:\\Tools"},
        {L"%A%", L"C:\\too short a name"},
        {L"%AB%", L"C:\\long enough"},
        {L"%{guid}%", L"C:\\braces"},
        {L"%Bad}%", L"C:\\brace"},
        {L"%HomeDrive%", L"C:\\home"},
        {L"%HOMEPATH%", L"\\users\\x"},
        {L"%LogonServer%", L"\\\\server"},
        {L"%SystemDrive%", L"C:\\x"},
        {L"%Number%", L"1234"},
        {L"%Drive%", L"C:\\"},
        {L"%Share%", L"\\\\s\\x"},
    });
    table.KeepFoldersOnly();
    EXPECT_EQ(table.Names(), (std::vector<std::wstring>{L"%AB%", L"%Share%", L"%Tools%"}));
    EXPECT_EQ(table.Values(), (std::vector<std::wstring>{L"C:\\long enough", L"\\\\s\\x", L"C:\\Tools"}));
}

TEST(PathVariableTableTest, ReferencesInValuesAreReplacedOnce)
{
    PathVariableTable table = Table({
        {L"%Base%", L"C:\\Base"},
        {L"%Child%", L"%Base%\\Child"},
        {L"%Grandchild%", L"%Child%\\Grand"},
        {L"%Gone%", L"%Nowhere%\\x"},
    });
    table.ExpandReferences();
    EXPECT_EQ(Value(table, L"%Child%"), L"C:\\Base\\Child");
    // One pass over the values as they were: no chains.
    EXPECT_EQ(Value(table, L"%Grandchild%"), L"%Base%\\Child\\Grand");
    EXPECT_EQ(Value(table, L"%Gone%"), L"\\x");
}

TEST(PathVariableTableTest, ExpansionRules)
{
    const PathVariableTable table = Table({
        {L"%Temp%", L"C:\\Temp"},
        {L"%Common Appdata%", L"C:\\ProgramData"},
        {L"%Looping%", L"C:\\%Temp%"},
        {L"%%", L"never"},
    });
    struct Row {
        const wchar_t* text;
        const wchar_t* expanded;
    };
    const Row rows[] = {
        {L"%temp%\\x", L"C:\\Temp\\x"},
        {L"%TEMP%%TEMP%", L"C:\\TempC:\\Temp"},
        {L"%Common Appdata%\\y", L"C:\\ProgramData\\y"},
        {L"a%undefined%b", L"ab"},
        {L"a%%b", L"ab"},
        {L"50% done", L"50% done"},
        {L"%", L"%"},
        {L"%%%", L"%"},
        {L"%%%%", L""},
        {L"%Temp%%", L"C:\\Temp%"},
        {L"%x%Temp%", L"Temp%"},
        {L"%Looping%\\z", L"C:\\%Temp%\\z"},  // inserted text is not scanned again
        {L"", L""},
        {L"no variables", L"no variables"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "text " << row.text);
        std::wstring expanded = L"stale";
        EXPECT_TRUE(table.Expand(row.text, expanded));
        EXPECT_EQ(expanded, row.expanded);
    }
}

TEST(PathVariableTableTest, ExpansionRefusesTextsBeyondTheWorkBuffer)
{
    const PathVariableTable table = Table({{L"%Long%", std::wstring(40000, L'x').c_str()}});
    std::wstring expanded = L"stale";
    EXPECT_FALSE(table.Expand(std::wstring(tarn::kMaxExpandedPath + 1, L'a'), expanded));
    EXPECT_EQ(expanded, L"");
    EXPECT_TRUE(table.Expand(std::wstring(tarn::kMaxExpandedPath, L'a'), expanded));
    EXPECT_TRUE(table.Expand(L"%Long%", expanded));
    EXPECT_FALSE(table.Expand(L"%Long%%Long%", expanded));
    EXPECT_EQ(expanded, L"");
}

TEST(PathVariableTableTest, VariableFormTakesTheLongestValue)
{
    const PathVariableTable table = Table({
        {L"%Profile%", L"C:\\Users\\Anna"},
        {L"%Desktop%", L"C:\\Users\\Anna\\Desktop"},
        {L"%Tools%", L"C:\\Tools"},
        {L"%Zeta%", L"C:\\Equal"},
        {L"%Alpha%", L"C:\\equal"},
        {L"%Empty%", L""},
    });
    struct Row {
        const wchar_t* path;
        const wchar_t* variableForm;
    };
    const Row rows[] = {
        {L"C:\\Users\\Anna\\Desktop\\a.txt", L"%Desktop%\\a.txt"},
        {L"c:\\users\\anna\\documents", L"%Profile%\\documents"},
        {L"C:\\Users\\Anna", L"%Profile%"},
        {L"C:\\Tools2\\x", L"%Tools%2\\x"},  // a textual prefix is enough
        {L"\"C:\\Tools\\run.exe\" -a", L"\"%Tools%\\run.exe\" -a"},
        {L"C:\\EQUAL\\x", L"%Alpha%\\x"},  // equal lengths: the name that sorts first
        {L"D:\\Elsewhere", L"D:\\Elsewhere"},
        {L"\"", L"\""},
        {L"", L""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "path " << row.path);
        EXPECT_EQ(table.VariableForm(row.path), row.variableForm);
    }
}

class PathVariableRegistryTest : public ::testing::Test {
protected:
    RegistrySandbox sandbox;
    void SetUp() override { ASSERT_TRUE(sandbox.Valid()); }
};

TEST_F(PathVariableRegistryTest, ProductKeys)
{
    ASSERT_TRUE(sandbox.SetText(L"Main", L"InstallDir", L"C:\\Program Files\\Tarnix\\Gridwell\\"));
    ASSERT_TRUE(sandbox.SetText(L"MainGQ", L"InstallDir", L""));
    ASSERT_TRUE(sandbox.SetText(L"MainGQ", L"InstallDir_GQ", L"C:\\GQ"));
    ASSERT_TRUE(sandbox.SetText(L"Second", L"InstallDir", L"C:\\Corvin"));
    ASSERT_TRUE(sandbox.SetText(L"Second", L"AppData", L"C:\\Corvin Data\\"));
    ASSERT_TRUE(sandbox.SetText(L"SecondNoData", L"InstallDir", L"C:\\Corvin"));
    ASSERT_TRUE(sandbox.CreateSubkey(L"Empty"));
    {
        PathVariableTable table;
        table.AddMainProduct(sandbox.Path() + L"\\Main");
        table.AddSecondProduct(sandbox.Path() + L"\\Second");
        EXPECT_EQ(Value(table, L"%TarnGridwell_2023%"), L"C:\\Program Files\\Tarnix\\Gridwell");
        EXPECT_EQ(Value(table, L"%TarnGridwell_HELP%"), L"C:\\Program Files\\Tarnix\\Gridwell\\Help");
        EXPECT_EQ(Value(table, L"%TarnCorvin_2023%"), L"C:\\Corvin");
        EXPECT_EQ(Value(table, L"%TarnCorvin_2023_U%"), L"C:\\Corvin Data");
    }
    {
        PathVariableTable table = Table({{L"%APPDATA%", L"C:\\Roaming"}});
        table.AddMainProduct(sandbox.Path() + L"\\MainGQ");
        table.AddSecondProduct(sandbox.Path() + L"\\SecondNoData");
        EXPECT_EQ(Value(table, L"%TarnGridwell_2023%"), L"C:\\GQ");
        EXPECT_EQ(Value(table, L"%TarnCorvin_2023_U%"), L"C:\\Roaming\\Tarnix\\Tarn Corvin 2023");
    }
    {
        PathVariableTable table;
        table.AddMainProduct(sandbox.Path() + L"\\Empty");
        table.AddMainProduct(sandbox.Path() + L"\\Missing");
        table.AddSecondProduct(sandbox.Path() + L"\\Missing");
        table.AddUserDataFolder(L"");
        EXPECT_TRUE(table.Names().empty());
    }
}

TEST_F(PathVariableRegistryTest, HostCadFoldersFollowCurVer)
{
    const std::wstring version = sandbox.KeyPath() + L"\\R24.2";
    ASSERT_TRUE(sandbox.SetText(L"R24.2", L"CurVer", L"Release-1:409"));
    ASSERT_TRUE(sandbox.SetText(L"R24.2\\Release-1:409", L"LocalRootFolder", L"C:\\Local\\"));
    ASSERT_TRUE(sandbox.SetText(L"R24.2\\Release-1:409", L"RoamableRootFolder", L"C:\\Roamable"));
    ASSERT_TRUE(sandbox.SetText(L"R24.2\\Release-1:409", L"PublicFolder", L""));
    ASSERT_TRUE(sandbox.SetText(L"R24.2\\Release-1:409", L"Location", L"C:\\user location is not read"));
    SavedRegistryValue location(HKEY_LOCAL_MACHINE, version + L"\\Release-1:409", L"Location");
    SavedRegistryValue allUsers(HKEY_LOCAL_MACHINE, version + L"\\Release-1:409", L"AllUsersRootFolder");
    ASSERT_TRUE(location.SetText(L"C:\\Program Files\\Host"));
    ASSERT_TRUE(allUsers.SetText(L"C:\\ProgramData\\Host"));

    PathVariableTable table;
    table.AddHostCadFolders(version);
    EXPECT_EQ(table.Names(), (std::vector<std::wstring>{L"%AutoCAD_AllUsersRootFolder%", L"%AutoCAD_LocalRootFolder%",
                                                        L"%AutoCAD_Location%", L"%AutoCAD_RoamableRootFolder%"}));
    EXPECT_EQ(Value(table, L"%AutoCAD_Location%"), L"C:\\Program Files\\Host");
    EXPECT_EQ(Value(table, L"%AutoCAD_LocalRootFolder%"), L"C:\\Local");

    // The user's key exists but names no current version: nothing.
    ASSERT_TRUE(sandbox.CreateSubkey(L"NoCurVer"));
    PathVariableTable none;
    none.AddHostCadFolders(sandbox.KeyPath() + L"\\NoCurVer");
    EXPECT_TRUE(none.Names().empty());
}

TEST_F(PathVariableRegistryTest, HostCadKeyMissingForTheUserUsesTheMachineKeyAsItIs)
{
    const std::wstring version = sandbox.KeyPath() + L"\\NotForUser";
    SavedRegistryValue location(HKEY_LOCAL_MACHINE, version, L"Location");
    ASSERT_TRUE(location.SetText(L"C:\\Machine Host"));
    PathVariableTable table;
    table.AddHostCadFolders(version);
    EXPECT_EQ(Value(table, L"%AutoCAD_Location%"), L"C:\\Machine Host");
}

TEST_F(PathVariableRegistryTest, HostReleaseFolders)
{
    ASSERT_TRUE(sandbox.SetText(L"Release", L"AllUsersFolder", L"C:\\All Users\\"));
    ASSERT_TRUE(sandbox.SetText(L"Release", L"LocalRootFolder", L"C:\\Local"));
    PathVariableTable table;
    table.AddHostRelease({sandbox.KeyPath() + L"\\Release", L"C:\\Host\\acad.exe"});
    EXPECT_EQ(table.Names(), (std::vector<std::wstring>{L"%ACALLUSERSFOLDER%", L"%ACINSTALLFOLDER%",
                                                        L"%ACLOCALROOTFOLDER%"}));
    EXPECT_EQ(Value(table, L"%ACALLUSERSFOLDER%"), L"C:\\All Users");
    EXPECT_EQ(Value(table, L"%ACINSTALLFOLDER%"), L"C:\\Host");
}

TEST_F(PathVariableRegistryTest, BuildUsesTheSourcesInOrder)
{
    ASSERT_TRUE(sandbox.SetText(L"Main", L"InstallDir", L"C:\\Gridwell"));
    ASSERT_TRUE(sandbox.SetText(L"Release", L"LocalRootFolder", L"%TarnGridwell_2023%\\Host"));
    tarn::PathVariableSources sources;
    const std::wstring block = Block({L"APPDATA=C:\\Roaming", L"ProgramData=C:\\PD", L"TarnGridwell_2023=C:\\Env",
                                      L"HOMEDRIVE=C:\\", L"Flag=1", L"Ref=%APPDATA%\\Sub"});
    sources.environment = block.c_str();
    sources.knownFolder = [](const GUID& id) -> std::wstring {
        return IsEqualGUID(id, FOLDERID_Desktop) ? L"C:\\Desk" : L"";
    };
    sources.mainProductKey = sandbox.Path() + L"\\Main";
    sources.userDataFolder = [] { return std::wstring(L"C:\\User Data\\"); };
    sources.hostCadVersionKey = sandbox.KeyPath() + L"\\NoHost";
    sources.secondProductKey = sandbox.Path() + L"\\NoSecond";
    sources.hostRelease = [this](tarn::HostRelease& release) {
        release = {sandbox.KeyPath() + L"\\Release", L"acad.exe"};
        return true;
    };
    const PathVariableTable table = tarn::BuildPathVariables(sources);
    EXPECT_EQ(table.Names(),
              (std::vector<std::wstring>{L"%ACLOCALROOTFOLDER%", L"%APPDATA%", L"%Common Appdata%", L"%Desktop%",
                                         L"%ProgramData%", L"%Ref%", L"%TarnCorvin_2023_U%", L"%TarnGridwell_2023%",
                                         L"%TarnGridwell_2023_U%", L"%TarnGridwell_HELP%"}));
    EXPECT_EQ(Value(table, L"%TarnGridwell_2023%"), L"C:\\Env");  // the environment came first
    EXPECT_EQ(Value(table, L"%TarnGridwell_HELP%"), L"C:\\Gridwell\\Help");
    EXPECT_EQ(Value(table, L"%TarnGridwell_2023_U%"), L"C:\\User Data");
    EXPECT_EQ(Value(table, L"%Ref%"), L"C:\\Roaming\\Sub");
    EXPECT_EQ(Value(table, L"%ACLOCALROOTFOLDER%"), L"C:\\Env\\Host");
}

// The process-wide table of the test prefix.
TEST(PathVariablesTest, ExpandsTheRealFolders)
{
    const std::wstring desktop = tarn::GetKnownFolderPath(FOLDERID_Desktop);
    ASSERT_FALSE(desktop.empty()) << "the test prefix needs a Desktop folder";
    struct Row {
        const wchar_t* text;
        std::wstring expanded;
        std::wstring variableForm;
    };
    const Row rows[] = {
        {L"%temp%\\x", GetTempFolder() + L"\\x", L""},
        {L"%Temp%\\Tarnix_Software.txt", GetTempFolder() + L"\\Tarnix_Software.txt", L""},
        {L"%Desktop%\\Tarnix_Software.txt", desktop + L"\\Tarnix_Software.txt", L"%Desktop%\\Tarnix_Software.txt"},
        {L"a%TarnNotDefined%b%%c", L"abc", L"abc"},
        {L"100%", L"100%", L"100%"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "text " << row.text);
        std::wstring variableForm;
        std::wstring expanded;
        EXPECT_EQ(ExpandPathVariables(variableForm, expanded, row.text, 0), 1);
        EXPECT_EQ(expanded, row.expanded);
        if (!row.variableForm.empty()) {
            EXPECT_EQ(variableForm, row.variableForm);
        }
    }
    std::wstring variableForm = L"stale";
    std::wstring expanded = L"stale";
    EXPECT_EQ(ExpandPathVariables(variableForm, expanded, L"", 0), 0);
    EXPECT_EQ(variableForm + expanded, L"");
    EXPECT_EQ(ExpandPathVariables(variableForm, expanded, nullptr, 0), 0);
    EXPECT_EQ(&tarn::GetPathVariables(), &tarn::GetPathVariables());
}

TEST(PathVariablesTest, TableHoldsFoldersOnly)
{
    const PathVariableTable& table = tarn::GetPathVariables();
    ASSERT_EQ(table.Names().size(), table.Values().size());
    EXPECT_NE(table.Find(L"%WINDIR%"), nullptr);
    EXPECT_NE(table.Find(L"%Windows%"), nullptr);
    EXPECT_EQ(table.Find(L"%HOMEDRIVE%"), nullptr);
    for (size_t i = 0; i < table.Names().size(); ++i) {
        EXPECT_GT(table.Names()[i].size(), 3u);
        EXPECT_NE(table.Values()[i].find(L'\\'), std::wstring::npos) << table.Names()[i];
    }
}

TEST(ExpandValueTest, FolderFileValuesAndLists)
{
    const std::wstring temp = GetTempFolder();
    const std::wstring desktop = tarn::GetKnownFolderPath(FOLDERID_Desktop);
    struct Row {
        std::wstring value;
        int toVariableForm;
        int result;
        std::wstring converted;
    };
    const Row rows[] = {
        {L"%Temp%\\a", 0, 1, temp + L"\\a"},
        {L"%Temp%\\a;%Desktop%\\b", 0, 1, temp + L"\\a;" + desktop + L"\\b"},
        {desktop + L"\\a;" + desktop + L"\\b", 1, 1, L"%Desktop%\\a;%Desktop%\\b"},
        {L"\\\\server\\x;%Desktop%", 0, 1, L"\\\\server\\x;" + desktop},
        {L"%Desktop%;;", 0, 1, desktop + L";;"},
        {L"x;%Desktop%", 0, 0, L"x;%Desktop%"},  // not a list of folders
        {L"%a%;b", 0, 0, L"%a%;b"},              // too short to be one
        {L"1:\\x;%Desktop%", 0, 0, L"1:\\x;%Desktop%"},
        {desktop + L"\\c", 1, 1, L"%Desktop%\\c"},
        {L"%%%%", 0, 1, L""},
        {L"%", 0, 1, L"%"},
        {L"True", 1, 1, L"True"},
        {L"", 0, 0, L""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "value " << row.value);
        std::wstring value = row.value;
        EXPECT_EQ(ExpandValue(value, row.toVariableForm), row.result);
        EXPECT_EQ(value, row.converted);
    }
}

// The store reads the folder file's values expanded and stores their variable
// form; other settings files keep their text as it is.
TEST(ExpandValueTest, TheFolderFileStoreConvertsItsValues)
{
    tarn::test::ScratchFolder scratch;
    const std::wstring desktop = tarn::GetKnownFolderPath(FOLDERID_Desktop);
    ASSERT_FALSE(desktop.empty());
    for (const wchar_t* name : {L"ordner.INI", L"Other.ini"}) {
        SCOPED_TRACE(testing::Message() << "file " << name);
        const bool folderFile = std::wstring(name) != L"Other.ini";
        const std::wstring file = scratch / name;
        {
            CCfgReader store(file);
            EXPECT_EQ(store.SetValue(L"Ordner", L"Desk", (desktop + L"\\Sub").c_str()), 1);
            EXPECT_EQ(store.SetValue(L"Ordner", L"List", (desktop + L"\\a;" + desktop + L"\\b").c_str()), 1);
            EXPECT_EQ(store.SetValue(L"Ordner", L"Temp", L"%Temp%\\x"), 1);
            EXPECT_EQ(store.Save(), 1);
        }
        const std::string text = tarn::test::ReadBytes(file);
        EXPECT_EQ(text.find("Desk=%Desktop%\\Sub") != std::string::npos, folderFile) << text;
        EXPECT_EQ(text.find("List=%Desktop%\\a;%Desktop%\\b") != std::string::npos, folderFile) << text;

        CCfgReader store(file);
        std::wstring value;
        EXPECT_EQ(store.GetValue(value, L"Ordner", L"Desk"), 1);
        EXPECT_EQ(value, desktop + L"\\Sub");
        EXPECT_EQ(store.GetValue(value, L"Ordner", L"Temp"), 1);
        EXPECT_EQ(value, folderFile ? GetTempFolder() + L"\\x" : L"%Temp%\\x");
        std::vector<std::wstring> keys;
        std::vector<std::wstring> values;
        EXPECT_EQ(store.GetSection(keys, values, L"Ordner", 0), 1);
        EXPECT_EQ(values.size(), 3u);
        EXPECT_NE(std::find(values.begin(), values.end(), desktop + L"\\a;" + desktop + L"\\b"), values.end());
    }
}

}  // namespace

namespace {

TEST(GetPathWithoutVarsTest, ExpandsOnlyPathsWithVariables)
{
    std::wstring variableForm = L"untouched";
    std::wstring expanded = L"stale";
    EXPECT_EQ(CCfgReader::GetPathWithoutVars(variableForm, expanded, L"C:\\No\\Variables"), 1);
    EXPECT_EQ(expanded, L"C:\\No\\Variables");
    EXPECT_EQ(variableForm, L"untouched");

    EXPECT_EQ(CCfgReader::GetPathWithoutVars(variableForm, expanded, L"%Temp%\\TarnInstallStarter.txt", 0), 1);
    EXPECT_EQ(expanded, GetTempFolder() + L"\\TarnInstallStarter.txt");
    EXPECT_EQ(variableForm.front(), L'%');

    expanded = L"stale";
    EXPECT_EQ(CCfgReader::GetPathWithoutVars(variableForm, expanded, L""), 0);
    EXPECT_EQ(expanded, L"");
    EXPECT_EQ(CCfgReader::GetPathWithoutVars(variableForm, expanded, nullptr), 0);
    EXPECT_EQ(CCfgReader::GetPathWithoutVars(variableForm, expanded, L"%%%%%"), 1);
    EXPECT_EQ(expanded, L"%");
}

}  // namespace
