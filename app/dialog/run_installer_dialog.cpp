// Start-up's way into the installer dialog: the worker runs the
// download-and-install sequence into this product's installation data folder.

#include "app/install/install_data_folder.h"
#include "app/install/install_sequence.h"
#include "app/dialog/installer_dialog.h"
#include "support/trace.h"

namespace tarn {

void RunInstallerDialog(bool testDownload)
{
    CTarn_Gridwell_20xxDlg dialog(nullptr, InstallDataFolder(),
                                  [testDownload](InstallView& view) { return RunDownloadAndInstall(view, testDownload); });
    dialog.DoModal();
    if (dialog.WorkerRunning()) {
        // Cancelled while the worker runs. A normal end would run the static
        // destructors (the log's lock, the download road's state) under the
        // worker's feet. Ending here is safe: everything the worker writes is
        // replaced whole (status file, starter file, downloads into files of
        // their own) or done again by the next start (a package whose
        // unpacking is not recorded is unpacked anew); the update downloads
        // are processes of their own and finish.
        Trace(L"Installer: cancelled while the worker runs, the program ends now");
        ::TerminateProcess(::GetCurrentProcess(), 0);
    }
}

}  // namespace tarn
