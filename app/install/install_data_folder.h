#pragma once
// The installation data folder: "Tarn_InstallData" in the root of the drive
// (or network share) that holds the user's temporary folder, with one
// sub-folder per product. The elevated installer unpacks the product there and
// starts its setup from there, so only administrators and the system may
// write in it.

#include <string>

namespace tarn {

// The folder for a temporary folder and a product folder: the temporary
// folder's root ("C:\", or "\\server\share\" for a network path), then
// "Tarn_InstallData\" and the product folder's last component, e.g.
// C:\Tarn_InstallData\Tarn Gridwell 2023. The root alone when the product
// folder is empty or holds no backslash.
std::wstring InstallDataFolderFor(const std::wstring& tempFolder, const std::wstring& productFolder);

// The folder for this process: the user's temporary folder and the product
// folder that the program's file name gives (the server product list does
// not change it).
std::wstring InstallDataFolder();

// Creates `installDataFolder` with every missing parent. The
// "Tarn_InstallData" folder on its way is made (or, when it exists, changed)
// so that only administrators and the system may write in it and users may
// read and run what lies there; everything below inherits that. 1 when the
// folder exists at the end and the security could be set, else 0.
int CreateInstallDataFolder(const std::wstring& installDataFolder);

}  // namespace tarn
