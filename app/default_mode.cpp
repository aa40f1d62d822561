#include "app/default_mode.h"

#include <windows.h>

#include <utility>
#include <vector>

#include "app/command_line.h"
#include "app/install/install_data_folder.h"
#include "app/install/install_result.h"
#include "app/install/install_sequence.h"
#include "app/dialog/installer_dialog.h"
#include "app/profile/product_profile.h"
#include "support/file_system.h"
#include "support/message_box.h"
#include "support/name_compare.h"
#include "support/trace.h"
#include "support/unique_handle.h"
#include "transfer/http_download.h"
#include "transfer/process_launch.h"
#include "transfer/server_layout.h"

namespace {


// Brings the dialog of the installer that holds the lock to the front: its
// own variant's, or that of a product sharing its folder (Gridwell and
// Gridwell App).
void ShowRunningInstaller()
{
    const std::vector<std::wstring> titles = tarn::TitlesSharingProductFolder(tarn::LocalProductProfile());
    HWND dialog = nullptr;
    for (const std::wstring& title : titles) {
        if ((dialog = ::FindWindowW(L"#32770", title.c_str())) != nullptr) {
            break;
        }
    }
    if (dialog == nullptr) {
        tarn::Trace(L"Installer: another one runs, its dialog \"%ls\" was not found", titles[0].c_str());
        return;
    }
    if (::IsIconic(dialog)) {
        ::ShowWindow(dialog, SW_RESTORE);
    }
    ::SetForegroundWindow(dialog);
}

// The view of a run without window: the folder, and nothing shown.
class QuietView : public tarn::InstallView {
public:
    explicit QuietView(std::wstring folder) : folder_(std::move(folder)) {}
    std::wstring InstallDataFolder() const override { return folder_; }
    void SetStatusText(const std::wstring&) override {}
    HWND ProgressBar() const override { return nullptr; }

private:
    const std::wstring folder_;
};

// "/quiet" and "/passive": a message box is written to the log instead and
// counts as answered with OK.
int LogInsteadOfBox(HWND, const std::wstring& text, const std::wstring& caption, UINT)
{
    tarn::Trace(L"Installer: message not shown (unattended run): %ls: %ls", caption.c_str(), text.c_str());
    return IDOK;
}

tarn::DefaultModeEnd EndOf(const tarn::InstallResult& result)
{
    const int code = tarn::InstallExitCode(result);
    switch (result.outcome) {
    case tarn::InstallOutcome::SetupStarted:
        return {code, L"setup started"};
    case tarn::InstallOutcome::NotReady:
        return {code, L"refused: the product is not ready"};
    case tarn::InstallOutcome::NoProduct:
        return {code, L"no product for this program name, nothing installed"};
    case tarn::InstallOutcome::SetupRunning:
        return {code, L"the product's setup still runs from an earlier start"};
    default:
        return {code, std::wstring(L"incomplete (") + tarn::InstallReasonName(result.reason) + L"), nothing started"};
    }
}

}  // namespace

namespace tarn {

bool IsReadyProduct(const std::wstring& productFolder)
{
    if (productFolder.empty()) {
        return false;
    }
    for (const wchar_t* name : {L"Setup.exe", L"Autorun.inf", L"Setup_W32.exe", L"Setup_x64.exe"}) {
        if (!FileExists((productFolder + name).c_str())) {
            return false;
        }
    }
    return true;
}

bool StartReadyProduct(const std::wstring& baseUrl, const std::wstring& productFolder)
{
    std::wstring downloaded;
    int cancel = 0;
    const std::wstring url = DownloadsUrl(baseUrl, kUpdaterCabinetName);
    if (HttpGetFileRetrying(url, downloaded, nullptr, &cancel) && FileExists(downloaded.c_str())) {
        const std::wstring target = productFolder + kUpdaterCabinetName;
        ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!::MoveFileExW(downloaded.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
            Trace(L"Ready product: %ls not moved to %ls (error %lu)", downloaded.c_str(), target.c_str(),
                  ::GetLastError());
        }
    } else {
        Trace(L"Ready product: %ls not refreshed", url.c_str());  // the download traced its cause
    }
    const std::wstring setup = productFolder + L"Setup.exe";
    if (!RunAndWait(setup.c_str(), L"", 0)) {
        Trace(L"Ready product: %ls not started", setup.c_str());  // the start traced its cause
        return false;
    }
    return true;
}

std::wstring InstallerLockName(const std::wstring& installDataFolder)
{
    std::wstring name = L"Global\\TarnInstaller_" + installDataFolder;
    for (size_t i = 7; i < name.size(); ++i) {
        if (name[i] == L'\\') {
            name[i] = L'_';
        }
    }
    return name;
}

DefaultModeEnd RunDefaultMode(const InstallerSwitches& switches, bool testDownload)
{
    if (switches.quiet || switches.passive) {
        SetMessageBoxHandler(&LogInsteadOfBox);
    }
    // Only a product folder that the file name says is ready needs the
    // server product list first (it may mark the product as not ready); any
    // other start opens its window at once and reads the list behind it.
    if (IsReadyProduct(LocalProductProfile().productFolder)) {
        const ProductProfile& profile = CachedProductProfile();
        if (IsReadyProduct(profile.productFolder)) {
            return StartReadyProduct(profile.baseUrl, profile.productFolder)
                       ? DefaultModeEnd{kExitSetupStarted, L"the unpacked product's setup ran"}
                       : DefaultModeEnd{kExitIncomplete, L"the unpacked product's setup not started"};
        }
    }
    // Two installers of one product would share the status file, the
    // temporary copies and the installation data folder.
    const std::wstring lockName = InstallerLockName(InstallDataFolder());
    const UniqueKernelHandle lock(::CreateMutexW(nullptr, TRUE, lockName.c_str()));
    if (lock && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        if (!switches.quiet) {
            ShowRunningInstaller();
        }
        return {kExitAlreadyRunning, L"another installer of the product runs"};
    }
    if (!lock) {
        Trace(L"Installer: lock %ls not made (error %lu)", lockName.c_str(), ::GetLastError());
    }
    if (switches.quiet) {
        QuietView view(InstallDataFolder());
        return EndOf(RunInstall(view, testDownload));
    }
    const InstallerDialogEnd end = RunInstallerDialog(testDownload);
    if (end.cancelled) {
        return {kExitCancelled, L"cancelled by the user", end.workerRuns};
    }
    return EndOf(end.result);
}

}  // namespace tarn
