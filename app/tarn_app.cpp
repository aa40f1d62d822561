#include "app/tarn_app.h"

#include <commctrl.h>

#include <vector>

#include "app/command_line.h"
#include "app/default_mode.h"
#include "app/product_profile.h"
#include "app/update_modes.h"
#include "packing/release_modes.h"
#include "support/name_compare.h"
#include "support/proc_address.h"
#include "support/program_path.h"

namespace tarn {

void InitCommonControlsForDialogs()
{
    // Never freed: the controls' window procedures live in it.
    const HMODULE module = ::LoadLibraryW(L"comctl32.dll");
    if (module == nullptr) {
        return;
    }
    using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const auto init = reinterpret_cast<InitFunction>(
        reinterpret_cast<void*>(GetProcAddressLogged(module, "InitCommonControlsEx")));
    if (init == nullptr) {
        return;
    }
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES;
    init(&controls);
}

}  // namespace tarn

bool CTarn_Gridwell_20xxApp::InitInstance()
{
    SetProcessInstance(m_hInstance);

    std::vector<std::wstring> tokens;
    SplitCommandLine(tokens, m_lpCmdLine.c_str());
    const DownloadSettings download = ScanDownloadKeywords(tokens);
    const StartMode mode = ChooseStartMode(download, m_lpCmdLine.c_str());
    if (mode == StartMode::UpdateDownload) {
        DownloadProductUpdate(download.value, download.targetFolder, static_cast<int>(download.updateKind));
        return false;
    }
    if (mode == StartMode::SingleFileDownload) {
        DownloadFileToFolder(download.value, download.targetFolder);
        return false;
    }

    // After the download modes: they show no window (see
    // InitCommonControlsForDialogs).
    tarn::InitCommonControlsForDialogs();
    GetProductProfile();  // the first call fills the profile cache

    switch (mode) {
    case StartMode::TestFunc:
        RunTestDownloads();
        return false;
    case StartMode::PackUpdate:
        return false;
    case StartMode::Installer:
        tarn::RunDefaultMode();
        return false;
    case StartMode::CreateDataPack:
        tarn::CreateDataPack();
        return false;
    case StartMode::MakeNullUpdate:
        tarn::MakeNullUpdate();
        return false;
    case StartMode::PackCorvinUpdate:
        tarn::PackCorvinUpdate();
        return false;
    case StartMode::PackOem:
        tarn::PackQxPackage();
        return false;
    case StartMode::PackAll:
        tarn::PackAll();
        return false;
    case StartMode::PackRvtTrainings:
        tarn::PackRvtTrainings();
        return false;
    case StartMode::CreateMemoryStickData:
        tarn::CreateMemoryStickData();
        return false;
    case StartMode::PackCorvin:
        tarn::PackCorvin();
        return false;
    case StartMode::PackGridwell:
        // "PackQuick" packs only the main package anew.
        tarn::PackGridwell(tarn::EqualsNoCase(m_lpCmdLine, L"PackQuick"));
        return false;
    default:
        // The download modes were handled before the profile was read.
        return false;
    }
}
