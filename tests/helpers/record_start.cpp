// record_start.exe [/record=<file>] [/sleep=<ms>] [/exit=<code>] [anything else]
// Appends how it was started to a record file and ends: by default the file
// beside itself named after it with ".started.txt" (Setup.exe writes
// Setup.started.txt), so copies under other names (test doubles) record
// themselves. One block per start, UTF-8, lines "key=value":
//   start / program / commandline / arguments / folder / show / pid / end
// "show" is the show state asked for at creation (-1 when none was given).
// The words above may stand anywhere among the arguments; the process then
// sleeps the given time and exits with the given code (default 0).

#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <string>

#include "utf8_text.h"

namespace {

using tarn::test::ToUtf8;

std::wstring OwnPath()
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return std::wstring(buffer, length);
}

std::wstring CurrentFolder()
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetCurrentDirectoryW(MAX_PATH, buffer);
    return std::wstring(buffer, length < MAX_PATH ? length : 0);
}

// The command line after the program name and the blanks behind it.
std::wstring ArgumentText(const wchar_t* commandLine)
{
    const wchar_t* p = commandLine;
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"') {
            ++p;
        }
        if (*p == L'"') {
            ++p;
        }
    } else {
        while (*p && *p != L' ' && *p != L'\t') {
            ++p;
        }
    }
    while (*p == L' ' || *p == L'\t') {
        ++p;
    }
    return p;
}

bool TakeValue(const wchar_t* argument, const wchar_t* word, std::wstring& value)
{
    const size_t length = wcslen(word);
    if (_wcsnicmp(argument, word, length) != 0) {
        return false;
    }
    value = argument + length;
    return true;
}

// Several starts may record into one file at once: the file is opened
// without sharing and the open retried while another process holds it.
bool AppendRecord(const std::wstring& path, const std::string& block)
{
    for (int attempt = 0; attempt < 2000; ++attempt) {
        HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            const BOOL ok =
                ::WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, nullptr);
            ::CloseHandle(file);
            return ok && written == block.size();
        }
        ::Sleep(10);
    }
    return false;
}

}  // namespace

int wmain()
{
    const std::wstring program = OwnPath();
    std::wstring recordPath = program;
    const size_t dot = recordPath.find_last_of(L'.');
    const size_t slash = recordPath.find_last_of(L'\\');
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) {
        recordPath.resize(dot);
    }
    recordPath += L".started.txt";

    DWORD sleepMilliseconds = 0;
    int exitCode = 0;
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    for (int i = 1; arguments != nullptr && i < count; ++i) {
        std::wstring value;
        if (TakeValue(arguments[i], L"/record=", value)) {
            recordPath = value;
        } else if (TakeValue(arguments[i], L"/sleep=", value)) {
            sleepMilliseconds = static_cast<DWORD>(wcstoul(value.c_str(), nullptr, 10));
        } else if (TakeValue(arguments[i], L"/exit=", value)) {
            exitCode = static_cast<int>(wcstol(value.c_str(), nullptr, 10));
        }
    }
    ::LocalFree(arguments);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    ::GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? static_cast<int>(startup.wShowWindow) : -1;

    std::wstring block = L"start\n";
    block += L"program=" + program + L"\n";
    block += L"commandline=" + std::wstring(::GetCommandLineW()) + L"\n";
    block += L"arguments=" + ArgumentText(::GetCommandLineW()) + L"\n";
    block += L"folder=" + CurrentFolder() + L"\n";
    block += L"show=" + std::to_wstring(show) + L"\n";
    block += L"pid=" + std::to_wstring(::GetCurrentProcessId()) + L"\n";
    block += L"end\n";
    if (!AppendRecord(recordPath, ToUtf8(block))) {
        return 99;
    }
    ::Sleep(sleepMilliseconds);
    return exitCode;
}
