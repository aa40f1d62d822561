#include "support/win_inet.h"

#include "support/system_library.h"

namespace {

tarn::WinInet LoadWinInet()
{
    tarn::WinInet api;
    const HMODULE module = tarn::LoadSystemLibrary(L"wininet.dll");
    bool all = true;
    all &= tarn::BindEntryPoint(module, "InternetOpenW", api.InternetOpenW);
    all &= tarn::BindEntryPoint(module, "InternetConnectW", api.InternetConnectW);
    all &= tarn::BindEntryPoint(module, "InternetCrackUrlW", api.InternetCrackUrlW);
    all &= tarn::BindEntryPoint(module, "InternetSetOptionW", api.InternetSetOptionW);
    all &= tarn::BindEntryPoint(module, "InternetReadFile", api.InternetReadFile);
    all &= tarn::BindEntryPoint(module, "InternetCloseHandle", api.InternetCloseHandle);
    all &= tarn::BindEntryPoint(module, "HttpOpenRequestW", api.HttpOpenRequestW);
    all &= tarn::BindEntryPoint(module, "HttpSendRequestW", api.HttpSendRequestW);
    all &= tarn::BindEntryPoint(module, "HttpQueryInfoW", api.HttpQueryInfoW);
    all &= tarn::BindEntryPoint(module, "InternetCombineUrlW", api.InternetCombineUrlW);
    all &= tarn::BindEntryPoint(module, "InternetQueryOptionW", api.InternetQueryOptionW);
    all &= tarn::BindEntryPoint(module, "InternetErrorDlg", api.InternetErrorDlg);
    api.loaded = all;
    return api;
}

}  // namespace

namespace tarn {

const WinInet& GetWinInet()
{
    static const WinInet api = LoadWinInet();
    return api;
}

}  // namespace tarn
