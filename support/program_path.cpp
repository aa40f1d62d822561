#include "support/program_path.h"

#include <atomic>

#include "support/path_text.h"

namespace tarn {

namespace {

std::atomic<HINSTANCE> g_processInstance{nullptr};

}  // namespace

void SetProcessInstance(HINSTANCE instance)
{
    g_processInstance = instance;
}

HINSTANCE GetProcessInstance()
{
    HINSTANCE instance = g_processInstance;
    return instance ? instance : ::GetModuleHandleW(nullptr);
}

std::wstring GetProgramPath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(GetProcessInstance(), path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring GetProgramFolder()
{
    return FolderOf(GetProgramPath());
}

}  // namespace tarn
