#include "app/install/download_list.h"
#include "app/install/install_data_folder.h"
#include "app/install/package_loop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::wstring>;

TEST(InstallDataFolderFor, RootOfTheTemporaryFolderAndLastProductComponent)
{
    struct Case {
        const wchar_t* temp;
        const wchar_t* product;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"C:\\Users\\x\\AppData\\Local\\Temp", L"D:\\Tarn Gridwell 2023\\", L"C:\\Tarn_InstallData\\Tarn Gridwell 2023"},
        {L"D:\\Temp\\", L"X:\\Downloads\\Tarn Corvin 2023", L"D:\\Tarn_InstallData\\Tarn Corvin 2023"},
        {L"\\\\server\\share\\Temp", L"C:\\Tarn Gridwell 2023\\", L"\\\\server\\share\\Tarn_InstallData\\Tarn Gridwell 2023"},
        {L"\\\\server\\share", L"C:\\a\\b\\", L"\\\\server\\share\\Tarn_InstallData\\b"},
        {L"C:\\Temp", L"", L"C:\\"},
        {L"C:\\Temp", L"DownloadNotReady", L"C:\\"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tarn::InstallDataFolderFor(c.temp, c.product), c.expected) << c.temp << L" | " << c.product;
    }
}

TEST(ReadDownloadListLines, StatusEntriesAndPackages)
{
    struct Case {
        Lines lines;
        Lines statusEntries;
        Lines packages;
    };
    const Case cases[] = {
        {{L"Tarn_Gridwell_2023_(1).cab", L"Tarn_Gridwell_2023_(2).cab", L"SetupUpdater_2023.cab", L""},
         {L"Tarn_Gridwell_2023_(1).cab", L"Tarn_Gridwell_2023_(2).cab", L"SetupUpdater_2023.cab"},
         {L"Tarn_Gridwell_2023_(1).cab", L"Tarn_Gridwell_2023_(2).cab"}},
        // Three characters are no entry; the last "RODOvoVuviri" and the last
        // "SetupUpdater" are no package, earlier ones are.
        {{L"abc", L"RODOvoVuviri_a.cab", L"a.cab", L"rodovovuviri.cab", L"SetupUpdater_1.cab",
          L"setupupdater_2024.cab"},
         {L"RODOvoVuviri_a.cab", L"a.cab", L"rodovovuviri.cab", L"SetupUpdater_1.cab", L"setupupdater_2024.cab"},
         {L"RODOvoVuviri_a.cab", L"a.cab", L"SetupUpdater_1.cab"}},
        // Names that could lead outside the temporary or installation folder.
        {{L"..\\x.cab", L"sub/x.cab", L"C:x.cab", L"\\\\srv\\x.cab", L"....", L". ..", L"ok.cab"},
         {L"ok.cab"},
         {L"ok.cab"}},
        // Device names and names the platform trims open something else.
        {{L"LPT1.cab", L"com9", L"CONOUT$", L"Nul .txt", L"a.cab.", L"a.cab ", L"COM10.cab", L"ok.cab"},
         {L"COM10.cab", L"ok.cab"},
         {L"COM10.cab", L"ok.cab"}},
    };
    for (const Case& c : cases) {
        const tarn::DownloadListEntries entries = tarn::ReadDownloadListLines(c.lines);
        EXPECT_EQ(entries.statusEntries, c.statusEntries);
        EXPECT_EQ(entries.packages, c.packages);
    }
}

TEST(UpdateDownloadArguments, ProfileRules)
{
    const std::wstring base = L"http://h/gridwell/data/2024";
    const std::wstring to = L" ToFolder=\"C:\\Tarn_InstallData\\P\"";
    const std::wstring host = L"DownloadFile=\"" + base + L"/Downloads/RODOvoVuviri.cab\"" + to;
    const std::wstring updater = L"DownloadFile=\"" + base + L"/Downloads/SetupUpdater_2024.cab\"" + to;
    const std::wstring gridwell = L"DownloadGridwellUpdate=\"" + base + L"/Updates/AutoUpdateInfo.csv\"" + to;
    const std::wstring corvin = L"DownloadCorvinUpdate=\"" + base + L"/Updates/AutoUpdateInfo.csv\"" + to;
    struct Case {
        int profile;
        bool hostPresent;
        Lines expected;
    };
    const Case cases[] = {
        {0, false, {host, updater, gridwell}}, {0, true, {updater, gridwell}}, {1, false, {host, updater, gridwell}},
        {2, false, {updater, corvin}},         {3, false, {updater}},          {4, true, {updater}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tarn::UpdateDownloadArguments(c.profile, c.hostPresent, base, L"C:\\Tarn_InstallData\\P"),
                  c.expected)
            << c.profile << c.hostPresent;
    }
    EXPECT_EQ(tarn::UpdaterCabinetName(L"http://h/x/2023"), L"SetupUpdater_2023.cab");
    EXPECT_EQ(tarn::PackageStatusPrefix(1, 11), L"Das 1. Datenpaket von 11 ");
}

}  // namespace
