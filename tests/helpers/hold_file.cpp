// hold_file.exe <path> <milliseconds> [<ready file>]
// Opens (or creates) <path> without sharing, creates <ready file> once it
// holds the file, and keeps it open for the given time. Tests use it to hold
// a file locked from another process.

#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        return 2;
    }
    HANDLE file = ::CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    if (argc > 3) {
        HANDLE ready = ::CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (ready != INVALID_HANDLE_VALUE) {
            ::CloseHandle(ready);
        }
    }
    ::Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
    ::CloseHandle(file);
    return 0;
}
