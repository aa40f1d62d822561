// download_bench.exe record <file>
//   Writes the file-info record beside <file> with WriteFileInfo, as the
//   packing modes do for a published cabinet, and prints the time it took.
// download_bench.exe run <program> <url> <folder>
//   Starts <program> in its single-file mode (DownloadFile="<url>"
//   ToFolder="<folder>"), waits for it and prints its wall time in seconds
//   and its peak working set in MiB, polled while it runs.
// download_bench.exe sha256 <file>
//   Hashes <file> with the program's SHA-256 and prints its pace in MB/s:
//   the ceiling of a download whose record states a SHA-256.
// scripts/bench-download.sh runs them beside curl on the same file.

#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <string>

#include "support/sha256.h"
#include "transfer/file_info.h"

namespace {

double Seconds(LARGE_INTEGER start, LARGE_INTEGER end)
{
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int WriteRecord(const wchar_t* file)
{
    LARGE_INTEGER start{};
    LARGE_INTEGER end{};
    ::QueryPerformanceCounter(&start);
    const int written = WriteFileInfo(file);
    ::QueryPerformanceCounter(&end);
    std::printf("record_written=%d\nrecord_seconds=%.3f\n", written, Seconds(start, end));
    return written ? 0 : 1;
}

int HashFile(const wchar_t* file)
{
    LARGE_INTEGER start{};
    LARGE_INTEGER end{};
    ::QueryPerformanceCounter(&start);
    const bool hashed = !tarn::FileSha256Hex(file).empty();
    ::QueryPerformanceCounter(&end);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExW(file, GetFileExInfoStandard, &data);
    const double bytes = static_cast<double>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    std::printf("sha256_mbps=%.1f\n", bytes / Seconds(start, end) / 1e6);
    return hashed ? 0 : 1;
}

int RunProgram(const wchar_t* program, const wchar_t* url, const wchar_t* folder)
{
    std::wstring commandLine = std::wstring(L"\"") + program + L"\" DownloadFile=\"" + url + L"\" ToFolder=\"" +
                               folder + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    LARGE_INTEGER start{};
    LARGE_INTEGER end{};
    ::QueryPerformanceCounter(&start);
    if (!::CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        std::printf("error=cannot start the program (%lu)\n", ::GetLastError());
        return 1;
    }
    ::CloseHandle(process.hThread);
    SIZE_T peak = 0;
    for (;;) {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof(counters);
        if (::GetProcessMemoryInfo(process.hProcess, &counters, sizeof(counters))) {
            peak = counters.PeakWorkingSetSize > peak ? counters.PeakWorkingSetSize : peak;
        }
        if (::WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0) {
            break;
        }
    }
    ::QueryPerformanceCounter(&end);
    ::CloseHandle(process.hProcess);
    std::printf("program_seconds=%.3f\npeak_working_set_mib=%.1f\n", Seconds(start, end),
                static_cast<double>(peak) / (1024.0 * 1024.0));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"record" && argc == 3) {
        return WriteRecord(argv[2]);
    }
    if (mode == L"sha256" && argc == 3) {
        return HashFile(argv[2]);
    }
    if (mode == L"run" && argc == 5) {
        return RunProgram(argv[2], argv[3], argv[4]);
    }
    std::fprintf(stderr, "usage: download_bench record <file> | sha256 <file> | run <program> <url> <folder>\n");
    return 2;
}
