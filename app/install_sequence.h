#pragma once
// The download-and-install sequence that the installer dialog's worker runs:
// download list, status file, update children, packages, setup start.

#include "app/install_view.h"

// Runs the whole sequence for the product of this process; the worker thread
// routine calls it and ignores the result. Catches everything.
int RunDownloadAndInstall(tarn::InstallView& view);
