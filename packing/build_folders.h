#pragma once
// The build machines' fixed folders: every path the packing modes read or
// write, in one table. The drives are the build machines' network shares.

namespace tarn::build {

// The packing configuration (the Corvin modes read it from drive M:).
inline constexpr wchar_t kPackingConfig[] = L"N:\\CD_2023\\DataPacking.cgf";
// What ApplyPackingExcludes keeps, written as a record of what is packed.
inline constexpr wchar_t kPackedListRecord[] = L"h:\\test.txt";

// Gridwell data packages.
inline constexpr wchar_t kGridwellSource[] = L"N:\\CD_2023\\Tarn Gridwell";
inline constexpr wchar_t kGridwellDownload[] = L"N:\\CD_2023\\Download";

// The QX package, packed into the Gridwell product tree.
inline constexpr wchar_t kQxSource[] = L"N:\\Desktop\\QX Version\\QX\\QX";
inline constexpr wchar_t kQxTarget[] = L"N:\\CD_2023\\Tarn Gridwell\\Tarn Gridwell\\Tarn Gridwell 2023";
inline constexpr wchar_t kQxSetupBuild[] = L"P:\\QXSetup\\Release\\QXSetup.exe";

// The full-data updater.
inline constexpr wchar_t kNullUpdaterCabinet[] = L"N:\\CD_2023\\NullUpdater\\SetupUpdater_2023.cab";
inline constexpr const wchar_t* kUpdaterDownloadFolders[] = {
    L"N:\\CD_2023\\Download",
    L"M:\\CD_2023\\Download",
    L"W:\\WWW\\Kavra\\Gridwell\\Data\\2023\\Downloads",
    L"W:\\WWW\\Kavra\\Lumara\\Data\\2023\\Downloads",
};

// The updater of the update program's build.
inline constexpr wchar_t kCorvinUpdateSource[] = L"M:\\Desktop\\!Upd\\Update";
inline constexpr wchar_t kCorvinUpdateResources[] = L"P:\\Tarn_Gridwell_2023_Update\\res";

// Corvin data packages and video trainings.
inline constexpr wchar_t kCorvinSource[] = L"M:\\CD_2023\\Corvin";
inline constexpr wchar_t kCorvinDownload[] = L"M:\\CD_2023\\Download";
inline constexpr wchar_t kTrainingsFirst[] = L"M:\\CD_2023\\VTs1";
inline constexpr wchar_t kTrainingsSecond[] = L"M:\\CD_2023\\VTs2";
inline constexpr wchar_t kUpdaterBuild[] = L"N:\\Desktop\\!Upd\\UpdateData\\SetupUpdater_2023.cab";

// Memory sticks.
inline constexpr wchar_t kMemoryStickFolder[] = L"V:\\Temp\\MemoryStickData_2023\\";
inline constexpr wchar_t kImageGridwellDownload[] = L"Z:\\Vertix\\CD_2023\\Download";
inline constexpr wchar_t kImageCorvinDownload[] = L"Z:\\Revit\\CD_2023\\Download";
inline constexpr wchar_t kZipFolderProgram[] =
    L"Z:\\Vertix\\CD_2023\\Tarn Gridwell\\Tarn Gridwell\\Tarn Gridwell 2023\\AC_X64\\ZipFolder.exe";
inline constexpr wchar_t kImagePublishFolder[] = L"%wwwdir%\\Lumara\\Data\\2023";
// The partner products' installers that the Corvin image refreshes when its
// add-ons folder already holds one of that name.
inline constexpr const wchar_t* kPartnerInstallers[] = {
    L"Z:\\Revit\\CD_2023\\Partner\\PartnerViewer_Setup.exe",
    L"Z:\\Revit\\CD_2023\\Partner\\PartnerLibrary_Setup.exe",
};

}  // namespace tarn::build
