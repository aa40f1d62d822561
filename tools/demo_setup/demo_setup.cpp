// The demo product's Setup.exe for scripts/run.sh: writes "Setup.started.txt"
// beside itself, then shows a window saying that it was started, from where,
// which product the install-starter file names and what lies beside it.

#include <windows.h>

#include <string>

namespace {

std::wstring OwnFolder()
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring path(buffer, length);
    return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring StarterKey()
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    wchar_t value[256] = {};
    ::GetPrivateProfileStringW(L"Setup", L"SetupStarter", L"(keiner)", value, 256,
                               (std::wstring(temp) + L"TarnInstallStarter.txt").c_str());
    return value;
}

// The files and folders directly in `folder`, with the file count below each folder.
std::wstring Listing(const std::wstring& folder, int depth)
{
    std::wstring text;
    WIN32_FIND_DATAW data{};
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return text;
    }
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        text += std::wstring(static_cast<size_t>(depth) * 4, L' ') + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            text += L"\\\n" + Listing(folder + L"\\" + name, depth + 1);
        } else {
            text += L"  (" + std::to_wstring(data.nFileSizeLow) + L" Bytes)\n";
        }
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return text;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const std::wstring folder = OwnFolder();
    HANDLE marker = ::CreateFileW((folder + L"\\Setup.started.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, 0, nullptr);
    if (marker != INVALID_HANDLE_VALUE) {
        ::CloseHandle(marker);
    }
    const std::wstring text = L"Das Demo-Setup wurde gestartet.\n\nOrdner: " + folder +
                              L"\nProdukt laut Startdatei: " + StarterKey() + L"\n\nGefunden:\n" +
                              Listing(folder, 0);
    ::MessageBoxW(nullptr, text.c_str(), L"Tarn Demo-Setup", MB_OK | MB_ICONINFORMATION);
    return 0;
}
