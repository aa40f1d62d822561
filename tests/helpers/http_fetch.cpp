// http_fetch.exe <once|get|retrying|package> <url> <destination> [options]
// Runs one of the download functions against a real server and prints what
// came of it, one "key=value" line each: result, destination, retry, position
// (the progress bar's final position, with --progress), cancelled and seconds.
// "package" runs tarn::FetchPackage; its result is the outcome's name.
//
// Options:
//   --attempts <n>      attempts of "get" (default 10)
//   --retry-flag <v>    hand "once" or "get" a retry flag starting at <v>
//   --progress          give the download a real progress bar control
//   --cancel-at <bytes> set the cancel flag once the destination file (or its
//                       partial download) holds at least that many bytes
//                       (the destination must be a file path)
//   --fast              short waits: 1.5 s stall deadline, 100 ms sleeps,
//                       3 stalls, 300 ms pauses, backing off from 20 ms to
//                       100 ms
//
// http_fetch.exe productlist <server root> <desktop copy> <download path>
// Consults the server product list for "Tarn_Gridwell_2023.exe" and prints
// the profile's baseUrl and productFolder.
//
// http_fetch.exe extract <cabinet> <folder>
// Extracts a cabinet with ExtractCabinetToList and prints its result.
//
// The end-to-end tests start it; nothing else does.

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "app/profile/product_profile.h"
#include "transfer/cab_extract.h"
#include "transfer/download_stream.h"
#include "transfer/http_download.h"

namespace {

struct Options {
    std::wstring mode;
    std::wstring url;
    std::wstring destination;
    int attempts = 10;
    bool hasRetryFlag = false;
    int retryFlag = 0;
    bool progress = false;
    long long cancelAt = -1;
    bool fast = false;
};

bool ParseOptions(int argc, wchar_t** argv, Options& options)
{
    if (argc < 4) {
        return false;
    }
    options.mode = argv[1];
    options.url = argv[2];
    options.destination = argv[3];
    for (int i = 4; i < argc; ++i) {
        const std::wstring option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == L"--attempts" && hasValue) {
            options.attempts = _wtoi(argv[++i]);
        } else if (option == L"--retry-flag" && hasValue) {
            options.hasRetryFlag = true;
            options.retryFlag = _wtoi(argv[++i]);
        } else if (option == L"--progress") {
            options.progress = true;
        } else if (option == L"--cancel-at" && hasValue) {
            options.cancelAt = _wtoi64(argv[++i]);
        } else if (option == L"--fast") {
            options.fast = true;
        } else {
            return false;
        }
    }
    return true;
}

long long FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int ConsultProductList(int argc, wchar_t** argv)
{
    if (argc != 5) {
        return 2;
    }
    tarn::ProductProfile profile = tarn::LookupProductProfile(L"D:\\Tarn_Gridwell_2023.exe", L"http://builtin");
    tarn::ConsultServerProductList(profile, argv[2], argv[3], argv[4]);
    std::wprintf(L"baseUrl=%ls\n", profile.baseUrl.c_str());
    std::wprintf(L"productFolder=%ls\n", profile.productFolder.c_str());
    return 0;
}

int Extract(int argc, wchar_t** argv)
{
    if (argc != 4) {
        return 2;
    }
    std::vector<std::wstring> files;
    std::wprintf(L"result=%d\n", ExtractCabinetToList(argv[2], argv[3], files));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc > 1 && std::wstring(argv[1]) == L"productlist") {
        return ConsultProductList(argc, argv);
    }
    if (argc > 1 && std::wstring(argv[1]) == L"extract") {
        return Extract(argc, argv);
    }
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fwprintf(stderr, L"usage: http_fetch <once|get|retrying> <url> <destination> [options]\n");
        return 2;
    }
    if (options.fast) {
        tarn::DownloadTiming timing;
        timing.stallDeadline = 1500;
        timing.readRetrySleep = 100;
        timing.stallSleep = 100;
        timing.maxStalls = 3;
        timing.passPause = 300;
        timing.cancelLook = 50;
        timing.backoffFirst = 20;
        timing.backoffLimit = 100;
        tarn::SetDownloadTiming(timing);
    }

    HWND bar = nullptr;
    if (options.progress) {
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS};
        ::InitCommonControlsEx(&controls);
        bar = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_POPUP, 0, 0, 200, 20, nullptr, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
    }

    int cancel = 0;
    std::atomic<bool> done{false};
    std::thread watcher;
    if (options.cancelAt >= 0) {
        watcher = std::thread([&] {
            while (!done) {
                // A verified body is written beside the destination first.
                if (std::max(FileSize(options.destination), FileSize(options.destination + L".partial")) >=
                    options.cancelAt) {
                    // A plain int, as the callers own it; the transfer reads it between chunks.
                    reinterpret_cast<volatile int&>(cancel) = 1;
                    return;
                }
                ::Sleep(10);
            }
        });
    }

    int retry = options.retryFlag;
    int* retryFlag = options.hasRetryFlag ? &retry : nullptr;
    int result = 0;
    tarn::FetchOutcome outcome = tarn::FetchOutcome::Failed;
    LARGE_INTEGER frequency{};
    LARGE_INTEGER start{};
    LARGE_INTEGER end{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    if (options.mode == L"once") {
        result = HttpGetFileOnce(options.url, options.destination, bar, &cancel, retryFlag);
    } else if (options.mode == L"get") {
        result = HttpGetFile(options.url, options.destination, bar, &cancel, retryFlag, options.attempts);
    } else if (options.mode == L"retrying") {
        result = HttpGetFileRetrying(options.url, options.destination, bar, &cancel);
    } else if (options.mode == L"package") {
        outcome = tarn::FetchPackage(options.url, options.destination, bar, &cancel);
    } else {
        return 2;
    }
    ::QueryPerformanceCounter(&end);
    done = true;
    if (watcher.joinable()) {
        watcher.join();
    }

    if (options.mode == L"package") {
        const wchar_t* names[] = {L"stored", L"failed", L"refused", L"missing", L"given up"};
        std::wprintf(L"result=%ls\n", names[static_cast<int>(outcome)]);
    } else {
        std::wprintf(L"result=%d\n", result);
    }
    std::wprintf(L"destination=%ls\n", options.destination.c_str());
    if (retryFlag != nullptr) {
        std::wprintf(L"retry=%d\n", retry);
    }
    if (bar != nullptr) {
        std::wprintf(L"position=%d\n", static_cast<int>(::SendMessageW(bar, PBM_GETPOS, 0, 0)));
    }
    std::wprintf(L"cancelled=%d\n", cancel);
    std::wprintf(L"seconds=%.3f\n", static_cast<double>(end.QuadPart - start.QuadPart) /
                                        static_cast<double>(frequency.QuadPart));
    return 0;
}
