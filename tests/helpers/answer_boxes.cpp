// Answers the message boxes of a program under test, in the same Wine prefix,
// by pressing OK on each:
//
// answer_boxes.exe <record file> <stop file>
//   Every 50 ms, until the stop file exists, answers every visible message box
//   and appends a block "message" / "caption=..." / "text=..." / "end" to the
//   record file (UTF-8; line feeds inside caption and text written as "\n").
//   Exits with 0.
// answer_boxes.exe <output file> --first <caption> <seconds>
//   Waits up to <seconds> for a message box with <caption>, writes its text
//   alone (UTF-8, as shown) to the output file and the local time it found
//   it ("YYYY-MM-DD hh:mm:ss.mmm", as the program's log stamps its lines) to
//   "<output file>.time", answers it and exits with 0; exits with 1 when no
//   such box appeared. "<output file>.ready" is made once it looks, so that
//   a caller can start the program after it.
// answer_boxes.exe <output file> --progress <caption> <seconds>
//   Waits up to <seconds> for a window with <caption>, then every 50 ms
//   until it is gone writes the position of its progress bar (control 1001)
//   as a line to the output file whenever it changed; answers nothing.
//   Exits with 1 when no such window appeared.
// answer_boxes.exe <output file> --login <user> <password> <seconds>
//   Waits up to <seconds> for a dialog with a password field, types <user>
//   into its first other edit field and <password> into the password field,
//   presses OK (Cancel when <user> is empty), writes the dialog's caption to
//   the output file and exits with 0; exits with 1 when no such dialog
//   appeared.

#include <windows.h>

#include <commctrl.h>

#include <cwchar>
#include <string>

#include "utf8_text.h"

namespace {

using tarn::test::ToUtf8;

struct Box {
    std::wstring caption;
    std::wstring text;
};

// What one pass over the windows looks for: a caption, or any box.
struct Search {
    const wchar_t* caption = nullptr;
    const wchar_t* recordFile = nullptr;  // every box found is appended here
    bool found = false;
    Box box;                              // the box found with `caption`
    SYSTEMTIME foundAt{};                 // local time, before it was answered
};

std::wstring Escaped(const std::wstring& text)
{
    std::wstring escaped;
    for (wchar_t c : text) {
        if (c == L'\n') {
            escaped += L"\\n";
        } else if (c != L'\r') {
            escaped += c;
        }
    }
    return escaped;
}

std::wstring WindowText(HWND window)
{
    wchar_t buffer[4096] = {};
    ::GetWindowTextW(window, buffer, 4096);
    return buffer;
}

bool WriteFileBytes(const wchar_t* path, DWORD access, DWORD disposition, const std::wstring& text)
{
    HANDLE file = ::CreateFileW(path, access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const std::string bytes = ToUtf8(text);
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok != FALSE && written == bytes.size();
}

BOOL CALLBACK AnswerWindow(HWND window, LPARAM parameter)
{
    Search& search = *reinterpret_cast<Search*>(parameter);
    wchar_t className[64] = {};
    ::GetClassNameW(window, className, 64);
    if (std::wstring(className) != L"#32770" || !::IsWindowVisible(window)) {
        return TRUE;
    }
    Box box{WindowText(window), std::wstring()};
    if (search.caption != nullptr && box.caption != search.caption) {
        return TRUE;
    }
    // The message box's text is its static control 0xFFFF.
    if (const HWND text = ::GetDlgItem(window, 0xFFFF)) {
        box.text = WindowText(text);
    }
    if (search.recordFile != nullptr) {
        WriteFileBytes(search.recordFile, FILE_APPEND_DATA, OPEN_ALWAYS,
                       L"message\ncaption=" + Escaped(box.caption) + L"\ntext=" + Escaped(box.text) + L"\nend\n");
    }
    // The answer returns only once the program has handled it.
    ::GetLocalTime(&search.foundAt);
    ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    search.found = true;
    search.box = std::move(box);
    return search.caption == nullptr ? TRUE : FALSE;
}

int AnswerUntilStopped(const wchar_t* recordFile, const wchar_t* stopFile)
{
    while (::GetFileAttributesW(stopFile) == INVALID_FILE_ATTRIBUTES) {
        Search search;
        search.recordFile = recordFile;
        ::EnumWindows(AnswerWindow, reinterpret_cast<LPARAM>(&search));
        ::Sleep(50);
    }
    return 0;
}

int AnswerFirst(const wchar_t* outputFile, const wchar_t* caption, DWORD seconds)
{
    const ULONGLONG deadline = ::GetTickCount64() + ULONGLONG{seconds} * 1000;
    WriteFileBytes((std::wstring(outputFile) + L".ready").c_str(), GENERIC_WRITE, CREATE_ALWAYS, L"");
    for (;;) {
        Search search;
        search.caption = caption;
        ::EnumWindows(AnswerWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            const SYSTEMTIME& now = search.foundAt;
            wchar_t stamp[32];
            std::swprintf(stamp, 32, L"%04u-%02u-%02u %02u:%02u:%02u.%03u", now.wYear, now.wMonth, now.wDay, now.wHour,
                          now.wMinute, now.wSecond, now.wMilliseconds);
            const std::wstring timeFile = std::wstring(outputFile) + L".time";
            return WriteFileBytes(outputFile, GENERIC_WRITE, CREATE_ALWAYS, search.box.text) &&
                           WriteFileBytes(timeFile.c_str(), GENERIC_WRITE, CREATE_ALWAYS, stamp)
                       ? 0
                       : 1;
        }
        if (::GetTickCount64() >= deadline) {
            return 1;
        }
        ::Sleep(50);
    }
}

int SampleProgress(const wchar_t* outputFile, const wchar_t* caption, DWORD seconds)
{
    const ULONGLONG deadline = ::GetTickCount64() + ULONGLONG{seconds} * 1000;
    HWND dialog = nullptr;
    while ((dialog = ::FindWindowW(L"#32770", caption)) == nullptr) {
        if (::GetTickCount64() >= deadline) {
            return 1;
        }
        ::Sleep(50);
    }
    std::wstring positions;
    LRESULT last = -1;
    while (::IsWindow(dialog) && ::GetTickCount64() < deadline) {
        const LRESULT position = ::SendMessageW(::GetDlgItem(dialog, 1001), PBM_GETPOS, 0, 0);
        if (position != last) {
            positions += std::to_wstring(position) + L"\n";
            last = position;
        }
        ::Sleep(50);
    }
    return WriteFileBytes(outputFile, GENERIC_WRITE, CREATE_ALWAYS, positions) ? 0 : 1;
}

// A login dialog: a dialog with a password field and another edit field.
struct Login {
    const wchar_t* user;
    const wchar_t* password;
    HWND dialog = nullptr;
    HWND fields[2] = {};  // the user's field, the password field
};

BOOL CALLBACK FindLoginField(HWND child, LPARAM parameter)
{
    HWND* fields = reinterpret_cast<Login*>(parameter)->fields;
    wchar_t className[16] = {};
    ::GetClassNameW(child, className, 16);
    const int slot = (::GetWindowLongW(child, GWL_STYLE) & ES_PASSWORD) ? 1 : 0;
    if (_wcsicmp(className, L"Edit") == 0 && ::IsWindowVisible(child) && fields[slot] == nullptr) {
        fields[slot] = child;
    }
    return TRUE;
}

BOOL CALLBACK AnswerLogin(HWND window, LPARAM parameter)
{
    Login& login = *reinterpret_cast<Login*>(parameter);
    wchar_t className[64] = {};
    ::GetClassNameW(window, className, 64);
    login.fields[0] = login.fields[1] = nullptr;
    if (std::wstring(className) == L"#32770" && ::IsWindowVisible(window)) {
        ::EnumChildWindows(window, FindLoginField, parameter);
    }
    if (login.fields[0] == nullptr || login.fields[1] == nullptr) {
        return TRUE;
    }
    ::SendMessageW(login.fields[0], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(login.user));
    ::SendMessageW(login.fields[1], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(login.password));
    login.dialog = window;
    return FALSE;
}

int AnswerLoginDialog(const wchar_t* outputFile, const wchar_t* user, const wchar_t* password, DWORD seconds)
{
    const ULONGLONG deadline = ::GetTickCount64() + ULONGLONG{seconds} * 1000;
    Login login{user, password};
    while (::EnumWindows(AnswerLogin, reinterpret_cast<LPARAM>(&login)) && ::GetTickCount64() < deadline) {
        ::Sleep(50);
    }
    if (login.dialog == nullptr) {
        return 1;
    }
    const std::wstring caption = WindowText(login.dialog);
    const int button = user[0] == L'\0' ? IDCANCEL : IDOK;
    ::SendMessageW(login.dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    return WriteFileBytes(outputFile, GENERIC_WRITE, CREATE_ALWAYS, caption) ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3) {
        return AnswerUntilStopped(argv[1], argv[2]);
    }
    if (argc == 5 && std::wstring(argv[2]) == L"--first") {
        return AnswerFirst(argv[1], argv[3], static_cast<DWORD>(_wtoi(argv[4])));
    }
    if (argc == 5 && std::wstring(argv[2]) == L"--progress") {
        return SampleProgress(argv[1], argv[3], static_cast<DWORD>(_wtoi(argv[4])));
    }
    if (argc == 6 && std::wstring(argv[2]) == L"--login") {
        return AnswerLoginDialog(argv[1], argv[3], argv[4], static_cast<DWORD>(_wtoi(argv[5])));
    }
    return 125;
}
