#pragma once
// Start-up's default mode: the installer. A product already unpacked beside
// the program is started directly; otherwise the installer dialog runs, one
// per product at a time. Its end is an exit code that deployment tools read.

#include <string>

#include "app/command_line.h"

namespace tarn {

// How the default mode ended.
struct DefaultModeEnd {
    int exitCode = 0;       // 0, 1602, 1603 or 1618 (kExit... of install_result.h)
    std::wstring result;    // one phrase for the log's end line
    bool workerRuns = false;  // cancelled while the worker runs: end the process at once
};

// Runs the default mode for the product of this process with the
// installer's switches: "/quiet" runs the sequence without any window,
// "/quiet" and "/passive" answer every message box by writing it to the log.
DefaultModeEnd RunDefaultMode(const InstallerSwitches& switches, bool testDownload);

// True when `productFolder` (ending with a backslash) is non-empty and holds
// "Setup.exe", "Autorun.inf", "Setup_W32.exe" and "Setup_x64.exe" as files.
bool IsReadyProduct(const std::wstring& productFolder);

// The ready product's road: refreshes "SetupUpdater_2023.cab" in the product
// folder from `baseUrl` (replacing an older one, only after a verified
// download), then starts the folder's "Setup.exe" visibly and waits for it.
// False when the setup could not be started.
bool StartReadyProduct(const std::wstring& baseUrl, const std::wstring& productFolder);

// The name of the lock that keeps a second installer away from an
// installation data folder.
std::wstring InstallerLockName(const std::wstring& installDataFolder);

}  // namespace tarn
