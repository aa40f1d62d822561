#include "app/tarn_app.h"

#include <vector>

#include "app/command_line.h"
#include "app/default_mode.h"
#include "app/dialog/win_dialog.h"
#include "app/profile/product_profile.h"
#include "app/update_modes.h"
#include "packing/release_modes.h"
#include "support/name_compare.h"
#include "support/program_path.h"
#include "support/user_prompt.h"

bool CTarn_Gridwell_20xxApp::InitInstance()
{
    tarn::SetProcessInstance(m_hInstance);

    std::vector<std::wstring> tokens;
    SplitCommandLine(tokens, m_lpCmdLine.c_str());
    const tarn::DownloadSettings download = tarn::ScanDownloadKeywords(tokens);
    const tarn::StartMode mode = tarn::ChooseStartMode(download, m_lpCmdLine.c_str());
    // The download modes run in the background: no one is there to answer a question.
    if (mode == tarn::StartMode::UpdateDownload || mode == tarn::StartMode::SingleFileDownload) {
        tarn::SetMayAskUser(false);
    }
    if (mode == tarn::StartMode::UpdateDownload) {
        DownloadProductUpdate(download.value, download.targetFolder, static_cast<int>(download.updateKind));
        return false;
    }
    if (mode == tarn::StartMode::SingleFileDownload) {
        DownloadFileToFolder(download.value, download.targetFolder);
        return false;
    }

    // After the download modes: they show no window (see
    // InitCommonControlsForDialogs).
    tarn::InitCommonControlsForDialogs();
    tarn::CachedProductProfile();  // the first call fills the profile cache

    switch (mode) {
    case tarn::StartMode::TestFunc:
        RunTestDownloads();
        return false;
    case tarn::StartMode::PackUpdate:
        return false;
    case tarn::StartMode::Installer:
        tarn::RunDefaultMode();
        return false;
    case tarn::StartMode::CreateDataPack:
        tarn::CreateDataPack();
        return false;
    case tarn::StartMode::MakeNullUpdate:
        tarn::MakeNullUpdate();
        return false;
    case tarn::StartMode::PackCorvinUpdate:
        tarn::PackCorvinUpdate();
        return false;
    case tarn::StartMode::PackOem:
        tarn::PackQxPackage();
        return false;
    case tarn::StartMode::PackAll:
        tarn::PackAll();
        return false;
    case tarn::StartMode::PackRvtTrainings:
        tarn::PackRvtTrainings();
        return false;
    case tarn::StartMode::CreateMemoryStickData:
        tarn::CreateMemoryStickData();
        return false;
    case tarn::StartMode::PackCorvin:
        tarn::PackCorvin();
        return false;
    case tarn::StartMode::PackGridwell:
        // "PackQuick" packs only the main package anew.
        tarn::PackGridwell(tarn::EqualsNoCase(m_lpCmdLine, L"PackQuick"));
        return false;
    default:
        // The download modes were handled before the profile was read.
        return false;
    }
}
