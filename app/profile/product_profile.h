#pragma once
// The product this program serves, worked out from its own file name and the
// table of product profiles, once per process.

#include <string>
#include <string_view>
#include <vector>

// Fills the requested fields from the process's product profile and returns
// the profile number. The first call computes and caches the profile.
int GetProductProfile(std::wstring* pictureName = nullptr, std::wstring* baseUrl = nullptr,
                      std::wstring* productFolder = nullptr, std::wstring* downloadList = nullptr,
                      std::wstring* windowTitle = nullptr, std::wstring* settingsKey = nullptr);

namespace tarn {

// The product folder of a product that the server marks as not ready.
extern const wchar_t kDownloadNotReady[];

struct ProductProfile {
    int number = 4;             // 0 Gridwell, 1 Gridwell App, 2 Corvin App, 3 video trainings, 4 generic
    std::wstring pictureName;   // RCDATA picture resource of the dialog background
    std::wstring baseUrl;       // without trailing slash; ends with the release year
    std::wstring productFolder; // beside the program, with trailing backslash; may be empty
    std::wstring downloadList;  // file name of the download list on the server
    std::wstring windowTitle;
    std::wstring settingsKey;   // e.g. "Tarn_Gridwell_2023"
    bool baseUrlFromList = false;  // the server product list gave the base URL
};

struct ReducedProgramName {
    std::wstring settingsKey;  // file name without extension, copy suffix and "_Test" ending
    std::wstring reducedName;  // the settings key without its year groups
};

// Reduces a program path or file name: "Tarn_Gridwell_2023 (1).exe" gives the
// settings key "Tarn_Gridwell_2023" and the reduced name "Tarn_Gridwell".
ReducedProgramName ReduceProgramName(std::wstring_view programPath);

// The profile table row for a program path, before the server product list
// is consulted. `serverRoot` is the scheme and host of the download server.
ProductProfile LookupProductProfile(std::wstring_view programPath, std::wstring_view serverRoot);

// The process's product profile; the first call works it out (it may fetch
// the server product list, which offline takes a minute) and caches it. The
// installer fills it on its worker thread behind the open dialog; a second
// thread that asks meanwhile waits for the first call to end.
const ProductProfile& CachedProductProfile();

// What the program's file name alone tells (the table row, before the server
// product list): picture, window title, product folder, settings key. Never
// waits; what the dialog's thread uses while the worker fills the cache.
const ProductProfile& LocalProductProfile();

// The window titles of the profiles whose product folder has the same name
// as that of `profile` (Gridwell and Gridwell App share one), its own first.
std::vector<std::wstring> TitlesSharingProductFolder(const ProductProfile& profile);

// The scheme and host of the maker's download server (a build setting).
std::wstring GetServerRoot();

// Adjusts a profile by a server product list file: a non-empty "Settings"
// value of the settings key, less one trailing '/' or '\', replaces the base
// URL; a "Ready" value that reads as false ("False" in any letter case, 0, or
// text without a leading number) replaces the product folder by
// kDownloadNotReady. A missing file or entry changes nothing.
void ApplyServerProductList(ProductProfile& profile, const std::wstring& listPath);

// Consults the server product list: the copy at `desktopCopy` when one was
// there before, else the file below `serverRoot` downloaded to
// `downloadPath`, read and deleted at once. Empty paths are skipped.
void ConsultServerProductList(ProductProfile& profile, std::wstring_view serverRoot,
                              const std::wstring& desktopCopy, const std::wstring& downloadPath);

}  // namespace tarn
