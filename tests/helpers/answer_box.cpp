// answer_box.exe <caption> <seconds> <output file>
// Waits up to <seconds> for a message box with <caption>, writes its text
// (UTF-8) to <output file>, presses OK and exits with 0; exits with 1 when
// no such box appeared. Message boxes of a program under test are answered
// this way, in the same Wine prefix.

#include <windows.h>

#include <cwchar>
#include <string>

namespace {

BOOL CALLBACK CollectText(HWND child, LPARAM parameter)
{
    wchar_t className[32] = {};
    ::GetClassNameW(child, className, 32);
    if (_wcsicmp(className, L"Static") == 0) {
        wchar_t text[1024] = {};
        ::GetWindowTextW(child, text, 1024);
        *reinterpret_cast<std::wstring*>(parameter) += text;
    }
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4) {
        return 2;
    }
    const DWORD deadline = ::GetTickCount() + static_cast<DWORD>(_wtoi(argv[2])) * 1000;
    HWND box = nullptr;
    while (box == nullptr && static_cast<LONG>(deadline - ::GetTickCount()) > 0) {
        box = ::FindWindowW(L"#32770", argv[1]);
        if (box == nullptr) {
            ::Sleep(100);
        }
    }
    if (box == nullptr) {
        return 1;
    }
    ::Sleep(200);
    std::wstring text;
    ::EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&text));
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                          nullptr);
    HANDLE file = ::CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        ::CloseHandle(file);
    }
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    return 0;
}
