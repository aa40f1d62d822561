#include "app/profile/product_profile.h"

#include <cwchar>

#include "config/store/cfg_reader.h"
#include "support/file_system.h"
#include "support/name_compare.h"
#include "support/path_text.h"
#include "support/program_path.h"
#include "support/text_format.h"
#include "support/trace.h"
#include "tarn_build_config.h"
#include "transfer/http_download.h"

namespace tarn {

const wchar_t kDownloadNotReady[] = L"DownloadNotReady";

namespace {

struct ProfileRow {
    std::wstring_view reducedName;   // empty for the generic row
    std::wstring_view pictureName;
    std::wstring_view basePath;      // below the server root
    std::wstring_view productSubfolder;
    std::wstring_view downloadList;
    std::wstring_view windowTitle;
};

const ProfileRow kProfiles[] = {
    {L"Tarn_Gridwell", L"ID_BACKGROUND", L"/gridwell/data/2023", L"Tarn Gridwell 2023",
     L"Tarn_Gridwell_2023_Download_List.txt", L"Tarn Gridwell 2023 Installationsstarter"},
    {L"Tarn_Gridwell_App", L"ID_BACKGROUND_APP", L"/gridwell/data/2023", L"Tarn Gridwell 2023",
     L"Tarn_Gridwell_2023_Download_List.txt", L"Tarn Gridwell 2023 App Installationsstarter"},
    {L"Tarn_Corvin_App", L"ID_BACKGROUND_CORVIN", L"/lumara/data/2023", L"Tarn Corvin 2023",
     L"Tarn_Corvin_2023_App_Download_List.txt", L"Tarn Corvin 2023 App Installationsstarter"},
    {L"Tarn_Videotrainings", L"ID_BACKGROUND_VTS", L"/lumara/data/2023",
     L"Tarn Revit Videotrainings 2023", L"Tarn_Revit_VTs_2023_Download_List.txt",
     L"Tarn Revit Videotrainings 2023 Installationsstarter"},
    {L"", L"ID_BACKGROUND", L"/gridwell/data/2023", L"", L"", L"Tarn Software 2023 Installationsstarter"},
};
constexpr int kGenericProfile = 4;

// True when the four characters are exactly the plain decimal form of the
// integer they denote ("2023" is, "0123" and "20a3" are not).
bool IsYearGroup(std::wstring_view group)
{
    const std::wstring text(group);
    return tarn::FormatText(L"%d", static_cast<int>(std::wcstol(text.c_str(), nullptr, 10))) == text;
}

std::wstring RemoveYearGroups(std::wstring name)
{
    size_t pos = 0;
    for (;;) {
        const size_t underscore = name.find(L'_', pos);
        if (underscore == std::wstring::npos) {
            return name;
        }
        if (name.size() - underscore - 1 >= 4 && IsYearGroup(std::wstring_view(name).substr(underscore + 1, 4))) {
            name.erase(underscore, 5);
        }
        // After a removal the character that followed the group sits here and is not examined.
        pos = underscore + 1;
    }
}

const wchar_t kProductListPath[] = L"/Lumara/Tarnix_Software.txt";

std::wstring ExpandedPath(const wchar_t* text)
{
    std::wstring variableForm;
    std::wstring expanded;
    CCfgReader::GetPathWithoutVars(variableForm, expanded, text);
    return expanded;
}

ProductProfile ResolveProductProfile()
{
    ProductProfile profile = LocalProductProfile();
    tarn::ConsultServerProductList(profile, GetServerRoot(), ExpandedPath(L"%Desktop%\\Tarnix_Software.txt"),
                                   ExpandedPath(L"%Temp%\\Tarnix_Software.txt"));
    Trace(L"Product profile %d (%ls): base URL %ls (%ls)%ls", profile.number, profile.settingsKey.c_str(),
          profile.baseUrl.c_str(), profile.baseUrlFromList ? L"from the server product list" : L"built in",
          profile.productFolder == kDownloadNotReady ? L", marked not ready" : L"");
    return profile;
}

}  // namespace

ReducedProgramName ReduceProgramName(std::wstring_view programPath)
{
    std::wstring name = FileNameOf(programPath);
    size_t dot = name.find_last_of(L'.');
    if (dot == std::wstring::npos) {
        dot = name.size();
    }

    // Copy suffix: "Name (2).exe" and "Name(2).exe" both become "Name.exe".
    size_t suffix = name.find(L' ');
    if (suffix == std::wstring::npos) {
        suffix = name.find(L'(');
    }
    if (suffix != std::wstring::npos && suffix < dot) {
        name.erase(suffix, dot - suffix);
        dot = suffix;
    }

    static const std::wstring_view kTestEnding = L"_Test.exe";
    if (tarn::EndsWithNoCase(name, kTestEnding)) {
        name.resize(name.size() - kTestEnding.size());
    } else {
        name.resize(dot);
    }

    ReducedProgramName result;
    result.settingsKey = name;
    result.reducedName = RemoveYearGroups(std::move(name));
    return result;
}

ProductProfile LookupProductProfile(std::wstring_view programPath, std::wstring_view serverRoot)
{
    const ReducedProgramName reduced = ReduceProgramName(programPath);
    int number = kGenericProfile;
    for (int i = 0; i < kGenericProfile; ++i) {
        if (tarn::EqualsNoCase(reduced.reducedName, kProfiles[i].reducedName)) {
            number = i;
            break;
        }
    }
    const ProfileRow& row = kProfiles[number];
    ProductProfile profile;
    profile.number = number;
    profile.pictureName = row.pictureName;
    profile.baseUrl = std::wstring(serverRoot) + std::wstring(row.basePath);
    if (!row.productSubfolder.empty()) {
        profile.productFolder = FolderOf(programPath) + L"\\" + std::wstring(row.productSubfolder) + L"\\";
    }
    profile.downloadList = row.downloadList;
    profile.windowTitle = row.windowTitle;
    profile.settingsKey = reduced.settingsKey;
    return profile;
}

const ProductProfile& LocalProductProfile()
{
    static const ProductProfile profile = LookupProductProfile(GetProgramPath(), GetServerRoot());
    return profile;
}

std::vector<std::wstring> TitlesSharingProductFolder(const ProductProfile& profile)
{
    std::vector<std::wstring> titles{profile.windowTitle};
    for (int i = 0; i < kGenericProfile; ++i) {
        const ProfileRow& row = kProfiles[i];
        if (i != profile.number && !profile.productFolder.empty() &&
            EndsWithNoCase(profile.productFolder, L"\\" + std::wstring(row.productSubfolder) + L"\\")) {
            titles.emplace_back(row.windowTitle);
        }
    }
    return titles;
}

std::wstring GetServerRoot()
{
    return TARN_SERVER_ROOT;
}

void ApplyServerProductList(ProductProfile& profile, const std::wstring& listPath)
{
    CCfgReader list(listPath);
    std::wstring baseUrl;
    list.GetValue(baseUrl, L"Settings", profile.settingsKey);
    if (!baseUrl.empty()) {
        if (baseUrl.back() == L'/' || baseUrl.back() == L'\\') {
            baseUrl.pop_back();
        }
        profile.baseUrl = baseUrl;
        profile.baseUrlFromList = true;
    }
    // Yes/no reading: "True"/"False" in any letter case, else the leading
    // number; a missing or empty entry keeps the default, ready.
    int ready = 1;
    list.GetIntValue(ready, L"Ready", profile.settingsKey, 1, 1);
    if (ready == 0) {
        profile.productFolder = kDownloadNotReady;
    }
}

void ConsultServerProductList(ProductProfile& profile, std::wstring_view serverRoot,
                              const std::wstring& desktopCopy, const std::wstring& downloadPath)
{
    // A copy on the desktop stands in for the server's file only when the
    // user put it there; the program itself never writes one, so an
    // interrupted run cannot leave a copy that overrides the server for good.
    if (!desktopCopy.empty() && FileExists(desktopCopy.c_str())) {
        ApplyServerProductList(profile, desktopCopy);
        return;
    }
    if (downloadPath.empty()) {
        return;
    }
    ::DeleteFileW(downloadPath.c_str());
    std::wstring destination = downloadPath;
    const std::wstring listUrl = std::wstring(serverRoot) + kProductListPath;
    HttpGetFileRetrying(listUrl, destination);
    if (FileExists(downloadPath.c_str())) {
        ApplyServerProductList(profile, downloadPath);
        ::DeleteFileW(downloadPath.c_str());
        // Used as it stands (a private mirror may serve plain HTTP), but a
        // list that came over a checked channel and leads off it is worth a line.
        if (StartsWithNoCase(listUrl, L"https://") && StartsWithNoCase(profile.baseUrl, L"http://")) {
            Trace(L"the server product list %ls names the plain-HTTP base URL %ls: its packages travel unchecked",
                  listUrl.c_str(), profile.baseUrl.c_str());
        }
    }
}

}  // namespace tarn

namespace tarn {

const ProductProfile& CachedProductProfile()
{
    // Filled once (a thread that asks meanwhile waits); read-only afterwards.
    static const ProductProfile profile = ResolveProductProfile();
    return profile;
}

}  // namespace tarn

int GetProductProfile(std::wstring* pictureName, std::wstring* baseUrl, std::wstring* productFolder,
                      std::wstring* downloadList, std::wstring* windowTitle, std::wstring* settingsKey)
{
    const tarn::ProductProfile& profile = tarn::CachedProductProfile();
    if (pictureName) *pictureName = profile.pictureName;
    if (baseUrl) *baseUrl = profile.baseUrl;
    if (productFolder) *productFolder = profile.productFolder;
    if (downloadList) *downloadList = profile.downloadList;
    if (windowTitle) *windowTitle = profile.windowTitle;
    if (settingsKey) *settingsKey = profile.settingsKey;
    return profile.number;
}
