#pragma once
// Fills the product profile's cache without the unreachable server: an empty
// product list on the desktop stands in for the server's while the first
// call runs, and is removed again (a list the user put there is left alone).

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "app/profile/product_profile.h"

namespace tarn::test {

inline void ResolveProductProfileOffline()
{
    PWSTR desktop = nullptr;
    if (FAILED(::SHGetKnownFolderPath(FOLDERID_Desktop, KF_FLAG_CREATE, nullptr, &desktop))) {
        GetProductProfile();
        return;
    }
    const std::wstring list = std::wstring(desktop) + L"\\Tarnix_Software.txt";
    ::CoTaskMemFree(desktop);
    const HANDLE file = ::CreateFileW(list.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                      nullptr);
    GetProductProfile();
    if (file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(file);
        ::DeleteFileW(list.c_str());
    }
}

}  // namespace tarn::test
