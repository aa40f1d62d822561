// Speed of the file checksum: the folded form against the byte-at-a-time
// form on the same data in memory, the file road (GetFileCrc) against a plain
// read of the same file. Prints MB/s (10^6 bytes per second), best of a few
// runs each, and checks that every road gives the same checksum.
//
// crc_bench <file> [runs]

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "config/text/file_crc.h"
#include "support/unique_handle.h"

namespace {

constexpr DWORD kPiece = 4u << 20;

double Seconds()
{
    static const double frequency = [] {
        LARGE_INTEGER f{};
        ::QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / frequency;
}

// Time the calling thread has spent running, in seconds. The machine is shared,
// so the in-memory forms are also measured by their own CPU time.
double ThreadSeconds()
{
    FILETIME creation{};
    FILETIME exit{};
    FILETIME kernel{};
    FILETIME user{};
    ::GetThreadTimes(::GetCurrentThread(), &creation, &exit, &kernel, &user);
    const auto ticks = [](const FILETIME& t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 1e7;
}

struct Rate {
    double wall = 0; // MB/s by the clock
    double cpu = 0;  // MB/s by the calling thread's CPU time
};

// Best throughput of `runs` calls of `work` over `bytes` bytes.
Rate BestRate(int runs, uint64_t bytes, const std::function<void()>& work)
{
    Rate best;
    const double megabytes = static_cast<double>(bytes) / 1e6;
    for (int i = 0; i < runs; ++i) {
        const double start = Seconds();
        const double startCpu = ThreadSeconds();
        work();
        const double wall = Seconds() - start;
        const double cpu = ThreadSeconds() - startCpu;
        best.wall = std::max(best.wall, megabytes / wall);
        if (cpu > 0) {
            best.cpu = std::max(best.cpu, megabytes / cpu);
        }
    }
    return best;
}

// Reads the whole file in pieces, into `target` when given; the bytes read.
uint64_t ReadWholeFile(const wchar_t* path, unsigned char* target)
{
    tarn::UniqueFileHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        return 0;
    }
    std::unique_ptr<unsigned char[]> scratch;
    if (!target) {
        scratch = std::make_unique<unsigned char[]>(kPiece);
    }
    uint64_t total = 0;
    DWORD read = 0;
    while (::ReadFile(file.Get(), target ? target + total : scratch.get(), kPiece, &read, nullptr) && read > 0) {
        total += read;
    }
    return total;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: crc_bench <file> [runs]\n");
        return 2;
    }
    const wchar_t* path = argv[1];
    const int runs = argc > 2 ? _wtoi(argv[2]) : 3;
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &info)) {
        fprintf(stderr, "cannot open %ls\n", path);
        return 1;
    }
    const uint64_t size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    auto data = std::make_unique<unsigned char[]>(size);
    if (ReadWholeFile(path, data.get()) != size) {
        fprintf(stderr, "cannot read %ls\n", path);
        return 1;
    }

    uint32_t folded = 0;
    uint32_t bytewise = 0;
    uint32_t fromFile = 0;
    const Rate read = BestRate(runs, size, [&] { ReadWholeFile(path, nullptr); });
    const Rate file = BestRate(runs, size, [&] { fromFile = GetFileCrc(path); });
    const Rate fold = BestRate(runs, size, [&] { folded = tarn::UpdateFileCrc(0, data.get(), size); });
    const Rate single = BestRate(runs, size, [&] { bytewise = tarn::UpdateFileCrcBytewise(0, data.get(), size); });

    printf("data: %llu bytes, best of %d runs; MB/s by the clock (by the thread's CPU time)\n",
           static_cast<unsigned long long>(size), runs);
    printf("checksum in memory, byte at a time : %8.1f MB/s (%8.1f)\n", single.wall, single.cpu);
    printf("checksum in memory, 16 bytes a step: %8.1f MB/s (%8.1f)  %.2f x byte at a time (%.2f x)\n", fold.wall,
           fold.cpu, fold.wall / single.wall, fold.cpu / single.cpu);
    printf("plain file read (4 MiB pieces)     : %8.1f MB/s\n", read.wall);
    printf("GetFileCrc on the file             : %8.1f MB/s            %.2f x plain read, %.2f x in memory\n",
           file.wall, file.wall / read.wall, file.wall / fold.wall);
    printf("checksums: %08X %08X %08X\n", folded, bytewise, fromFile);
    if (folded != bytewise || fromFile != bytewise) {
        printf("MISMATCH\n");
        return 1;
    }
    return 0;
}
