#include "support/trace.h"

#include <windows.h>

#include <cstdarg>
#include <cwchar>
#include <mutex>

#include "support/debug_output.h"
#include "support/program_path.h"
#include "support/text_format.h"
#include "support/unique_handle.h"
#include "support/utf8.h"

namespace {

constexpr unsigned long long kDefaultRotateAt = 1024 * 1024;

std::mutex g_logMutex;
std::wstring g_logOverride;
std::wstring g_copyPath;
unsigned long long g_rotateAt = kDefaultRotateAt;

std::wstring DefaultLogPath()
{
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) {
        return std::wstring();
    }
    const std::wstring program = tarn::GetProgramPath();
    const size_t slash = program.find_last_of(L"\\/");
    std::wstring stem = slash == std::wstring::npos ? program : program.substr(slash + 1);
    const size_t dot = stem.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > 0) {
        stem.resize(dot);
    }
    if (stem.empty()) {
        return std::wstring();
    }
    std::wstring folder(temp, length);
    if (folder.back() != L'\\') {
        folder += L'\\';
    }
    return folder + stem + L".log";
}

std::wstring OldLogPath(const std::wstring& path)
{
    const size_t dot = path.find_last_of(L'.');
    return path.substr(0, dot) + L".old.log";
}

// Appends one line: time, process and thread, text. Several processes of the
// program (the installer and its update children) share one log, so the file
// is opened for appending with full sharing and written in one call.
void AppendToLog(const std::wstring& path, const std::wstring& text, bool rotate = true)
{
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    wchar_t stamp[64];
    std::swprintf(stamp, 64, L"%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu:%lu] ", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, ::GetCurrentProcessId(),
                  ::GetCurrentThreadId());
    const std::string line = tarn::ToUtf8(stamp + text + L"\r\n");

    std::lock_guard<std::mutex> lock(g_logMutex);
    const unsigned long long rotateAt = g_logOverride.empty() ? kDefaultRotateAt : g_rotateAt;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (rotate && ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        const unsigned long long size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        if (size + line.size() > rotateAt) {
            ::MoveFileExW(path.c_str(), OldLogPath(path).c_str(), MOVEFILE_REPLACE_EXISTING);
        }
    }
    tarn::UniqueFileHandle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return;
    }
    DWORD written = 0;
    ::WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

namespace tarn {

void Trace(const wchar_t* format, ...)
{
    const DWORD lastError = ::GetLastError();
    va_list args;
    va_start(args, format);
    std::wstring text = FormatTextV(format, args);
    va_end(args);
    if (text.empty() && format != nullptr) {
        text = format;  // a format that cannot be filled still says where it came from
    }

    SendDebugText(text.c_str());
    const std::wstring path = TraceLogPath();
    if (!path.empty()) {
        AppendToLog(path, text);
    }
    std::wstring copy;
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        copy = g_copyPath;
    }
    if (!copy.empty()) {
        AppendToLog(copy, text, false);
    }
    ::SetLastError(lastError);
}

std::wstring TraceLogPath()
{
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        if (!g_logOverride.empty()) {
            return g_logOverride;
        }
    }
    static const std::wstring path = DefaultLogPath();
    return path;
}

void SetTraceCopyPath(const std::wstring& path)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_copyPath = path;
}

void SetTraceLogForTest(const std::wstring& path, unsigned long long rotateAt)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_logOverride = path;
    g_rotateAt = rotateAt;
}

}  // namespace tarn
