// file_ops.exe empty <folder>
//   Calls EmptyFolder on <folder> and prints "result=<n>".
// file_ops.exe save <settings file> <length>
//   Sets the entry k of section S to <length> letters x, saves the store and
//   prints "result=<n>".
// file_ops.exe guard <path file>
//   Makes a UniqueTempFolder, writes its path (UTF-16) into <path file>,
//   waits up to 60 s for a file "go" inside it, then lets the guard remove it.
// Tests plant links in the folders meanwhile, or limit the size of the files
// the process may write, from outside the program.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "config/store/cfg_reader.h"
#include "support/file_system.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        return 2;
    }
    if (argc == 3 && std::wcscmp(argv[1], L"empty") == 0) {
        std::printf("result=%d\n", EmptyFolder(argv[2]));
        return 0;
    }
    if (argc == 4 && std::wcscmp(argv[1], L"save") == 0) {
        CCfgReader store(argv[2]);
        store.SetValue(L"S", L"k", std::wstring(std::wcstoul(argv[3], nullptr, 10), L'x'));
        const int result = store.Save();
        store.Get_m_HasChanged() = 0;  // one try only
        std::printf("result=%d\n", result);
        return 0;
    }
    if (argc != 3 || std::wcscmp(argv[1], L"guard") != 0) {
        return 2;
    }
    UniqueTempFolder guard;
    const std::wstring& folder = guard.m_Folder;
    const HANDLE file = ::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    ::WriteFile(file, folder.data(), static_cast<DWORD>(folder.size() * sizeof(wchar_t)), &written, nullptr);
    ::CloseHandle(file);
    const std::wstring go = folder + L"\\go";
    for (int i = 0; i < 600 && ::GetFileAttributesW(go.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) {
        ::Sleep(100);
    }
    return 0;
}
