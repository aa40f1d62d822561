#pragma once
// The platform's known folders by name: the 141 FOLDERID_ identifiers that
// path variables and the shell-folder table know, each under its identifier
// name without the "FOLDERID_" prefix ("Desktop", "RoamingAppData", ...).

#include <windows.h>

#include <span>
#include <string>
#include <string_view>

namespace tarn {

struct KnownFolder {
    const GUID* id;
    const wchar_t* name;
};

// Every known folder, in table order.
std::span<const KnownFolder> KnownFolders();

// The known folder of that name (any letter case), or null.
const KnownFolder* FindKnownFolder(std::wstring_view name);

// The folder's current path for the current user (SHGetKnownFolderPath, no
// flags), through the shell's entry point resolved once per process. Empty
// when the folder has no path or the entry point is missing.
std::wstring GetKnownFolderPath(const GUID& id);

}  // namespace tarn
