#include "support/message_box.h"

#include <atomic>

namespace tarn {

namespace {

std::atomic<MessageBoxHandler> g_handler{nullptr};

}  // namespace

int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type)
{
    if (MessageBoxHandler handler = g_handler) {
        return handler(owner, text, caption, type);
    }
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(), type);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    return g_handler.exchange(handler);
}

}  // namespace tarn
