#include "support/proc_address.h"

#include <string>

#include "support/file_system.h"
#include "support/unique_handle.h"

namespace {

std::string ToAnsi(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    const int length = static_cast<int>(text.size());
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return std::string();
    }
    std::string ansi(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, ansi.data(), bytes, nullptr, nullptr);
    return ansi;
}

std::wstring FromAnsi(const char* text)
{
    const int units = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (units <= 1) {
        return std::wstring();
    }
    std::wstring wide(static_cast<size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), units);
    wide.resize(static_cast<size_t>(units - 1));
    return wide;
}

void LogFailure(HMODULE module, const std::wstring& procName)
{
    // Read before anything else can overwrite the lookup's error code.
    const DWORD lookupError = ::GetLastError();
    wchar_t moduleName[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(module, moduleName, MAX_PATH);
    const std::wstring line = std::wstring(moduleName, length < MAX_PATH ? length : MAX_PATH) + L";" +
                              procName + L"\r\n";
    const std::wstring logPath = tarn::GetProcAddressLogPath();
    tarn::UniqueFileHandle log(::CreateFileW(logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (log) {
        const std::string ansi = ToAnsi(line);
        DWORD written = 0;
        if (::SetFilePointer(log.Get(), 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER ||
            ::GetLastError() == NO_ERROR) {
            ::WriteFile(log.Get(), ansi.data(), static_cast<DWORD>(ansi.size()), &written, nullptr);
        }
    }
    ::SetLastError(lookupError);
}

}  // namespace

namespace tarn {

std::wstring GetProcAddressLogPath()
{
    return GetTempFolder() + L"\\" + kProcAddressLogName;
}

}  // namespace tarn

FARPROC GetProcAddressLogged(HMODULE module, const wchar_t* procName)
{
    if (procName == nullptr) {
        return nullptr;
    }
    const std::wstring name(procName);
    const std::string ansiName = ToAnsi(name);
    FARPROC address = ansiName.empty() ? nullptr : ::GetProcAddress(module, ansiName.c_str());
    if (address == nullptr) {
        LogFailure(module, name);
    }
    return address;
}

FARPROC GetProcAddressLogged(HMODULE module, const char* procName)
{
    if (procName == nullptr) {
        return nullptr;
    }
    FARPROC address = ::GetProcAddress(module, procName);
    if (address == nullptr) {
        // An ordinal is no pointer to text; it is logged as "#<number>".
        const std::wstring name = IS_INTRESOURCE(procName)
                                      ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(procName))
                                      : FromAnsi(procName);
        LogFailure(module, name);
    }
    return address;
}
