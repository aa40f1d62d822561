#pragma once
// The running program's own file: its full path and its folder. Start-up sets
// the process instance handle; until then the program file's own module
// handle is used.

#include <windows.h>

#include <string>

namespace tarn {

void SetProcessInstance(HINSTANCE instance);
HINSTANCE GetProcessInstance();

// Full path of the running program file (empty if it cannot be read).
std::wstring GetProgramPath();

// The program path cut at its last backslash, without a trailing backslash.
std::wstring GetProgramFolder();

}  // namespace tarn
