#include <windows.h>

#include <memory>

#include "packing/build_folders.h"
#include "packing/release_files.h"
#include "packing/mode_steps.h"
#include "packing/pack_excludes.h"
#include "packing/release_modes.h"
#include "packing/release_stage.h"
#include "packing/release_signing.h"
#include "support/file_system.h"
#include "support/message_box.h"
#include "support/name_compare.h"
#include "support/text_format.h"
#include "support/trace.h"
#include "transfer/cab_create.h"
#include "transfer/cab_inspect.h"
#include "transfer/download_url.h"
#include "transfer/server_layout.h"
#include "transfer/file_info.h"

namespace {


// "Problem beim Erstellen von" with the path, and the cause on a line of its own.
int ReportCreationProblem(const std::wstring& path, const std::wstring& cause)
{
    tarn::Trace(L"PackCorvinUpdate: problem with %ls: %ls", path.c_str(), cause.c_str());
    tarn::ShowMessageBox(nullptr, L"Problem beim Erstellen von \"" + path + L"\"\n" + cause, L"Tarnwerk AG", MB_OK);
    return 0;
}

}  // namespace

namespace tarn {

int MakeNullUpdate()
{
    ShowMessageBox(nullptr, L"MakeNullUpdate", L"MakeNullUpdate", MB_OK);

    const std::wstring source = build::kGridwellSource;
    int isFolder = 0;
    if (!FileExists(source.c_str(), &isFolder) || !isFolder) {
        return Finish({{source, FormatText(L"the source folder is missing (error %lu)", ::GetLastError())}});
    }
    std::vector<std::wstring> files{source + L"\\!__Update_Version__!.txt"};
    PackingFailures failed;
    for (const wchar_t* part : {L"\\Data", L"\\Data_X64"}) {
        std::vector<std::wstring> below;
        std::vector<std::wstring> twins;
        ListFilesNamingTwins((source + part).c_str(), below, twins);
        NameCaseTwins(twins, failed);
        files.insert(files.end(), below.begin(), below.end());
    }
    std::erase_if(files, [](const std::wstring& path) {
        const std::wstring name = FileNameOf(path);
        return EqualsNoCase(name, L"vcredist_x64.exe") || EqualsNoCase(name, L"vcredist_x86.exe");
    });
    // The cabinet's own folder and the four download folders: all staged,
    // all checked, then all published.
    const std::wstring cabinetFolder = std::wstring(build::kNullUpdaterCabinet).substr(
        0, std::wstring(build::kNullUpdaterCabinet).find_last_of(L'\\'));
    std::vector<std::unique_ptr<ReleaseStage>> stages;
    stages.push_back(std::make_unique<ReleaseStage>(cabinetFolder, L"MakeNullUpdate"));
    for (const wchar_t* folder : build::kUpdaterDownloadFolders) {
        stages.push_back(std::make_unique<ReleaseStage>(folder, L"MakeNullUpdate"));
    }
    if (!failed.empty() || !NamesCarried(files, failed)) {
        return Finish(failed);
    }
    for (const std::unique_ptr<ReleaseStage>& stage : stages) {
        if (!stage->Open(failed)) {
            return Finish(failed);
        }
    }

    const std::wstring cabinet = stages.front()->Staged(kUpdaterCabinetName);
    const std::wstring marker = StampVersionMarker(source);
    std::wstring cause = marker.empty() ? L"the version marker cannot be written" : std::wstring();
    const int made = !marker.empty() && MakeCabinetExplained(source.c_str(), cabinet.c_str(), &files, cause);
    // The marker belongs to the cabinet only, never to the source tree.
    if (!marker.empty() && !::DeleteFileW(marker.c_str())) {
        Trace(L"MakeNullUpdate: cannot delete the version marker %ls (error %lu)", marker.c_str(), ::GetLastError());
    }
    if (!made) {
        return Finish({{marker.empty() ? source + L"\\!__Update_Version__!.txt" : stages.front()->Live(kUpdaterCabinetName),
                        cause}});
    }
    if (!SignSingleFile(cabinet)) {
        return Finish({{ManifestPathFor(stages.front()->Live(kUpdaterCabinetName)), L"cannot be signed (see the log)"}});
    }
    for (size_t i = 1; i < stages.size(); ++i) {
        CopyWithRecord(cabinet, stages[i]->Folder(), failed);
        RememberCabinetFacts(stages[i]->Staged(kUpdaterCabinetName), InspectCabinet(cabinet));
    }
    for (const std::unique_ptr<ReleaseStage>& stage : stages) {
        if (failed.empty()) {
            stage->Check({}, failed);
        }
    }
    for (const std::unique_ptr<ReleaseStage>& stage : stages) {
        // The staged releases are complete and checked: about to publish.
        if (failed.empty()) {
            stage->Publish({}, failed);
        }
    }
    return Finish(failed);
}

int PackCorvinUpdate()
{
    SwitchPackingConfigDrive(L'M');
    const std::wstring source = build::kCorvinUpdateSource;
    const std::wstring resources = build::kCorvinUpdateResources;
    const std::wstring target = resources + L"\\" + kUpdaterCabinetName;
    std::vector<std::wstring> files;
    PackingFailures failed;
    if (!ListSourceFiles(source, files, failed)) {
        return ReportCreationProblem(target, failed.front().path + L": " + failed.front().cause);
    }
    if (StampVersionMarker(source).empty()) {
        return ReportCreationProblem(target, L"the source folder " + source + L" takes no version marker");
    }
    ListFiles(source.c_str(), files);  // the marker may be new
    TouchFiles(files);

    ReleaseStage stage(resources, L"PackCorvinUpdate");
    if (!stage.Open(failed)) {
        return ReportCreationProblem(target, failed.front().cause);
    }
    const std::wstring info = source + L"\\UpdateInfo.txt";
    if (FileExists(info.c_str()) && !CopyFileKeepAttributes(info.c_str(), stage.Staged(L"UpdateInfo.txt").c_str())) {
        return ReportCreationProblem(stage.Live(L"UpdateInfo.txt"),
                                     FormatText(L"cannot copy %ls (error %lu)", info.c_str(), ::GetLastError()));
    }
    const std::wstring batch = source + L"\\MakeIt.bat";
    std::erase_if(files, [&](const std::wstring& path) { return EqualsNoCase(path, batch) || EqualsNoCase(path, info); });
    std::wstring cause;
    if (!MakeCabinetExplained(source.c_str(), stage.Staged(kUpdaterCabinetName).c_str(), &files, cause)) {
        return ReportCreationProblem(target, cause);
    }
    // The update program's build takes the cabinet alone, without a record.
    ::DeleteFileW(FileInfoNameFor(stage.Staged(kUpdaterCabinetName)).c_str());
    if (!SignSingleFile(stage.Staged(kUpdaterCabinetName))) {
        return ReportCreationProblem(ManifestPathFor(target), L"cannot be signed (see the log)");
    }
    if (!stage.CheckAndPublish({}, {}, failed)) {
        return ReportCreationProblem(failed.front().path, failed.front().cause);
    }
    return 1;
}

}  // namespace tarn
