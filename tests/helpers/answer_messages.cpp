// answer_messages.exe <record file> <stop file>
// Answers the message boxes of a headless run: every 50 ms it looks for
// message-box windows, appends "caption" and "text" of each to the record
// file (UTF-8, one block "message" / "caption=..." / "text=..." / "end",
// line feeds inside the text written as "\n"), and presses OK. Ends when the
// stop file exists.

#include <windows.h>

#include <string>

namespace {

std::wstring g_record;

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                          nullptr);
    return bytes;
}

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

void Append(const std::wstring& block)
{
    HANDLE file = ::CreateFileW(g_record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::string bytes = ToUtf8(block);
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

BOOL CALLBACK AnswerWindow(HWND window, LPARAM)
{
    wchar_t className[64] = {};
    ::GetClassNameW(window, className, 64);
    if (std::wstring(className) != L"#32770" || !::IsWindowVisible(window)) {
        return TRUE;
    }
    // The message box's text is its static control 0xFFFF.
    const HWND text = ::GetDlgItem(window, 0xFFFF);
    Append(L"message\ncaption=" + Escaped(WindowText(window)) + L"\ntext=" +
           Escaped(text == nullptr ? L"" : WindowText(text)) + L"\nend\n");
    ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        return 125;
    }
    g_record = argv[1];
    while (::GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES) {
        ::EnumWindows(AnswerWindow, 0);
        ::Sleep(50);
    }
    return 0;
}
