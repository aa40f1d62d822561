#pragma once
// Every message box of the program goes through ShowMessageBox, so that a
// headless run (tests, build machines) can answer it instead of a user.

#include <windows.h>

#include <string>

namespace tarn {

using MessageBoxHandler = int (*)(HWND owner, const std::wstring& text, const std::wstring& caption,
                                  UINT type);

// Shows a message box (or asks the installed handler) and returns the button
// pressed, like MessageBoxW.
int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type);

// Installs a handler in place of the real message box; null restores it.
// Returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

}  // namespace tarn
