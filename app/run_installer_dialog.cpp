// Start-up's way into the installer dialog: the worker runs the
// download-and-install sequence into this product's installation data folder.

#include "app/install_data_folder.h"
#include "app/install_sequence.h"
#include "app/installer_dialog.h"

namespace tarn {

void RunInstallerDialog()
{
    CTarn_Gridwell_20xxDlg dialog(nullptr, InstallDataFolder(), &RunDownloadAndInstall);
    dialog.DoModal();
}

}  // namespace tarn
