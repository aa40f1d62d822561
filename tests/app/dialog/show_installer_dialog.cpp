// Shows the installer dialog with a worker that sets a status text and a
// progress position and then waits:
//   show_installer_dialog [seconds [marker file]]
// The marker file is made once the dialog shows both; the dialog closes
// itself two ticks after the wait. scripts/screenshot-dialog.sh photographs
// it meanwhile.

#include <windows.h>

#include <commctrl.h>

#include <cwchar>

#include "app/dialog/installer_dialog.h"
#include "app/dialog/win_dialog.h"
#include "offline_profile.h"

namespace {

DWORD g_waitMs = 5000;
const wchar_t* g_marker = nullptr;

int WaitingWorker(tarn::InstallView& view)
{
    view.SetStatusText(L"Das 3. Datenpaket von 11 wird heruntergeladen...");
    if (const HWND progress = view.ProgressBar(); progress != nullptr) {
        ::SendMessageW(progress, PBM_SETRANGE32, 0, 1000);
        ::SendMessageW(progress, PBM_SETPOS, 420, 0);
    }
    if (g_marker != nullptr) {
        ::CloseHandle(::CreateFileW(g_marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    ::Sleep(g_waitMs);
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc > 1) {
        g_waitMs = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10)) * 1000;
    }
    if (argc > 2) {
        g_marker = argv[2];
    }
    tarn::InitCommonControlsForDialogs();
    tarn::test::ResolveProductProfileOffline();
    CTarn_Gridwell_20xxDlg dialog(nullptr, L"C:\\Tarn_InstallData\\Tarn Gridwell 2023", &WaitingWorker);
    return dialog.DoModal() == IDOK ? 0 : 1;
}
