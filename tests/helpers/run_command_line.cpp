// run_command_line.exe <program> <command-line file>
// Starts <program> with exactly the command-line text held in the file
// (UTF-8), after the quoted program path and one blank, waits for it and
// exits with its exit code, which it also prints as "exit=<code>" (a Linux
// exit status keeps only its low eight bits). Wine's own start-up re-quotes the arguments it is
// given, so tests that need a precise command line (quoted keyword values,
// blanks, letter case) go through this program.

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

bool ReadUtf8File(const wchar_t* path, std::wstring& text)
{
    HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::vector<char> bytes(static_cast<size_t>(::GetFileSize(file, nullptr)));
    DWORD read = 0;
    const BOOL ok = bytes.empty() ||
                    ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    ::CloseHandle(file);
    if (!ok) {
        return false;
    }
    const int count = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(read), nullptr, 0);
    text.assign(static_cast<size_t>(count), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(read), text.data(), count);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring arguments;
    if (argc != 3 || !ReadUtf8File(argv[2], arguments)) {
        return 125;
    }
    std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(argv[1], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        return 126;
    }
    ::CloseHandle(process.hThread);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 127;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hProcess);
    std::printf("exit=%lu\n", static_cast<unsigned long>(code));
    std::fflush(stdout);
    return static_cast<int>(code);
}
