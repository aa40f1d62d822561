#pragma once
// Hands a settings text to the host application, which keeps it in the
// drawing. The host's add-on module ("TarnGridwell.dll", else "TarnApi.dll")
// must already be loaded in the process: it is looked for among the loaded
// modules only, never loaded, and its entry point
// "WriteConfigurationToDrawing" (storage name, text; int result) is resolved
// once per process.

#include <string>
#include <string_view>
#include <vector>

namespace tarn {

// The text handed over: the non-empty lines up to the first line starting
// with ';' or '/', each followed by CR LF.
std::wstring DrawingText(const std::vector<std::wstring>& lines);

// The storage name of a settings file: its name without folder, without an
// extension ".dat", ".def", ".cfg", ".ini" or ".txt" (any letter case), in
// upper case.
std::wstring DrawingStorageName(std::wstring_view file);

// Calls the host's entry point with the storage name of `file` and the text
// of `lines`; its result. 0 when `file` is empty or the host is absent.
int HandOverToDrawing(std::wstring_view file, const std::vector<std::wstring>& lines);

// Forgets the resolved entry point, so that the next hand-over looks for the
// host again. Only tests need this: the program resolves once per process.
void ForgetDrawingEntryPoint();

}  // namespace tarn
