#pragma once
// The package loop of the installer: each data package is taken from its
// verified copy in the temporary folder or downloaded again, then unpacked
// into the installation data folder, with the status line following along.

#include <string>
#include <vector>

#include "app/install/download_status.h"
#include "app/install/install_plan.h"
#include "app/install/install_sequence.h"
#include "transfer/release_manifest.h"

namespace tarn {

// Handles the plan's packages in order; they unpack one after another on a
// thread of their own while the later ones download. A download that fails is tried again
// up to ten tries in a row across the packages (the counter restarts after a
// success); a package that reaches ten is skipped. A package whose server
// copy keeps failing its record ends the loop at once. InstallReason::None
// when every planned package was downloaded and unpacked completely, else
// the cause of the first package that was not.
//
// With a signed `manifest`, every package must have the size and SHA-256 it
// gives, checked while the package is written (a copy from an earlier run is
// read once more). The first package that differs is not unpacked and ends
// the loop with ReleaseRefused; `refused` then names it.
InstallReason RunPackageLoop(InstallView& view, const InstallInputs& inputs, DownloadStatus& status,
                             const InstallPlan& plan, const ReleaseManifest* manifest = nullptr,
                             std::wstring* refused = nullptr);

// "Das <n>. Datenpaket von <count> ".
std::wstring PackageStatusPrefix(size_t number, size_t count);

}  // namespace tarn
