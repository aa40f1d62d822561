#pragma once
// What the download-and-install worker sees of the installer dialog: the
// installation data folder, the status line and the progress bar. The dialog
// implements it; tests give the worker a view of their own.

#include <windows.h>

#include <string>

namespace tarn {

class InstallView {
public:
    virtual ~InstallView() = default;

    // The folder the packages are unpacked into (set before the worker
    // starts, never changed).
    virtual std::wstring InstallDataFolder() const = 0;

    // Sets the status line. Called from the worker thread; the text reaches
    // the control as a synchronous window message, and does nothing once the
    // window is gone.
    virtual void SetStatusText(const std::wstring& text) = 0;

    // The progress bar the downloads drive (null: no progress shown).
    virtual HWND ProgressBar() const = 0;
};

}  // namespace tarn
