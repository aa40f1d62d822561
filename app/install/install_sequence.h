#pragma once
// The download-and-install sequence that the installer dialog's worker runs:
// download list, status file, update children, packages, setup start.

#include <windows.h>

#include <string>
#include <vector>

#include "app/install/install_view.h"
#include "app/profile/product_profile.h"

// Runs the whole sequence for the product of this process; the worker thread
// routine calls it and ignores the result. Catches everything. With
// `testDownload` (the command line "TestDownload") each file is first looked
// for on the test share.
int RunDownloadAndInstall(tarn::InstallView& view, bool testDownload = false);

namespace tarn {

class HostPresence;
class PackageSource;

// What the sequence works with besides the view; RunDownloadAndInstall fills
// it from the process, tests from their own folders.
struct InstallInputs {
    ProductProfile profile;
    std::wstring tempFolder;    // where packages lie, without trailing backslash
    std::wstring programPath;   // started with the update downloads' keywords
    std::wstring starterFile;   // the install-starter file
    const HostPresence* host = nullptr;
    PackageSource* source = nullptr;
    DWORD setupPause = 5000;    // the wait after the setup was started
    // The public keys a release must be signed with (none: no check), and
    // where the newest accepted release serial is kept.
    std::vector<std::string> releaseKeys;
    std::wstring releaseSerialKey;
};

// The sequence for `inputs`. 1 when the setup was started or nothing was
// missing to start it; 0 when it ended early: a product that is not ready
// (after the refusal box) or has no product folder, or data that could not
// be completed (after the warning box; nothing is started then). With
// release keys, a release whose signature, list, serial or packages do not
// pass (see release_check.h) counts as data that could not be completed;
// the warning box then adds the reason.
int RunInstallSequence(InstallView& view, const InstallInputs& inputs);

}  // namespace tarn
