#include "config/paths/folder_functions.h"

#include <gtest/gtest.h>

#include "common/test_files.h"
#include "common/test_registry.h"
#include "support/file_system.h"
#include "support/program_path.h"
#include "support/registry.h"

using tarn::test::SavedEnvironmentVariable;
using tarn::test::SavedRegistryValue;

namespace {

const wchar_t kGridwell[] = L"Software\\Tarnix\\Tarn Gridwell 2023";
const wchar_t kCorvin[] = L"Software\\Tarnix\\Tarn Corvin 2023";

// The products' real keys in the test prefix, cleared for each test and put
// back afterwards; the environment variables the functions read likewise.
class FolderFunctionsTest : public ::testing::Test {
protected:
    SavedRegistryValue userAppData{HKEY_CURRENT_USER, kGridwell, L"AppData"};
    SavedRegistryValue userAppDataEdition{HKEY_CURRENT_USER, kGridwell, L"AppData_"};
    SavedRegistryValue machineAppData{HKEY_LOCAL_MACHINE, kGridwell, L"AppData"};
    SavedRegistryValue machineAppDataGQ{HKEY_LOCAL_MACHINE, kGridwell, L"AppData_GQ"};
    SavedRegistryValue machineInstallDir{HKEY_LOCAL_MACHINE, kGridwell, L"InstallDir"};
    SavedRegistryValue machineDefault{HKEY_LOCAL_MACHINE, kGridwell, L""};
    SavedRegistryValue userConfig{HKEY_CURRENT_USER, kGridwell, L"Config"};
    SavedRegistryValue userDefault{HKEY_CURRENT_USER, kGridwell, L""};
    SavedRegistryValue corvinAppData{HKEY_LOCAL_MACHINE, kCorvin, L"AppData"};
    SavedRegistryValue corvinInstallDir{HKEY_LOCAL_MACHINE, kCorvin, L"InstallDir"};
    SavedRegistryValue corvinConfig{HKEY_CURRENT_USER, kCorvin, L"ConfigR"};
    SavedRegistryValue vertixInstallDir{HKEY_LOCAL_MACHINE, L"Software\\Tarnix\\Tarn Vertix 2015", L"InstallDir"};
    SavedRegistryValue vertixAppData{HKEY_CURRENT_USER, L"Software\\Tarnix\\Tarn Vertix 2015", L"AppData"};
    SavedEnvironmentVariable appData{L"AppData", L"C:\\Env Roaming"};
    SavedEnvironmentVariable configEnvironment{L"TarnGridwell_2023_CFG_L", nullptr};
    SavedEnvironmentVariable corvinConfigEnvironment{L"TarnCorvin_2023_CFG_L", nullptr};
    SavedEnvironmentVariable folderName{L"TARN_TEST_FOLDER", L"Expanded"};

    void SetUp() override
    {
        for (SavedRegistryValue* value : {&userAppData, &userAppDataEdition, &machineAppData, &machineAppDataGQ,
                                          &machineInstallDir, &machineDefault, &userConfig, &userDefault,
                                          &corvinAppData, &corvinInstallDir, &corvinConfig, &vertixInstallDir,
                                          &vertixAppData}) {
            ASSERT_TRUE(value->Remove());
        }
    }

    static std::wstring ShellAppData()
    {
        std::wstring folder;
        GetShellFolder(L"AppData", folder);
        return folder;
    }
};

TEST_F(FolderFunctionsTest, UserAppDataPrefersTheUsersKey)
{
    const std::wstring fallback = ShellAppData() + L"\\Tarnix\\Tarn Gridwell 2023";
    EXPECT_EQ(tarn::GetUserAppDataDir(2023), fallback);

    ASSERT_TRUE(machineAppData.SetText(L"C:\\Machine\\%TARN_TEST_FOLDER%"));
    EXPECT_EQ(tarn::GetUserAppDataDir(2023), L"C:\\Machine\\Expanded");
    ASSERT_TRUE(userAppDataEdition.SetText(L"C:\\User edition value"));
    EXPECT_EQ(tarn::GetUserAppDataDir(2023), L"C:\\User edition value");
    ASSERT_TRUE(userAppData.SetText(L"C:\\User"));
    EXPECT_EQ(tarn::GetUserAppDataDir(2023), L"C:\\User");

    // Years up to 2016 have their own key.
    ASSERT_TRUE(vertixAppData.SetText(L"C:\\Vertix"));
    EXPECT_EQ(tarn::GetUserAppDataDir(2015), L"C:\\Vertix");
    EXPECT_EQ(tarn::GetUserAppDataDir(2016), ShellAppData() + L"\\Tarnix\\Tarn Gridwell 2016");
}

TEST_F(FolderFunctionsTest, CentralFoldersComeFromTheMachineKey)
{
    wchar_t buffer[MAX_PATH] = L"stale";
    EXPECT_EQ(GetCentralAppDir(buffer), buffer);
    EXPECT_STREQ(buffer, L"");

    ASSERT_TRUE(machineDefault.SetText(L"C:\\Default Value"));
    EXPECT_STREQ(GetCentralAppDir(buffer), L"C:\\Default Value");
    ASSERT_TRUE(machineInstallDir.SetText(L"C:\\Gridwell"));
    EXPECT_STREQ(GetCentralAppDir(buffer), L"C:\\Gridwell");
    EXPECT_STREQ(GetCentralAppDir(buffer, 2023), L"C:\\Gridwell");
    EXPECT_STREQ(GetCentralAppDir(buffer, 2024), L"");

    ASSERT_TRUE(vertixInstallDir.SetText(L"C:\\Vertix"));
    EXPECT_STREQ(GetCentralAppDir(buffer, 2015), L"C:\\Vertix");
    ASSERT_TRUE(corvinInstallDir.SetText(L"C:\\Corvin"));
    EXPECT_STREQ(GetCentralRAppDir(buffer, 2023), L"C:\\Corvin");

    // Without a buffer the function's own one is used, and overwritten.
    wchar_t* own = GetCentralAppDir();
    EXPECT_STREQ(own, L"C:\\Gridwell");
    EXPECT_EQ(GetCentralAppDir(nullptr, 2024), own);
    EXPECT_STREQ(own, L"");

    // A folder that does not fit the buffer is not found rather than cut.
    ASSERT_TRUE(machineInstallDir.SetText(L"C:\\" + std::wstring(MAX_PATH, L'x')));
    EXPECT_STREQ(GetCentralAppDir(buffer), L"");
}

TEST_F(FolderFunctionsTest, LocalApplicationDataFolders)
{
    wchar_t buffer[MAX_PATH] = {};
    EXPECT_STREQ(GetLocalAppDir(buffer), L"C:\\Env Roaming\\Tarnix\\Tarn Gridwell 2023");
    EXPECT_STREQ(GetLocalAppDir(buffer, 2030), L"C:\\Env Roaming\\Tarnix\\Tarn Gridwell 2030");
    EXPECT_STREQ(GetLocalRAppDir(buffer), L"C:\\Env Roaming\\Tarnix\\Tarn Corvin 2023");
    ASSERT_TRUE(machineAppDataGQ.SetText(L"C:\\GQ"));
    EXPECT_STREQ(GetLocalAppDir(buffer), L"C:\\GQ");
    ASSERT_TRUE(machineAppData.SetText(L"C:\\%TARN_TEST_FOLDER%", REG_EXPAND_SZ));
    EXPECT_STREQ(GetLocalAppDir(buffer), L"C:\\Expanded");
    ASSERT_TRUE(corvinAppData.SetText(L"C:\\Corvin\\%TARN_TEST_FOLDER%"));
    EXPECT_STREQ(GetLocalRAppDir(buffer, 2023), L"C:\\Corvin\\Expanded");
    EXPECT_STREQ(GetLocalRAppDir(buffer, 2022), L"C:\\Env Roaming\\Tarnix\\Tarn Corvin 2022");

    SavedEnvironmentVariable noAppData(L"AppData", nullptr);
    EXPECT_STREQ(GetLocalRAppDir(buffer, 2022), L"");
}

TEST_F(FolderFunctionsTest, ConfigurationFolderSources)
{
    wchar_t buffer[MAX_PATH] = {};
    {
        SavedEnvironmentVariable noAppData(L"AppData", nullptr);
        EXPECT_EQ(std::wstring(GetLocalConfigDir(buffer)), tarn::GetProgramFolder() + L"\\Config\\");
    }
    EXPECT_STREQ(GetLocalConfigDir(buffer), L"C:\\Env Roaming\\Tarnix\\Tarn Gridwell 2023\\Config\\");
    EXPECT_EQ(std::wstring(GetLocalRConfigDir(buffer)), ShellAppData() + L"\\Tarnix\\Tarn Corvin 2023\\Config\\");

    ASSERT_TRUE(machineAppData.SetText(L"C:\\Machine\\%TARN_TEST_FOLDER%"));
    EXPECT_STREQ(GetLocalConfigDir(buffer), L"C:\\Machine\\Expanded\\Config\\");
    ASSERT_TRUE(userDefault.SetText(L"C:\\User Default\\"));
    EXPECT_STREQ(GetLocalConfigDir(buffer), L"C:\\User Default\\Config\\");

    ASSERT_TRUE(userConfig.SetText(L"C:\\User Config"));
    EXPECT_STREQ(GetLocalConfigDir(buffer), L"C:\\User Config\\");
    // The folder found in the user's key is kept in the environment.
    std::wstring environment(MAX_PATH, L'\0');
    environment.resize(::GetEnvironmentVariableW(L"TarnGridwell_2023_CFG_L", environment.data(), MAX_PATH));
    EXPECT_EQ(environment, L"C:\\User Config\\");
    ASSERT_TRUE(userConfig.Remove());
    EXPECT_STREQ(GetLocalConfigDir(buffer), L"C:\\User Config\\");

    ::SetEnvironmentVariableW(L"TarnCorvin_2023_CFG_L", L"C:\\From Environment");
    EXPECT_STREQ(GetLocalRConfigDir(buffer), L"C:\\From Environment\\");
    EXPECT_STREQ(GetLocalRConfigDir(), L"C:\\From Environment\\");
}

// The shared folders: the machine's value, else the per-user folder; either
// is kept in the variant's variable, which answers later calls.
TEST_F(FolderFunctionsTest, SharedConfigurationFolders)
{
    SavedRegistryValue machineConfigCfg{HKEY_LOCAL_MACHINE, kGridwell, L"ConfigCfg"};
    SavedRegistryValue machineConfig{HKEY_LOCAL_MACHINE, kGridwell, L"Config"};
    struct Row {
        wchar_t* (*function)(wchar_t*);
        const wchar_t* environment;
        SavedRegistryValue* machineValue;
    };
    const Row rows[] = {{&tarn::GetSharedConfigDir, L"TarnGridwell_2023_CFG", &machineConfigCfg},
                        {&tarn::GetCentralConfigDir, L"TarnGridwell_2023_CFG_C", &machineConfig}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.environment);
        SavedEnvironmentVariable variable(row.environment, nullptr);
        ASSERT_TRUE(machineConfigCfg.Remove());
        ASSERT_TRUE(machineConfig.Remove());
        ASSERT_TRUE(userConfig.SetText(L"C:\\User Config"));
        wchar_t buffer[MAX_PATH] = {};
        EXPECT_STREQ(row.function(buffer), L"C:\\User Config\\");

        ::SetEnvironmentVariableW(row.environment, nullptr);
        ASSERT_TRUE(row.machineValue->SetText(L"C:\\Shared"));
        EXPECT_STREQ(row.function(buffer), L"C:\\Shared\\");
        ASSERT_TRUE(row.machineValue->Remove());
        EXPECT_STREQ(row.function(nullptr), L"C:\\Shared\\") << "kept in the variable";
    }
}

TEST_F(FolderFunctionsTest, SecondProductConfigurationValue)
{
    ASSERT_TRUE(corvinConfig.SetText(L"D:\\Corvin Config\\"));
    wchar_t buffer[MAX_PATH] = {};
    EXPECT_STREQ(GetLocalRConfigDir(buffer), L"D:\\Corvin Config\\");
    EXPECT_STREQ(GetLocalConfigDir(buffer), L"C:\\Env Roaming\\Tarnix\\Tarn Gridwell 2023\\Config\\");
}

}  // namespace

namespace {

using tarn::test::HelperProgram;
using tarn::test::ReadBytes;
using tarn::test::ScratchFolder;
using tarn::test::WriteBytes;

// Folder values through the configuration-reader module or, without one,
// from the folder file itself.
class DirValueTest : public FolderFunctionsTest {
protected:
    ScratchFolder scratch;
    std::wstring configFolder = scratch / L"Config\\";
    std::wstring moduleLog = scratch / L"cfgr.log";
    SavedEnvironmentVariable configVariable{L"TarnGridwell_2023_CFG_L", configFolder.c_str()};
    SavedEnvironmentVariable logVariable{L"TARN_CFGR_LOG", moduleLog.c_str()};

    void SetUp() override
    {
        FolderFunctionsTest::SetUp();
        ASSERT_TRUE(WriteBytes(configFolder + L"Ordner.ini",
                               "[Ordner]\r\nData=%Temp%\\Data\r\nBoth=%Temp%\\a;%Temp%\\b\r\nPlain=C:\\Plain\r\n"));
    }

    // A copy of the module double in a folder of the test's own.
    std::wstring PlaceModule(const std::wstring& folder) const
    {
        CreateFolderPath(folder.c_str());
        const std::wstring module = folder + L"\\CfgR.dll";
        EXPECT_TRUE(::CopyFileW(HelperProgram(L"doubles\\CfgR.dll").c_str(), module.c_str(), FALSE));
        return module;
    }

    static std::wstring DirValue(const wchar_t* name)
    {
        wchar_t buffer[MAX_PATH] = L"stale";
        EXPECT_EQ(GetDirValue(name, buffer), buffer);
        return buffer;
    }
};

TEST_F(DirValueTest, WithoutModuleTheFolderFileIsRead)
{
    const std::wstring temp = GetTempFolder();
    EXPECT_EQ(DirValue(L"Data"), temp + L"\\Data");
    EXPECT_EQ(DirValue(L"data"), temp + L"\\Data");
    EXPECT_EQ(DirValue(L"Both"), temp + L"\\a;" + temp + L"\\b");
    EXPECT_EQ(DirValue(L"Plain"), L"C:\\Plain");
    EXPECT_EQ(DirValue(L"Missing"), L"");
    EXPECT_EQ(DirValue(L""), L"");
    EXPECT_EQ(DirValue(nullptr), L"");
    EXPECT_STREQ(GetDirValue(L"Plain"), L"C:\\Plain");
}

TEST_F(DirValueTest, AModuleInTheCurrentFolderIsNeverLoaded)
{
    PlaceModule(scratch / L"planted");
    wchar_t previous[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW((scratch / L"planted").c_str()));
    const std::wstring value = DirValue(L"Data");
    ::SetCurrentDirectoryW(previous);
    EXPECT_EQ(value, GetTempFolder() + L"\\Data");
    EXPECT_EQ(ReadBytes(moduleLog), "");
}

TEST_F(DirValueTest, ADriveRelativeInstallationFolderIsNeverLoadedFrom)
{
    PlaceModule(scratch / L"planted");
    ASSERT_EQ(scratch.Path()[1], L':');
    // "X:planted" names the folder "planted" in the current folder of drive X.
    ASSERT_TRUE(machineInstallDir.SetText(scratch.Path().substr(0, 2) + L"planted"));
    wchar_t previous[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(scratch.Path().c_str()));
    const std::wstring value = DirValue(L"Data");
    ::SetCurrentDirectoryW(previous);
    EXPECT_EQ(value, GetTempFolder() + L"\\Data");
    EXPECT_EQ(ReadBytes(moduleLog), "");
}

TEST_F(DirValueTest, TheModuleInTheInstallationFolderAnswers)
{
    PlaceModule(scratch / L"Install");
    ASSERT_TRUE(machineInstallDir.SetText(scratch / L"Install"));
    EXPECT_EQ(DirValue(L"Data"), L"C:\\FromCfgR\\Data");
    // The module's "not found" is the answer: the folder file is not read then.
    EXPECT_EQ(DirValue(L"Plain"), L"C:\\FromCfgR\\Plain");
    EXPECT_EQ(DirValue(L"Missing"), L"");
    EXPECT_EQ(::GetModuleHandleW(L"CfgR.dll"), nullptr) << "the module is unloaded after each call";

    std::string folderFile(MAX_PATH, '\0');
    folderFile.resize(static_cast<size_t>(::WideCharToMultiByte(CP_UTF8, 0, (configFolder + L"Ordner.ini").c_str(),
                                                                -1, folderFile.data(), MAX_PATH, nullptr, nullptr) -
                                          1));
    EXPECT_EQ(ReadBytes(moduleLog),
              folderFile + "|Ordner|Data\n" + folderFile + "|Ordner|Plain\n" + folderFile + "|Ordner|Missing\n");
}

TEST_F(DirValueTest, AnUnusableModuleFallsBackToTheFolderFile)
{
    CreateFolderPath((scratch / L"Broken").c_str());
    ASSERT_TRUE(WriteBytes(scratch / L"Broken\\CfgR.dll", "this is no module"));
    ASSERT_TRUE(machineInstallDir.SetText(scratch / L"Broken"));
    EXPECT_EQ(DirValue(L"Plain"), L"C:\\Plain");
}

}  // namespace
