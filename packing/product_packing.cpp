#include <windows.h>

#include "config/store/cfg_reader.h"
#include "packing/build_folders.h"
#include "packing/cabinet_groups.h"
#include "packing/release_files.h"
#include "packing/mode_steps.h"
#include "packing/pack_excludes.h"
#include "packing/release_modes.h"
#include "packing/release_stage.h"
#include "packing/release_signing.h"
#include "support/file_system.h"
#include "support/name_compare.h"
#include "support/text_format.h"
#include "support/trace.h"
#include "transfer/cab_create.h"
#include "transfer/file_info.h"
#include "transfer/server_layout.h"

namespace {

const int kProductGroupMiB = 400;

// Splits `files` and makes one staged cabinet per group from `source`, named
// by `pattern` with the next `number`; appends each to `packages` and what
// failed to `failed`. A file the split cannot take stops it before any
// cabinet is made.
void PackGroups(std::vector<std::wstring>& files, const std::wstring& source, const tarn::ReleaseStage& stage,
                const wchar_t* pattern, int& number, std::vector<std::wstring>& packages,
                tarn::PackingFailures& failed)
{
    tarn::CabinetGroups groups;
    std::vector<std::wstring> problems;
    std::vector<std::wstring> causes;
    SplitIntoCabinetGroups(files, &groups, kProductGroupMiB, &problems, &causes);
    for (size_t i = 0; i < problems.size(); ++i) {
        failed.push_back({problems[i], causes[i]});
    }
    if (groups.empty() && problems.empty()) {
        failed.push_back({source, L"no file to pack"});
    }
    if (!failed.empty() || !tarn::NamesCarried(files, failed)) {
        return;
    }
    for (const std::vector<std::wstring>& group : groups) {
        const std::wstring cabinet = tarn::FormatText(pattern, number++);
        packages.push_back(stage.Staged(cabinet));
        std::wstring cause;
        if (!tarn::MakeCabinetExplained(source.c_str(), packages.back().c_str(), &group, cause)) {
            failed.push_back({stage.Live(cabinet), cause});
        }
    }
}

// Restores "Autorun.inf" from its backup; the backup goes only after that.
bool RestoreAutorun(const std::wstring& autorun, const std::wstring& backup, tarn::PackingFailures& failed)
{
    if (!CopyFileKeepAttributes(backup.c_str(), autorun.c_str())) {
        failed.push_back({autorun, tarn::FormatText(L"cannot be restored from %ls (error %lu)", backup.c_str(),
                                                    ::GetLastError())});
        return false;
    }
    ::DeleteFileW(backup.c_str());
    return true;
}

// Writes the staged list, copies the starter and publishes the release: the
// mode's result (WriteDownloadList shows its own message).
int ListAndPublish(tarn::ReleaseStage& stage, std::vector<std::wstring>& packages, const wchar_t* list,
                   const wchar_t* starter, tarn::PackingFailures& failed)
{
    if (failed.empty() && !WriteDownloadList(packages, stage.Staged(list).c_str())) {
        return 0;
    }
    if (failed.empty()) {
        tarn::StageStarterCopy(stage.Staged(starter), stage.Live(starter), failed);
    }
    if (failed.empty()) {
        stage.CheckAndPublish({list}, tarn::RetiredEntries(stage.LiveFolder(), list, packages), failed);
    }
    return tarn::Finish(failed);
}

}  // namespace

namespace tarn {

int PackCorvin()
{
    SwitchPackingConfigDrive(L'M');
    const std::wstring source = build::kCorvinSource;
    std::vector<std::wstring> files;
    PackingFailures failed;
    if (!ListSourceFiles(source, files, failed)) {
        return Finish(failed);
    }
    ReleaseStage stage(build::kCorvinDownload, L"PackCorvin");
    if (!stage.Open(failed)) {
        return Finish(failed);
    }
    // The updater is not made here: the published one is listed.
    std::vector<std::wstring> packages{stage.Live(kUpdaterCabinetName)};
    ApplyPackingExcludes(files);
    const CTempTouchFiles touched(files, stage.TouchJournal());
    int number = 1;
    PackGroups(files, source, stage, L"Tarn_Corvin_2023_%d.cab", number, packages, failed);
    return ListAndPublish(stage, packages, L"Tarn_Corvin_2023_App_Download_List.txt", L"Tarn_Corvin_2023_App.exe",
                          failed);
}

int PackRvtTrainings()
{
    const std::wstring first = build::kTrainingsFirst;
    const std::wstring second = build::kTrainingsSecond;
    const std::wstring autorun = first + L"\\Autorun.inf";
    const std::wstring backup = first + L"\\Autorun.inf.bak";
    // A backup at the start means an earlier run was interrupted before it
    // restored the original: both files stay for a person to look at.
    if (FileExists(backup.c_str())) {
        return Finish({{autorun, L""}, {backup, L"a backup left by an interrupted run: compare and remove it"}});
    }
    PackingFailures failed;
    ReleaseStage stage(build::kCorvinDownload, L"PackRVTTrainings");
    if (!stage.Open(failed)) {
        return Finish(failed);
    }

    // The updater is refreshed with a fresh record: the installer checks one
    // against the other.
    const std::wstring updater = stage.Staged(kUpdaterCabinetName);
    std::vector<std::wstring> packages{updater};
    if (!CopyFileKeepAttributes(build::kUpdaterBuild, updater.c_str()) || !WriteFileInfo(updater.c_str())) {
        return Finish({{stage.Live(kUpdaterCabinetName),
                        FormatText(L"cannot be refreshed from %ls (error %lu)", build::kUpdaterBuild, ::GetLastError())}});
    }
    if (!SignSingleFile(updater)) {
        return Finish({{ManifestPathFor(stage.Live(kUpdaterCabinetName)), L"cannot be signed (see the log)"}});
    }

    std::vector<std::wstring> files;
    if (!ListSourceFiles(first, files, failed)) {
        return Finish(failed);
    }
    // The list was taken before the backup exists: the edited "Autorun.inf"
    // is packed, the backup is not.
    const bool edited = FileExists(autorun.c_str()) != 0;
    if (edited) {
        if (!CopyFileKeepAttributes(autorun.c_str(), backup.c_str())) {
            return Finish({{backup, FormatText(L"cannot be made (error %lu)", ::GetLastError())}});
        }
        CCfgReader info(autorun);
        info.SetValue(L"Tarn DVD-Info", L"Name", L"Tarn Revit 2023 VideoTrainings");
        info.SetValue(L"Setup", L"SetupTitle", L"Tarn Revit 2023 VideoTrainings");
        if (!info.Save()) {
            failed.push_back({autorun, FormatText(L"cannot be edited (error %lu)", ::GetLastError())});
        }
    }
    int number = 1;
    if (failed.empty()) {
        PackGroups(files, first, stage, L"Tarn_Revit_VTs_2023_%d.cab", number, packages, failed);
    }
    if (edited) {
        RestoreAutorun(autorun, backup, failed);
    }
    if (!failed.empty()) {
        return Finish(failed);
    }

    if (!ListSourceFiles(second, files, failed)) {
        return Finish(failed);
    }
    std::erase_if(files, [&](const std::wstring& path) {
        const std::wstring_view relative = std::wstring_view(path).substr(second.size() + 1);
        return !StartsWithNoCase(relative, L"Tarn Revit 2023 VideoTraining Advanced") &&
               !StartsWithNoCase(relative, L"Tarn Revit 2023 VideoTraining Professional");
    });
    PackGroups(files, second, stage, L"Tarn_Revit_VTs_2023_%d.cab", number, packages, failed);
    return ListAndPublish(stage, packages, L"Tarn_Revit_VTs_2023_Download_List.txt",
                          L"Tarn_Videotrainings_2023.exe", failed);
}

}  // namespace tarn
