#pragma once
// The debug-text channel: single lines of diagnostic text handed to an
// outside debug viewer through the shared section "$$Tarnix_DebugOutputData$$"
// and the registered message "WM_TARNIX_DEBUG_TEXT_OUT". Without a viewer
// window nothing is written anywhere; a missing viewer is looked for again at
// most every two minutes. The section and its layout: support/debug_section.h.

#include <windows.h>

#include <mutex>

#include "support/clock.h"
#include "support/debug_section.h"

// Delivers a text to the debug viewer if one is running: leading line feeds
// skipped, trailing ones dropped, at most 16383 code units, then the viewer
// is notified and given up to 100 ms to take it. Null counts as empty.
void SendDebugText(const wchar_t* text);

// The process-wide mapping of the shared section, created and mapped on first
// use (capacity written, text cleared, also when the viewer made the section
// first) and kept until the process ends. Null while the section cannot be
// created or mapped; a later call tries again.
tarn::DebugBuffer* GetDebugBuffer();

// Waits until the viewer has taken the text (its first code unit is 0): 1
// then, 0 after the time-out. Time-outs above 1000 or below 10 ms mean
// 100 ms. Without a buffer: 0 at once.
int WaitForDebugReader(DWORD timeout);

namespace tarn {

// The sender's state: the viewer window cache (unknown, a window, or absent)
// and the time of the last cache check on `clock`. One process-wide instance
// serves SendDebugText; the platform calls are virtual so that tests can count
// or replace them.
class DebugSender {
public:
    explicit DebugSender(const Clock& clock = Clock()) : clock_(clock) {}
    virtual ~DebugSender() = default;
    DebugSender(const DebugSender&) = delete;
    DebugSender& operator=(const DebugSender&) = delete;

    // Delivers one text (null counts as empty) to the viewer, if there is one.
    void Send(const wchar_t* text);
    // Forgets what the last check found: the next Send looks for a viewer.
    void Recheck();

protected:
    virtual HWND FindViewer() { return ::FindWindowW(nullptr, kDebugWindowTitle); }
    virtual bool IsViewer(HWND window) { return ::IsWindow(window) != FALSE; }
    virtual DebugBuffer* Buffer();
    virtual void Notify(HWND viewer);
    virtual int WaitForReader(DWORD timeout);

private:
    const Clock clock_;
    std::mutex mutex_;
    bool started_ = false;
    ULONGLONG lastCheck_ = 0;
    HWND viewer_ = nullptr;  // null: unknown; kNoViewer: absent
    bool mayCreateBuffer_ = true;
    DebugBuffer* buffer_ = nullptr;
};

// Test seam: the process-wide sender of SendDebugText looks for a viewer at its
// next text, as after two minutes (a test starts its own viewer).
void RecheckDebugViewerForTest();

}  // namespace tarn
