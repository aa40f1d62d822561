// Test double of "CfgR.dll". GetExportsObject hands out a table whose second
// entry answers a folder value: 0 for the name "Missing", otherwise 1 and
// "C:\FromCfgR\<name>". Each call appends "file|section|name" and a line
// feed (UTF-8) to the file named by the environment variable TARN_CFGR_LOG.

#include <windows.h>

#include <cwchar>
#include <string>

namespace {

void Log(const wchar_t* file, const wchar_t* section, const wchar_t* name)
{
    wchar_t logPath[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"TARN_CFGR_LOG", logPath, MAX_PATH) == 0) {
        return;
    }
    const std::wstring line = std::wstring(file) + L"|" + section + L"|" + name + L"\n";
    char bytes[4096] = {};
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), bytes,
                                             sizeof(bytes), nullptr, nullptr);
    HANDLE log = ::CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ::WriteFile(log, bytes, static_cast<DWORD>(length > 0 ? length : 0), &written, nullptr);
        ::CloseHandle(log);
    }
}

int Unused()
{
    return 0;
}

int ReadValue(const wchar_t* file, const wchar_t* section, const wchar_t* name, wchar_t* output)
{
    Log(file, section, name);
    if (wcscmp(name, L"Missing") == 0) {
        return 0;
    }
    swprintf(output, MAX_PATH, L"C:\\FromCfgR\\%ls", name);
    return 1;
}

void* const g_table[] = {reinterpret_cast<void*>(&Unused), reinterpret_cast<void*>(&ReadValue)};

}  // namespace

extern "C" long long GetExportsObject()
{
    return reinterpret_cast<long long>(g_table);
}
