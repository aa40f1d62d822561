// Start-up's way into the installer dialog: the worker runs the
// download-and-install sequence into this product's installation data folder.

#include <memory>

#include "app/install/install_data_folder.h"
#include "app/install/install_sequence.h"
#include "app/dialog/installer_dialog.h"
#include "support/trace.h"

namespace tarn {

InstallerDialogEnd RunInstallerDialog(bool testDownload)
{
    // Shared: after a cancel the worker may outlive this function.
    const auto result = std::make_shared<InstallResult>(InstallResult::Failed(InstallReason::Unexpected));
    CTarn_Gridwell_20xxDlg dialog(nullptr, InstallDataFolder(), [testDownload, result](InstallView& view) {
        *result = RunInstall(view, testDownload);
        return result->SetupStarted() ? 1 : 0;
    });
    dialog.DoModal();
    InstallerDialogEnd end;
    end.cancelled = !dialog.ClosedAfterWorker();
    end.workerRuns = dialog.WorkerRunning();
    if (end.workerRuns) {
        // Cancelled while the worker runs. A normal end would run the static
        // destructors (the log's lock, the download road's state) under the
        // worker's feet, so start-up ends the process at once. That is safe:
        // everything the worker writes is replaced whole (status file,
        // starter file, downloads into files of their own) or done again by
        // the next start (a package whose unpacking is not recorded is
        // unpacked anew); the update downloads are processes of their own
        // and finish.
        Trace(L"Installer: cancelled while the worker runs, the program ends now");
    } else if (!end.cancelled) {
        end.result = *result;
    }
    return end;
}

}  // namespace tarn
