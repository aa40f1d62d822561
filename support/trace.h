#pragma once
// The program's diagnostics: one line per failure, naming the operation, the
// path or URL and the cause (system error code or HTTP status). Each line goes
// to the debug viewer when one runs and is appended to the log file
// "%TEMP%\<program file name without extension>.log". The log is opened and
// closed per line, so a killed process loses at most the line it was writing;
// past 1 MiB it is started afresh and the previous one kept as ".old.log". A
// log that cannot be written costs nothing and is not reported.

#include <string>

namespace tarn {

// Formats a line printf-style (use %ls for wide strings, %lu for DWORD error
// codes) and sends it to the viewer and the log. Keeps the caller's
// GetLastError value.
void Trace(const wchar_t* format, ...);

// The log file's full path (empty when the temporary folder is unknown).
std::wstring TraceLogPath();

// Every later line also goes to `path` (opened per line like the log; not
// rotated). An empty path ends that.
void SetTraceCopyPath(const std::wstring& path);

// Test seam: lines go to this file instead (an empty path restores the
// default); rotation then happens at `rotateAt` bytes.
void SetTraceLogForTest(const std::wstring& path, unsigned long long rotateAt);

}  // namespace tarn
