// Built only while the installer dialog's own source is absent: runs the
// download-and-install sequence without a window, so that the default mode
// works end to end before the dialog is there.

#include "app/installer_dialog.h"

#include "app/install_data_folder.h"
#include "app/install_sequence.h"
#include "support/trace.h"

namespace {

class WindowlessView : public tarn::InstallView {
public:
    std::wstring InstallDataFolder() const override { return folder_; }
    void SetStatusText(const std::wstring& text) override { tarn::Trace(L"Installer: %ls", text.c_str()); }
    HWND ProgressBar() const override { return nullptr; }

private:
    std::wstring folder_ = tarn::InstallDataFolder();
};

}  // namespace

namespace tarn {

void RunInstallerDialog()
{
    WindowlessView view;
    RunDownloadAndInstall(view);
}

}  // namespace tarn
