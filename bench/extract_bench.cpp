// extract_bench.exe <cabinet> <target folder> [own|setup]
// Unpacks a cabinet with the installer's extraction (the own reader, or
// the setup library) and prints one line of figures: files, unpacked bytes,
// seconds of the extraction call and MB/s (10^6 bytes per second of
// unpacked data). The target folder should not exist yet. Exit code 0 when
// the extraction reported success.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "transfer/cab_extract.h"

namespace {

uint64_t FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3 || argc > 4 || (argc == 4 && std::wcscmp(argv[3], L"own") != 0 && std::wcscmp(argv[3], L"setup") != 0)) {
        std::fwprintf(stderr, L"usage: extract_bench <cabinet> <target folder> [own|setup]\n");
        return 2;
    }
    const tarn::CabExtractMethod method = argc == 4 && std::wcscmp(argv[3], L"setup") == 0
                                              ? tarn::CabExtractMethod::SetupLibrary
                                              : tarn::CabExtractMethod::OwnReader;
    LARGE_INTEGER frequency{};
    LARGE_INTEGER start{};
    LARGE_INTEGER end{};
    ::QueryPerformanceFrequency(&frequency);

    std::vector<std::wstring> files;
    ::QueryPerformanceCounter(&start);
    const int result = ExtractCabinetToList(argv[1], argv[2], files, method);
    ::QueryPerformanceCounter(&end);

    uint64_t bytes = 0;
    for (const std::wstring& file : files) {
        bytes += FileSize(file);
    }
    const double seconds =
        static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    std::printf("result=%d files=%zu bytes=%llu seconds=%.3f mbps=%.1f\n", result, files.size(),
                static_cast<unsigned long long>(bytes), seconds,
                seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0.0);
    return result == 1 ? 0 : 1;
}
