#include <windows.h>

#include "config/store/cfg_reader.h"
#include "packing/build_folders.h"
#include "packing/cabinet_groups.h"
#include "packing/download_list.h"
#include "packing/mode_steps.h"
#include "packing/pack_excludes.h"
#include "packing/release_modes.h"
#include "support/file_system.h"
#include "support/name_compare.h"
#include "support/text_format.h"
#include "support/trace.h"
#include "transfer/cab_create.h"
#include "transfer/file_info.h"
#include "transfer/server_layout.h"

namespace {

const int kProductGroupMiB = 400;

// Splits `files` and makes one cabinet per group from `source`, named by
// `pattern` with the next `number`; appends each to `packages` and what
// failed to `failed`.
void PackGroups(std::vector<std::wstring>& files, const std::wstring& source, const wchar_t* pattern, int& number,
                std::vector<std::wstring>& packages, std::vector<std::wstring>& failed)
{
    tarn::CabinetGroups groups;
    CreateFolderPath(tarn::build::kCorvinDownload);
    SplitIntoCabinetGroups(files, &groups, kProductGroupMiB, &failed);
    if (groups.empty()) {
        failed.push_back(source);
    }
    for (const std::vector<std::wstring>& group : groups) {
        const std::wstring cabinet = tarn::FormatText(pattern, tarn::build::kCorvinDownload, number++);
        packages.push_back(cabinet);
        if (!MakeCabinet(source.c_str(), cabinet.c_str(), &group)) {
            failed.push_back(cabinet);
        }
    }
}

// Restores "Autorun.inf" from its backup; the backup goes only after that.
bool RestoreAutorun(const std::wstring& autorun, const std::wstring& backup)
{
    if (!CopyFileKeepAttributes(backup.c_str(), autorun.c_str())) {
        tarn::Trace(L"PackRVTTrainings: cannot restore %ls from %ls (error %lu)", autorun.c_str(), backup.c_str(),
                    ::GetLastError());
        return false;
    }
    ::DeleteFileW(backup.c_str());
    return true;
}

}  // namespace

namespace tarn {

int PackCorvin()
{
    SwitchPackingConfigDrive(L'M');
    const std::wstring source = build::kCorvinSource;
    const std::wstring download = build::kCorvinDownload;
    std::vector<std::wstring> packages{download + L"\\" + kUpdaterCabinetName};
    std::vector<std::wstring> files;
    if (!ListSourceFiles(source, files)) {
        ReportPackingFailure({source});
        return 0;
    }
    ApplyPackingExcludes(files);
    const CTempTouchFiles touched(files);
    std::vector<std::wstring> failed;
    int number = 1;
    PackGroups(files, source, L"%ls\\Tarn_Corvin_2023_%d.cab", number, packages, failed);
    if (!failed.empty()) {
        ReportPackingFailure(failed);
        return 0;
    }
    const std::wstring list = download + L"\\Tarn_Corvin_2023_App_Download_List.txt";
    if (!WriteDownloadList(packages, list.c_str())) {
        return 0;
    }
    const std::wstring starter = download + L"\\Tarn_Corvin_2023_App.exe";
    if (!PublishStarterCopy(starter.c_str())) {
        ReportPackingFailure({starter});
        return 0;
    }
    return 1;
}

int PackRvtTrainings()
{
    const std::wstring download = build::kCorvinDownload;
    const std::wstring first = build::kTrainingsFirst;
    const std::wstring second = build::kTrainingsSecond;
    const std::wstring autorun = first + L"\\Autorun.inf";
    const std::wstring backup = first + L"\\Autorun.inf.bak";
    // A backup at the start means an earlier run was interrupted before it
    // restored the original: both files stay for a person to look at.
    if (FileExists(backup.c_str())) {
        ReportPackingFailure({autorun, backup});
        return 0;
    }

    // The updater is refreshed with a fresh record: the installer checks one
    // against the other.
    const std::wstring updater = download + L"\\" + kUpdaterCabinetName;
    std::vector<std::wstring> packages{updater};
    std::vector<std::wstring> failed;
    if (!CopyFileKeepAttributes(build::kUpdaterBuild, updater.c_str()) || !WriteFileInfo(updater.c_str())) {
        Trace(L"PackRVTTrainings: cannot refresh %ls from %ls (error %lu)", updater.c_str(), build::kUpdaterBuild,
              ::GetLastError());
        ReportPackingFailure({updater});
        return 0;
    }

    std::vector<std::wstring> files;
    if (!ListSourceFiles(first, files)) {
        ReportPackingFailure({first});
        return 0;
    }
    // The list was taken before the backup exists: the edited "Autorun.inf"
    // is packed, the backup is not.
    const bool edited = FileExists(autorun.c_str()) != 0;
    if (edited) {
        if (!CopyFileKeepAttributes(autorun.c_str(), backup.c_str())) {
            ReportPackingFailure({backup});
            return 0;
        }
        CCfgReader info(autorun);
        info.SetValue(L"Tarn DVD-Info", L"Name", L"Tarn Revit 2023 VideoTrainings");
        info.SetValue(L"Setup", L"SetupTitle", L"Tarn Revit 2023 VideoTrainings");
        if (!info.Save()) {
            failed.push_back(autorun);
        }
    }
    int number = 1;
    if (failed.empty()) {
        PackGroups(files, first, L"%ls\\Tarn_Revit_VTs_2023_%d.cab", number, packages, failed);
    }
    if (edited && !RestoreAutorun(autorun, backup)) {
        failed.push_back(autorun);
    }
    if (!failed.empty()) {
        ReportPackingFailure(failed);
        return 0;
    }

    if (!ListSourceFiles(second, files)) {
        ReportPackingFailure({second});
        return 0;
    }
    std::erase_if(files, [&](const std::wstring& path) {
        const std::wstring_view relative = std::wstring_view(path).substr(second.size() + 1);
        return !StartsWithNoCase(relative, L"Tarn Revit 2023 VideoTraining Advanced") &&
               !StartsWithNoCase(relative, L"Tarn Revit 2023 VideoTraining Professional");
    });
    PackGroups(files, second, L"%ls\\Tarn_Revit_VTs_2023_%d.cab", number, packages, failed);
    if (!failed.empty()) {
        ReportPackingFailure(failed);
        return 0;
    }
    const std::wstring list = download + L"\\Tarn_Revit_VTs_2023_Download_List.txt";
    if (!WriteDownloadList(packages, list.c_str())) {
        return 0;
    }
    const std::wstring starter = download + L"\\Tarn_Videotrainings_2023.exe";
    if (!PublishStarterCopy(starter.c_str())) {
        ReportPackingFailure({starter});
        return 0;
    }
    return 1;
}

}  // namespace tarn
