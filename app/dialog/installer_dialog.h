#pragma once
// The installer dialog: the product picture with a status line, a progress
// bar and a cancel button, and the worker thread that runs the
// download-and-install sequence behind it.

#include <windows.h>

#include <memory>
#include <functional>
#include <string>

#include "app/install/install_result.h"
#include "app/install/install_view.h"
#include "app/dialog/scaled_background.h"
#include "app/dialog/win_dialog.h"
#include "app/dialog/worker_link.h"

class CTarn_Gridwell_20xxDlg : public CDialog, public tarn::InstallView {
public:
    // What the worker thread runs; its result is ignored.
    using WorkerRoutine = std::function<int(tarn::InstallView& view)>;

    // The name the control-position record and its companions are found by.
    static constexpr wchar_t kClassName[] = L"CTarn_Gridwell_20xxDlg";

    // Loads the product picture for the screen scale; no window exists yet.
    CTarn_Gridwell_20xxDlg(HWND parent, std::wstring installDataFolder, WorkerRoutine worker);
    ~CTarn_Gridwell_20xxDlg() override;

    std::wstring InstallDataFolder() const override;
    // Synchronous: returns once the status line shows the text; nothing
    // happens once the dialog window is gone.
    void SetStatusText(const std::wstring& text) override;
    HWND ProgressBar() const override;

    // True while the worker thread still runs (after a cancel, say).
    bool WorkerRunning() const;

    // Test seam: the interval of the timer that closes the dialog on its
    // second tick after the worker's end (one second); before DoModal.
    void SetTickForTest(UINT milliseconds) { m_TickMs = milliseconds; }

    // True once the dialog closed itself after the worker's end (false after
    // the user ended it).
    bool ClosedAfterWorker() const { return m_ClosedAfterWorker; }

protected:
    bool OnInitDialog() override;
    void OnTimer(UINT_PTR id) override;
    bool OnPaint() override;
    HBRUSH OnCtlColor(UINT message, HDC dc, HWND control) override;
    bool OnDrawItem(const DRAWITEMSTRUCT& item) override;
    HICON OnQueryDragIcon() override;
    void OnDestroy() override;

private:
    static DWORD WINAPI InstallWorkerThread(void* parameter);

    // Shared with the worker, which may outlive the dialog object when the
    // user cancels: the worker reaches the dialog only through it.
    std::shared_ptr<tarn::WorkerLink> m_Link;
    int m_EndSeen = 0;
    bool m_ClosedAfterWorker = false;
    UINT_PTR m_TimerId = 0;
    UINT m_TickMs = 1000;
    tarn::UniqueKernelHandle m_WorkerThread;
    HICON m_hIcon = nullptr;
    CMyScaledBackground m_Picture;
    WorkerRoutine m_Worker;
};

namespace tarn {

// Identifier of the dialog's one-second timer.
inline constexpr UINT_PTR kWorkerTimerId = 1234321;

struct InstallerDialogEnd {
    bool cancelled = false;   // the user ended the dialog
    bool workerRuns = false;  // ... while the worker still runs: the process must end at once
    InstallResult result;     // the sequence's result when it ran to its end
};

// Constructs the dialog, shows it modally until the worker has ended or the
// user cancelled, and destroys it. The worker first fills the product
// profile (which may fetch the server product list) behind the open dialog,
// then runs the sequence. Start-up's default mode calls it.
InstallerDialogEnd RunInstallerDialog(bool testDownload);

}  // namespace tarn
