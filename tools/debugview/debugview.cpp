// The debug viewer: owns the window "Tarnix Debug Output Window", and on each
// registered message "WM_TARNIX_DEBUG_TEXT_OUT" takes the text out of the
// shared section "$$Tarnix_DebugOutputData$$", clears its first code unit and
// prints the text as one line to its console, or appends it (UTF-8) to the
// file named on its command line or to redirected output.
//
//   debugview.exe [output file]
//
// It runs until its window is closed (WM_CLOSE) or the console is ended.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

const wchar_t kWindowTitle[] = L"Tarnix Debug Output Window";
const wchar_t kWindowClass[] = L"TarnixDebugViewer";
const wchar_t kSectionName[] = L"$$Tarnix_DebugOutputData$$";
const wchar_t kMessageName[] = L"WM_TARNIX_DEBUG_TEXT_OUT";
constexpr uint64_t kCapacity = 16384;
constexpr DWORD kSectionSize = 8 + 2 * static_cast<DWORD>(kCapacity);

UINT g_textMessage = 0;
HANDLE g_output = INVALID_HANDLE_VALUE;  // the output file, or the console's output
unsigned char* g_section = nullptr;

std::string ToUtf8(const wchar_t* text, size_t length)
{
    if (length == 0) {
        return std::string();
    }
    const int bytes =
        ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8.data(), bytes, nullptr, nullptr);
    }
    return utf8;
}

void TakeText()
{
    if (g_section == nullptr) {
        return;
    }
    uint64_t capacity = 0;
    memcpy(&capacity, g_section, sizeof(capacity));
    if (capacity == 0 || capacity > kCapacity) {
        capacity = kCapacity;
    }
    auto* text = reinterpret_cast<wchar_t*>(g_section + sizeof(uint64_t));
    size_t length = 0;
    while (length + 1 < capacity && text[length] != L'\0') {
        ++length;
    }
    const std::wstring line = std::wstring(text, length) + L"\n";
    // The sender waits for this: the text has been taken.
    text[0] = L'\0';
    DWORD written = 0;
    DWORD mode = 0;
    if (::GetConsoleMode(g_output, &mode)) {
        ::WriteConsoleW(g_output, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    } else {
        const std::string utf8 = ToUtf8(line.data(), line.size());
        ::WriteFile(g_output, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == g_textMessage && g_textMessage != 0) {
        TakeText();
        return 0;
    }
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc > 1) {
        g_output = ::CreateFileW(argv[1], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (g_output == INVALID_HANDLE_VALUE) {
            fwprintf(stderr, L"debugview: cannot open %ls (error %lu)\n", argv[1], ::GetLastError());
            return 2;
        }
    } else {
        g_output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    }

    HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT, 0,
                                          kSectionSize, kSectionName);
    if (mapping == nullptr) {
        fwprintf(stderr, L"debugview: cannot create the shared section (error %lu)\n", ::GetLastError());
        return 3;
    }
    g_section = static_cast<unsigned char*>(::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kSectionSize));
    if (g_section == nullptr) {
        fwprintf(stderr, L"debugview: cannot map the shared section (error %lu)\n", ::GetLastError());
        return 3;
    }

    g_textMessage = ::RegisterWindowMessageW(kMessageName);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    if (g_textMessage == 0 || !::RegisterClassW(&windowClass)) {
        fwprintf(stderr, L"debugview: cannot register the window (error %lu)\n", ::GetLastError());
        return 4;
    }
    // A top-level window that is never shown: the sender finds it by title.
    HWND window = ::CreateWindowExW(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                    CW_USEDEFAULT, 400, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) {
        fwprintf(stderr, L"debugview: cannot create the window (error %lu)\n", ::GetLastError());
        return 4;
    }

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    ::UnmapViewOfFile(g_section);
    ::CloseHandle(mapping);
    if (argc > 1) {
        ::CloseHandle(g_output);
    }
    return 0;
}
