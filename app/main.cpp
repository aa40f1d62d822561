// Entry point of Tarn_Gridwell_2023.exe.

#include <windows.h>

#include "app/tarn_app.h"
#include "transfer/release_manifest.h"
#include "release_keys.h"

namespace {

CTarn_Gridwell_20xxApp theApp;

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // The program runs elevated: optional modules are loaded by full path only,
    // and nothing is picked up from the program's folder or the current one.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    ::SetDllDirectoryW(L"");
    tarn::SetBuiltInReleaseKeys(kTarnReleaseKeys);
    return theApp.Run(instance);
}
