#pragma once
// Entry-point lookup for optional libraries. Every failed lookup is appended
// to the log file "!!!!!!!GetProcAddressFailures.txt" in the user's temporary
// folder, but only when that file exists: creating it switches the log on,
// deleting it switches it off.

#include <windows.h>

#include <string>

// GetProcAddress for a procedure name given as UTF-16 (converted to ANSI for
// the lookup) or as ANSI text (or an ordinal made with MAKEINTRESOURCEA).
// Returns the address, or null; a failure appends "module path;name" and
// CR LF in ANSI to the log file when that file already exists.
FARPROC GetProcAddressLogged(HMODULE module, const wchar_t* procName);
FARPROC GetProcAddressLogged(HMODULE module, const char* procName);

namespace tarn {

// Name of the missing-export log file in the temporary folder.
inline constexpr wchar_t kProcAddressLogName[] = L"!!!!!!!GetProcAddressFailures.txt";

// Full path of the log file (temporary path, backslash, file name).
std::wstring GetProcAddressLogPath();

}  // namespace tarn
