#include "app/tarn_app.h"

#include <windows.h>

#include <vector>

#include "app/command_line.h"
#include "app/default_mode.h"
#include "app/dialog/win_dialog.h"
#include "app/profile/product_profile.h"
#include "app/update_modes.h"
#include "packing/release_modes.h"
#include "support/environment.h"
#include "support/message_box.h"
#include "support/name_compare.h"
#include "support/program_path.h"
#include "support/trace.h"
#include "tarn_build_config.h"

namespace {

const wchar_t kHelpCaption[] = L"Tarnwerk AG";

// The log's first line of every process: the installer and its update
// children share one log file.
void TraceStart(tarn::StartMode mode, const std::wstring& commandLine)
{
    const tarn::ProductProfile& product = tarn::LocalProductProfile();
    tarn::Trace(L"Start: version %ls, mode %ls, command line \"%ls\", product %ls (profile %d), built-in base URL "
                L"%ls%ls",
                L"" TARN_VERSION_TEXT, tarn::StartModeName(mode), commandLine.c_str(), product.settingsKey.c_str(),
                product.number, product.baseUrl.c_str(),
                mode == tarn::StartMode::Installer ? L" (the server product list may replace it)" : L"");
}

// The installer's update children write into its "/log" copy too: the path
// reaches them through the environment, so their command lines stay as they
// are.
const wchar_t kLogCopyVariable[] = L"TARN_LOG_COPY";

void SetLogCopy(tarn::StartMode mode, const tarn::InstallerSwitches& switches)
{
    std::wstring path;
    if (mode == tarn::StartMode::Installer || mode == tarn::StartMode::InstallerHelp) {
        path = switches.logPath;
        if (!path.empty()) {
            ::SetEnvironmentVariableW(kLogCopyVariable, path.c_str());
        }
    } else if (mode == tarn::StartMode::UpdateDownload || mode == tarn::StartMode::SingleFileDownload) {
        tarn::GetEnvironmentText(kLogCopyVariable, path);
    }
    if (!path.empty()) {
        tarn::SetTraceCopyPath(path);
    }
}

// Runs a mode that has no exit code of its own (the build and test modes).
// 0 when it ran.
int RunOtherMode(tarn::StartMode mode, const std::wstring& commandLine)
{
    // These modes read the product profile as before, server list included.
    tarn::CachedProductProfile();
    switch (mode) {
    case tarn::StartMode::TestFunc:
        RunTestDownloads();
        break;
    case tarn::StartMode::CreateDataPack:
        tarn::CreateDataPack();
        break;
    case tarn::StartMode::MakeNullUpdate:
        tarn::MakeNullUpdate();
        break;
    case tarn::StartMode::PackCorvinUpdate:
        tarn::PackCorvinUpdate();
        break;
    case tarn::StartMode::PackOem:
        tarn::PackQxPackage();
        break;
    case tarn::StartMode::PackAll:
        tarn::PackAll();
        break;
    case tarn::StartMode::PackRvtTrainings:
        tarn::PackRvtTrainings();
        break;
    case tarn::StartMode::CreateMemoryStickData:
        tarn::CreateMemoryStickData();
        break;
    case tarn::StartMode::PackCorvin:
        tarn::PackCorvin();
        break;
    case tarn::StartMode::PackGridwell:
        // "PackQuick" packs only the main package anew.
        tarn::PackGridwell(tarn::EqualsNoCase(commandLine, L"PackQuick"));
        break;
    default:  // "PackUpdate" ends at once
        break;
    }
    return 0;
}

}  // namespace

bool CTarn_Gridwell_20xxApp::InitInstance()
{
    tarn::SetProcessInstance(m_hInstance);

    std::vector<std::wstring> tokens;
    SplitCommandLine(tokens, m_lpCmdLine.c_str());
    const tarn::DownloadSettings download = tarn::ScanDownloadKeywords(tokens);
    const tarn::InstallerSwitches switches = tarn::ScanInstallerSwitches(tokens);
    const tarn::StartMode mode = tarn::ChooseStartMode(download, m_lpCmdLine.c_str(), switches);
    SetLogCopy(mode, switches);
    TraceStart(mode, m_lpCmdLine);

    std::wstring result = L"done";
    bool endAtOnce = false;
    if (mode == tarn::StartMode::UpdateDownload) {
        result = DownloadProductUpdate(download.value, download.targetFolder,
                                       static_cast<int>(download.updateKind)) ? L"fetched" : L"not fetched";
    } else if (mode == tarn::StartMode::SingleFileDownload) {
        result = DownloadFileToFolder(download.value, download.targetFolder) ? L"fetched" : L"not fetched";
    } else {
        // After the download modes: they show no window (see
        // InitCommonControlsForDialogs).
        tarn::InitCommonControlsForDialogs();
        if (mode == tarn::StartMode::InstallerHelp) {
            if (!switches.quiet) {
                tarn::ShowMessageBox(nullptr, tarn::InstallerSwitchesHelp(), kHelpCaption, MB_ICONINFORMATION | MB_OK);
            }
            result = L"switches shown, nothing installed";
        } else if (mode == tarn::StartMode::Installer) {
            const tarn::DefaultModeEnd end =
                tarn::RunDefaultMode(switches, tarn::EqualsNoCase(m_lpCmdLine, L"TestDownload"));
            m_ExitCode = end.exitCode;
            result = end.result;
            endAtOnce = end.workerRuns;
        } else {
            m_ExitCode = RunOtherMode(mode, m_lpCmdLine);
        }
    }
    tarn::Trace(L"End: mode %ls, %ls, exit code %d", tarn::StartModeName(mode), result.c_str(), m_ExitCode);
    if (endAtOnce) {
        ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(m_ExitCode));
    }
    return false;
}
