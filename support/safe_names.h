#pragma once
// The one rule for names that come from outside (download lists, cabinet
// entries) and are appended to a folder of ours: they must name a file
// below that folder and nothing else.

#include <string_view>

namespace tarn {

// True for a reserved device name in any letter case, with or without an
// extension and blanks before it: CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9
// (superscript one to three too), CONIN$ and CONOUT$. Opening such a name opens the device, in every folder.
bool IsReservedDeviceName(std::wstring_view component);

// True when one path component names a file or folder of its own: not
// empty, not a device name, and not ending in a dot or blank (the platform
// drops those, so "..", ". ." and "a." name the folder, its parent or "a").
bool IsSafeNameComponent(std::wstring_view component);

// True when `name` (backslashes only) names a file below the folder it is
// appended to: no leading or trailing backslash (a root, a share, a
// folder), no drive or stream colon, no wildcard or control character, and
// every component safe.
bool IsContainedName(std::wstring_view name);

}  // namespace tarn
