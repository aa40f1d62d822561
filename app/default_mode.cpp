#include "app/default_mode.h"

#include <windows.h>

#include "app/command_line.h"
#include "app/install/install_data_folder.h"
#include "app/dialog/installer_dialog.h"
#include "app/profile/product_profile.h"
#include "support/file_system.h"
#include "support/name_compare.h"
#include "support/trace.h"
#include "support/unique_handle.h"
#include "transfer/http_download.h"
#include "transfer/process_launch.h"
#include "transfer/server_layout.h"

namespace {


// Brings the dialog of the installer that holds the lock to the front.
void ShowRunningInstaller()
{
    const std::wstring& title = tarn::CachedProductProfile().windowTitle;
    const HWND dialog = ::FindWindowW(L"#32770", title.c_str());
    if (dialog == nullptr) {
        tarn::Trace(L"Installer: another one runs, its dialog \"%ls\" was not found", title.c_str());
        return;
    }
    if (::IsIconic(dialog)) {
        ::ShowWindow(dialog, SW_RESTORE);
    }
    ::SetForegroundWindow(dialog);
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

void StartReadyProduct(const std::wstring& baseUrl, const std::wstring& productFolder)
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
    }
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

void RunDefaultMode()
{
    const ProductProfile& profile = CachedProductProfile();
    const std::wstring& baseUrl = profile.baseUrl;
    const std::wstring& productFolder = profile.productFolder;
    if (IsReadyProduct(productFolder)) {
        StartReadyProduct(baseUrl, productFolder);
        return;
    }
    // Two installers of one product would share the status file, the
    // temporary copies and the installation data folder.
    const std::wstring lockName = InstallerLockName(InstallDataFolder());
    const UniqueKernelHandle lock(::CreateMutexW(nullptr, TRUE, lockName.c_str()));
    if (lock && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        ShowRunningInstaller();
        return;
    }
    if (!lock) {
        Trace(L"Installer: lock %ls not made (error %lu)", lockName.c_str(), ::GetLastError());
    }
    RunInstallerDialog(EqualsNoCase(GetApplicationCommandLine(), L"TestDownload"));
}

}  // namespace tarn
