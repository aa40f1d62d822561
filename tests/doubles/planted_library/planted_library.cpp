// A library planted beside a program under the name of a system library.
// When it is loaded it leaves "<its own path>.loaded" beside itself, so a
// test can tell which planted names were taken.

#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH] = {};
        const DWORD length = ::GetModuleFileNameW(instance, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            const std::wstring record = std::wstring(path, length) + L".loaded";
            const HANDLE file = ::CreateFileW(record.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                ::CloseHandle(file);
            }
        }
    }
    return TRUE;
}
