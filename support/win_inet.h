#pragma once
// WinInet, loaded at run time from the system folder (see system_library.h).
// The table's members carry the names of the library's functions and are
// called the same way: tarn::GetWinInet().InternetOpenW(...).

#include <windows.h>
#include <wininet.h>

namespace tarn {

struct WinInet {
    decltype(&::InternetOpenW) InternetOpenW = nullptr;
    decltype(&::InternetConnectW) InternetConnectW = nullptr;
    decltype(&::InternetCrackUrlW) InternetCrackUrlW = nullptr;
    decltype(&::InternetSetOptionW) InternetSetOptionW = nullptr;
    decltype(&::InternetReadFile) InternetReadFile = nullptr;
    decltype(&::InternetCloseHandle) InternetCloseHandle = nullptr;
    decltype(&::HttpOpenRequestW) HttpOpenRequestW = nullptr;
    decltype(&::HttpSendRequestW) HttpSendRequestW = nullptr;
    decltype(&::HttpQueryInfoW) HttpQueryInfoW = nullptr;
    decltype(&::InternetCombineUrlW) InternetCombineUrlW = nullptr;
    decltype(&::InternetQueryOptionW) InternetQueryOptionW = nullptr;
    decltype(&::InternetErrorDlg) InternetErrorDlg = nullptr;
    // True when every entry point above is the library's own.
    bool loaded = false;
};

// The table, loaded on first use (thread-safe) and kept for the process.
// When the library or an entry point is missing, the affected calls fail
// with ERROR_PROC_NOT_FOUND.
const WinInet& GetWinInet();

}  // namespace tarn
