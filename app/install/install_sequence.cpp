#include "app/install/install_sequence.h"

#include <shellapi.h>

#include <algorithm>
#include <exception>
#include <vector>

#include "app/install/download_list.h"
#include "app/install/download_status.h"
#include "app/install/host_presence.h"
#include "app/install/install_plan.h"
#include "app/install/install_data_folder.h"
#include "app/install/package_loop.h"
#include "app/install/package_source.h"
#include "app/install/release_check.h"
#include "app/install/running_program.h"
#include "app/install/test_share_source.h"
#include "config/store/cfg_reader.h"
#include "config/text/text_file.h"
#include "support/file_queries.h"
#include "support/file_system.h"
#include "support/message_box.h"
#include "support/path_text.h"
#include "support/program_path.h"
#include "support/small_file.h"
#include "support/trace.h"
#include "transfer/process_launch.h"

namespace {

const wchar_t kCaption[] = L"Tarnwerk AG";
const wchar_t kNotReadyText[] =
    L"Der Download des Produkts ist im Moment noch nicht m\u00f6glich. Versuchen Sie es in den n\u00e4chsten "
    L"Tagen nochmals.";
const wchar_t kIncompleteText[] =
    L"Der Download konnte nicht vollst\u00e4ndig abgeschlossen werden. Starten Sie das Programm sp\u00e4ter "
    L"erneut, es setzt den Download an der unterbrochenen Stelle fort.";
const wchar_t kSetupRunsText[] =
    L"Das Setup des Produkts l\u00e4uft bereits. Setzen Sie die Installation dort fort.";

enum class ListFetch {
    Fetched,
    Unavailable,  // not fetched: the server or the network failed
    Refused,      // fetched, but not to be trusted
};

// The download list of this run, or nothing: only a list fetched now
// counts, never a file an earlier run left at its path. The copy is deleted
// once read.
ListFetch FetchDownloadList(const tarn::InstallInputs& inputs, tarn::InstallView& view,
                            std::vector<std::wstring>& lines)
{
    const std::wstring url = tarn::DownloadsUrl(inputs.profile.baseUrl, inputs.profile.downloadList);
    std::wstring local;
    if (!inputs.source->Fetch(url, local, view.ProgressBar())) {
        return ListFetch::Unavailable;
    }
    const size_t room = inputs.tempFolder.size() + 1 + tarn::kRecordNameRoom;
    const size_t longestName = room < MAX_PATH - 1 ? MAX_PATH - 1 - room : 0;
    const wchar_t* fault = nullptr;
    std::wstring text;
    uint32_t length = 0;
    TextFileType::Type type = TextFileType::Undetermined;
    if (tarn::GetFileSize64(local.c_str()) > tarn::kLargestDownloadList) {
        fault = L"is larger than 1 MiB";
    } else if (!ReadBuffer(local.c_str(), text, nullptr, &length, type)) {
        fault = L"cannot be read";
    } else {
        fault = tarn::CheckDownloadListText(std::wstring_view(text.data(), length), longestName, lines);
    }
    ::DeleteFileW(local.c_str());
    if (fault != nullptr) {
        tarn::Trace(L"Install: the download list %ls is refused: it %ls", url.c_str(), fault);
        return ListFetch::Refused;
    }
    return ListFetch::Fetched;
}

constexpr size_t kManifestLimit = 1 << 20;

// The release's signed manifest checked against the list, or a refusal.
tarn::ReleaseVerdict CheckSignedRelease(const tarn::InstallInputs& inputs, tarn::InstallView& view,
                                        const tarn::DownloadListEntries& entries)
{
    const std::wstring& listName = inputs.profile.downloadList;
    const std::wstring url = tarn::DownloadsUrl(inputs.profile.baseUrl, listName + L".sig");
    std::wstring local;
    std::string text;
    const bool fetched = inputs.source->Fetch(url, local, view.ProgressBar());
    const bool read = fetched && tarn::ReadSmallFile(local, kManifestLimit, text);
    if (fetched) {
        ::DeleteFileW(local.c_str());
    }
    return tarn::CheckRelease(read ? &text : nullptr, inputs.releaseKeys, listName, entries,
                              tarn::ReadAcceptedSerial(inputs.releaseSerialKey));
}

void StartUpdateDownloads(const tarn::InstallInputs& inputs, const std::wstring& installDataFolder,
                          bool hostPresent, CCabUtil::CMyShellExecuteExecDatas& children)
{
    const std::wstring programFolder = tarn::FolderOf(inputs.programPath);
    for (const std::wstring& arguments : tarn::UpdateDownloadArguments(
             inputs.profile.number, hostPresent, inputs.profile.baseUrl, installDataFolder)) {
        if (!StartRecordedProcess(children, inputs.programPath.c_str(), arguments.c_str(), 1,
                                  programFolder.c_str())) {
            tarn::Trace(L"Install: update download %ls not started", arguments.c_str());  // cause traced
        }
    }
}

// Writes the starter file and starts the setup when the folder holds one.
tarn::InstallResult StartSetup(tarn::InstallView& view, const tarn::InstallInputs& inputs,
                               const std::wstring& installDataFolder)
{
    const std::wstring setup = installDataFolder + L"\\Setup.exe";
    if (!FileExists(setup.c_str())) {
        tarn::Trace(L"Install: %ls is missing after unpacking", setup.c_str());
        return tarn::InstallResult::Failed(tarn::InstallReason::NoSetup);
    }
    // The setup an earlier run started: a second one would only compete
    // with it for the same files.
    if (tarn::IsProgramRunning(setup)) {
        tarn::Trace(L"Install: %ls still runs from an earlier start, not started again", setup.c_str());
        tarn::ShowMessageBox(nullptr, kSetupRunsText, kCaption, MB_ICONINFORMATION | MB_OK);
        return {tarn::InstallOutcome::SetupRunning, tarn::InstallReason::None};
    }
    {
        CCfgReader starter(inputs.starterFile);
        starter.SetValue(L"Setup", L"SetupStarter", inputs.profile.settingsKey);
        if (!starter.Save()) {
            tarn::Trace(L"Install: %ls not written", inputs.starterFile.c_str());  // Save traced the cause
        }
    }
    view.SetStatusText(L"Setup wird gestartet...");
    const HINSTANCE started = ::ShellExecuteW(nullptr, L"open", setup.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(started) <= 32) {
        tarn::Trace(L"Install: %ls not started (error %lu)", setup.c_str(),
                    static_cast<unsigned long>(reinterpret_cast<INT_PTR>(started)));
        return tarn::InstallResult::Failed(tarn::InstallReason::SetupNotStarted);
    }
    ::Sleep(inputs.setupPause);
    return tarn::InstallResult::Started();
}

tarn::InstallResult Incomplete(tarn::InstallReason reason, const std::wstring& detail = std::wstring())
{
    tarn::Trace(L"Install: incomplete (%ls), nothing started", tarn::InstallReasonName(reason));
    tarn::ShowMessageBox(nullptr, tarn::IncompleteInstallText(reason, tarn::TraceLogPath(), detail), kCaption,
                         MB_ICONWARNING | MB_OK);
    return tarn::InstallResult::Failed(reason);
}

// Starts the setup, or warns when it cannot be started.
tarn::InstallResult FinishWithSetup(tarn::InstallView& view, const tarn::InstallInputs& inputs,
                                    const std::wstring& installDataFolder)
{
    const tarn::InstallResult result = StartSetup(view, inputs, installDataFolder);
    return result.outcome != tarn::InstallOutcome::Incomplete ? result : Incomplete(result.reason);
}

tarn::InstallResult RunAfterChecks(tarn::InstallView& view, const tarn::InstallInputs& inputs)
{
    const std::wstring installDataFolder = view.InstallDataFolder();
    if (!tarn::CreateInstallDataFolder(installDataFolder)) {
        return Incomplete(tarn::InstallReason::FolderNotCreated);
    }
    tarn::DownloadStatus status(tarn::DownloadStatusPath(installDataFolder));
    const std::wstring& baseUrl = inputs.profile.baseUrl;
    const bool hostPresent = inputs.host->IsHostPresent();
    CCabUtil::CMyShellExecuteExecDatas children;

    std::vector<std::wstring> lines;
    const ListFetch list = FetchDownloadList(inputs, view, lines);
    if (list == ListFetch::Refused) {
        // A list that is there but damaged stops the run as it is.
        return Incomplete(tarn::InstallReason::DamagedList);
    }
    if (list == ListFetch::Unavailable) {
        // The update downloads still run and are waited for; without this
        // release's list only a complete earlier run (whatever base URL it
        // had) may go on to the setup.
        const tarn::InstallReason reason = inputs.source->LastFailure();
        StartUpdateDownloads(inputs, installDataFolder, hostPresent, children);
        view.SetStatusText(L"Downloads werden beendet...");
        WaitForRecordedProcesses(children);
        if (!status.LastRunComplete(baseUrl)) {
            return Incomplete(reason);
        }
        return FinishWithSetup(view, inputs, installDataFolder);
    }

    const tarn::DownloadListEntries entries = tarn::ReadDownloadListLines(lines);
    tarn::ReleaseVerdict release;
    if (!inputs.releaseKeys.empty()) {
        release = CheckSignedRelease(inputs, view, entries);
        if (!release.accepted) {
            return Incomplete(tarn::InstallReason::ReleaseRefused, release.reason);
        }
    }
    const tarn::InstallPlan plan =
        tarn::MakeInstallPlan(entries, inputs.profile, hostPresent, inputs.tempFolder);
    status.AddEntries(plan.listedUrls);

    StartUpdateDownloads(inputs, installDataFolder, hostPresent, children);

    status.BeginUnpacking(baseUrl, plan.PackageUrls());
    status.Save();

    std::wstring refused;
    const tarn::InstallReason reason = tarn::RunPackageLoop(view, inputs, status, plan,
                                                           release.accepted ? &release.manifest : nullptr, &refused);

    view.SetStatusText(L"Downloads werden beendet...");
    WaitForRecordedProcesses(children);
    if (reason != tarn::InstallReason::None) {
        return Incomplete(reason, refused.empty() ? std::wstring() : tarn::PackageMismatchReason(refused));
    }
    if (release.accepted) {
        tarn::RecordAcceptedSerial(inputs.releaseSerialKey, release.manifest.serial);
    }
    return FinishWithSetup(view, inputs, installDataFolder);
}

}  // namespace

namespace tarn {

std::wstring IncompleteInstallText(InstallReason reason, const std::wstring& logPath, const std::wstring& detail)
{
    std::wstring text = kIncompleteText;
    const std::wstring why = detail.empty() ? InstallReasonText(reason) : L"Grund: " + detail;
    if (!why.empty()) {
        text += L"\n\n" + why;
    }
    if (!logPath.empty()) {
        text += (why.empty() ? L"\n\n" : L"\n") + std::wstring(L"Protokoll: ") + logPath;
    }
    return text;
}

InstallResult RunInstallSequence(InstallView& view, const InstallInputs& inputs)
{
    if (inputs.profile.productFolder == kDownloadNotReady) {
        Trace(L"Install: the server product list marks %ls as not ready", inputs.profile.settingsKey.c_str());
        ShowMessageBox(nullptr, kNotReadyText, kCaption, MB_ICONWARNING | MB_OK);
        return {InstallOutcome::NotReady, InstallReason::None};
    }
    // The generic profile names no product: nothing to fetch, and its
    // installation data folder would be the drive's root.
    if (inputs.profile.productFolder.empty() || inputs.profile.downloadList.empty()) {
        Trace(L"Install: no product for profile %d, nothing installed", inputs.profile.number);
        return {InstallOutcome::NoProduct, InstallReason::None};
    }
    try {
        return RunAfterChecks(view, inputs);
    } catch (const std::exception&) {
        Trace(L"Install: the sequence ended by an unexpected error");
    } catch (...) {
        Trace(L"Install: the sequence ended by an unexpected error");
    }
    return InstallResult::Failed(InstallReason::Unexpected);
}

InstallResult RunInstall(InstallView& view, bool testDownload)
{
    try {
        // The first call may fetch the server product list: the dialog is
        // open meanwhile and says what it waits for.
        view.SetStatusText(L"Verbindung zum Server wird hergestellt...");
        InstallInputs inputs;
        inputs.profile = CachedProductProfile();
        inputs.tempFolder = GetTempFolder();
        inputs.programPath = GetProgramPath();
        std::wstring variableForm;
        CCfgReader::GetPathWithoutVars(variableForm, inputs.starterFile, L"%temp%\\TarnInstallStarter.txt");
        inputs.host = &InstalledHost();
        inputs.source = testDownload ? &TestSharePackageSource() : &ServerPackageSource();
        inputs.releaseKeys = BuiltInReleaseKeys();
        inputs.releaseSerialKey = ReleaseSerialKeyPath(inputs.profile.settingsKey);
        return RunInstallSequence(view, inputs);
    } catch (...) {
        Trace(L"Install: the sequence ended by an unexpected error");
        return InstallResult::Failed(InstallReason::Unexpected);
    }
}

}  // namespace tarn

int RunDownloadAndInstall(tarn::InstallView& view, bool testDownload)
{
    return tarn::RunInstall(view, testDownload).SetupStarted() ? 1 : 0;
}
