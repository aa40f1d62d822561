#pragma once
// The installer dialog's side that its worker thread holds.

#include <windows.h>

#include <atomic>
#include <string>
#include <utility>

#include "app/install/install_view.h"

namespace tarn {

// What the worker holds of the dialog: the installation data folder and the
// two controls' handles, which the dialog clears before its window goes.
// Sending to a handle read just before that is harmless: a message to a
// window that no longer exists fails.
class WorkerLink : public InstallView {
public:
    static constexpr DWORD kNoWorker = 0xFFFFFFFF;

    explicit WorkerLink(std::wstring folder) : folder_(std::move(folder)) {}

    std::wstring InstallDataFolder() const override { return folder_; }

    void SetStatusText(const std::wstring& text) override
    {
        if (const HWND status = status_.load(); status != nullptr) {
            ::SendMessageW(status, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        }
    }

    HWND ProgressBar() const override { return progress_.load(); }

    void Connect(HWND status, HWND progress)
    {
        status_.store(status);
        progress_.store(progress);
    }

    void Disconnect() { Connect(nullptr, nullptr); }

    // The worker thread's identifier while it runs; kNoWorker before it
    // exists and after it has ended.
    std::atomic<DWORD> workerState{kNoWorker};

private:
    const std::wstring folder_;
    std::atomic<HWND> status_{nullptr};
    std::atomic<HWND> progress_{nullptr};
};

}  // namespace tarn
