#pragma once
// The download-and-install sequence that the installer dialog's worker runs:
// download list, status file, update children, packages, setup start.

#include <windows.h>

#include <string>
#include <vector>

#include "app/install/install_result.h"
#include "app/install/install_view.h"
#include "app/profile/product_profile.h"

// Runs the whole sequence for the product of this process (see
// tarn::RunInstall); 1 when the setup was started, else 0.
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

// The sequence for `inputs`: the setup started, or the refusal of a product
// that is not ready (after its box), a profile without product, or an
// incomplete install with its reason (after the warning box, which names the
// reason and the log file; nothing is started then).
InstallResult RunInstallSequence(InstallView& view, const InstallInputs& inputs);

// The sequence for this process's product: the product profile is taken
// from its cache (filled here on the first call, which may fetch the server
// product list). With `testDownload` (the command line "TestDownload") each
// file is first looked for on the test share. Catches everything.
InstallResult RunInstall(InstallView& view, bool testDownload);

// The warning of an incomplete install: the fixed text, the reason line (the
// reason's own, or "Grund: " and `detail` when one is given) and the log
// file's path.
std::wstring IncompleteInstallText(InstallReason reason, const std::wstring& logPath,
                                   const std::wstring& detail = std::wstring());

}  // namespace tarn
