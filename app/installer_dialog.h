#pragma once
// The installer dialog: the product picture with a status line, a progress
// bar and a cancel button, and the worker thread that runs the
// download-and-install sequence behind it.

namespace tarn {

// Constructs the dialog, shows it modally until the worker has ended or the
// user cancelled, and destroys it. Start-up's default mode calls it.
void RunInstallerDialog();

}  // namespace tarn
