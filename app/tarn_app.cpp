#include "app/tarn_app.h"

#include <windows.h>

#include <vector>

#include "app/command_line.h"
#include "app/default_mode.h"
#include "app/dialog/win_dialog.h"
#include "app/profile/product_profile.h"
#include "app/update_modes.h"
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
void TraceStart(const tarn::StartChoice& choice, const std::wstring& commandLine)
{
    const tarn::ProductProfile& product = tarn::LocalProductProfile();
    tarn::Trace(L"Start: version %ls, mode %ls, command line \"%ls\", product %ls (profile %d), built-in base URL "
                L"%ls%ls",
                L"" TARN_VERSION_TEXT, tarn::StartModeName(choice).c_str(), commandLine.c_str(), product.settingsKey.c_str(),
                product.number, product.baseUrl.c_str(),
                choice.mode == tarn::StartMode::Installer ? L" (the server product list may replace it)" : L"");
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

// Runs a build or test mode; these read the product profile first, server
// list included.
int RunWordMode(const tarn::StartChoice& choice)
{
    tarn::CachedProductProfile();
    return choice.word->run(choice.argument);
}

}  // namespace
#include "support/user_prompt.h"

bool CTarn_Gridwell_20xxApp::InitInstance()
{
    tarn::SetProcessInstance(m_hInstance);

    std::vector<std::wstring> tokens;
    SplitCommandLine(tokens, m_lpCmdLine.c_str());
    const tarn::DownloadSettings download = tarn::ScanDownloadKeywords(tokens);
    const tarn::InstallerSwitches switches = tarn::ScanInstallerSwitches(tokens);
    const tarn::StartChoice choice = tarn::ChooseStartMode(download, m_lpCmdLine.c_str(), switches);
    const tarn::StartMode mode = choice.mode;
    SetLogCopy(mode, switches);
    TraceStart(choice, m_lpCmdLine);

    std::wstring result = L"done";
    bool endAtOnce = false;
    // The download modes run in the background and the unattended switches
    // promise no window: no one is there to answer a question.
    if (mode == tarn::StartMode::UpdateDownload || mode == tarn::StartMode::SingleFileDownload || switches.quiet ||
        switches.passive) {
        tarn::SetMayAskUser(false);
    }
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
            m_ExitCode = RunWordMode(choice);
            result = m_ExitCode == 0 ? L"done" : L"failed";
        }
    }
    tarn::Trace(L"End: mode %ls, %ls, exit code %d", tarn::StartModeName(choice).c_str(), result.c_str(), m_ExitCode);
    if (endAtOnce) {
        ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(m_ExitCode));
    }
    return false;
}
