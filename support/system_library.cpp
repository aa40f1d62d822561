#include "support/system_library.h"

#include <string>

#include "support/trace.h"

namespace tarn {

HMODULE LoadSystemLibrary(const wchar_t* name)
{
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        Trace(L"The system folder is unknown; %ls is not loaded (error %lu)", name, ::GetLastError());
        return nullptr;
    }
    const std::wstring path = std::wstring(folder, length) + L"\\" + name;
    const HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) {
        Trace(L"Cannot load %ls (error %lu)", path.c_str(), ::GetLastError());
    }
    return module;
}

}  // namespace tarn
