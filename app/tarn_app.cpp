#include "app/tarn_app.h"

#include <commctrl.h>

#include <vector>

#include "app/command_line.h"
#include "app/product_profile.h"
#include "app/update_modes.h"
#include "support/program_path.h"

bool CTarn_Gridwell_20xxApp::InitInstance()
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&controls);

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

    GetProductProfile();  // the first call fills the profile cache

    switch (mode) {
    case StartMode::TestFunc:
        RunTestDownloads();
        return false;
    case StartMode::PackUpdate:
        return false;
    default:
        // The build and installer modes arrive with their own code.
        return false;
    }
}
