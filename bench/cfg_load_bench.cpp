// Prints how long the settings store takes to load, look up and change files
// of growing size: with sorted indexes the time per entry stays nearly flat
// (n log n); a quadratic index would show it growing with n.
//
//   cfg_load_bench.exe [largest entry count, default 160000]

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "config/store/cfg_reader.h"
#include "support/file_system.h"

namespace {

double Milliseconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end)
{
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now()
{
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now;
}

bool WriteAnsi(const std::wstring& path, const std::string& text)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok && written == text.size();
}

// One section of `count` keys, or `count` sections of one key, in shuffled order.
std::string MakeText(int count, bool manySections)
{
    std::vector<int> order(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        order[static_cast<size_t>(i)] = i;
    }
    std::shuffle(order.begin(), order.end(), std::mt19937(42u));
    std::string text = manySections ? "" : "[Big]\r\n";
    for (int i : order) {
        if (manySections) {
            text += "[Section" + std::to_string(i) + "]\r\nkey=" + std::to_string(i) + "\r\n";
        } else {
            text += "Key" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
        }
    }
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const int largest = argc > 1 ? std::max(1000, _wtoi(argv[1])) : 160000;
    UniqueTempFolder folder;
    if (folder.m_Folder.empty()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const std::wstring path = folder.m_Folder + L"\\bench.cfg";
    std::printf("%-9s %8s %10s %10s %10s %12s\n", "layout", "entries", "load ms", "us/entry", "lookup ms",
                "100 sets ms");
    for (const bool manySections : {false, true}) {
        for (int count = 10000; count <= largest; count *= 2) {
            if (!WriteAnsi(path, MakeText(count, manySections))) {
                std::fprintf(stderr, "cannot write %ls\n", path.c_str());
                return 1;
            }
            const LARGE_INTEGER loadStart = Now();
            CCfgReader store(path);
            const LARGE_INTEGER loadEnd = Now();
            int found = 0;
            std::wstring value;
            for (int i = 0; i < count; i += 10) {
                found += manySections ? store.GetValue(value, L"Section" + std::to_wstring(i), L"key")
                                      : store.GetValue(value, L"Big", L"Key" + std::to_wstring(i));
            }
            const LARGE_INTEGER lookupEnd = Now();
            // New keys near the start shift every later line number.
            for (int i = 0; i < 100; ++i) {
                store.SetValue(manySections ? L"Section1" : L"Big", L"New" + std::to_wstring(i), L"1");
            }
            const LARGE_INTEGER setEnd = Now();
            store.Get_m_HasChanged() = 0;
            const double loadMs = Milliseconds(loadStart, loadEnd);
            std::printf("%-9s %8d %10.1f %10.2f %10.1f %12.1f%s\n", manySections ? "sections" : "keys", count,
                        loadMs, 1000.0 * loadMs / count, Milliseconds(loadEnd, lookupEnd),
                        Milliseconds(lookupEnd, setEnd), found == (count + 9) / 10 ? "" : "  LOOKUPS FAILED");
        }
    }
    return 0;
}
