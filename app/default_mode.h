#pragma once
// Start-up's default mode: the installer. A product already unpacked beside
// the program is started directly; otherwise the installer dialog runs, one
// per product at a time.

#include <string>

namespace tarn {

// Runs the default mode for the product of this process.
void RunDefaultMode();

// True when `productFolder` (ending with a backslash) is non-empty and holds
// "Setup.exe", "Autorun.inf", "Setup_W32.exe" and "Setup_x64.exe" as files.
bool IsReadyProduct(const std::wstring& productFolder);

// The ready product's road: refreshes "SetupUpdater_2023.cab" in the product
// folder from `baseUrl` (replacing an older one, only after a verified
// download), then starts the folder's "Setup.exe" visibly and waits for it.
void StartReadyProduct(const std::wstring& baseUrl, const std::wstring& productFolder);

// The name of the lock that keeps a second installer away from an
// installation data folder.
std::wstring InstallerLockName(const std::wstring& installDataFolder);

}  // namespace tarn
