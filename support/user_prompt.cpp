#include "support/user_prompt.h"

#include <atomic>

namespace {

std::atomic<bool> g_mayAsk{true};

BOOL CALLBACK FindOwnWindow(HWND window, LPARAM parameter)
{
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process != ::GetCurrentProcessId() || !::IsWindowVisible(window)) {
        return TRUE;
    }
    *reinterpret_cast<HWND*>(parameter) = window;
    return FALSE;
}

}  // namespace

namespace tarn {

void SetMayAskUser(bool may)
{
    g_mayAsk = may;
}

HWND QuestionOwner()
{
    if (!g_mayAsk) {
        return nullptr;
    }
    HWND owner = nullptr;
    ::EnumWindows(FindOwnWindow, reinterpret_cast<LPARAM>(&owner));
    return owner;
}

}  // namespace tarn
