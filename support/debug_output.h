#pragma once
// The debug-text channel: single lines of diagnostic text handed to an
// outside debug viewer through the shared section "$$Tarnix_DebugOutputData$$"
// and the registered message "WM_TARNIX_DEBUG_TEXT_OUT". Without a viewer
// window nothing is written anywhere; a missing viewer is looked for again at
// most every two minutes.
//
// Section layout: 8 bytes capacity in UTF-16 code units (always 16384,
// little-endian), then 16384 UTF-16 code units of text ending with a 0 code
// unit. A first code unit of 0 means the viewer has taken the text.

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "support/unique_handle.h"

namespace tarn {

inline constexpr wchar_t kDebugSectionName[] = L"$$Tarnix_DebugOutputData$$";
inline constexpr wchar_t kDebugWindowTitle[] = L"Tarnix Debug Output Window";
inline constexpr wchar_t kDebugMessageName[] = L"WM_TARNIX_DEBUG_TEXT_OUT";
inline constexpr uint64_t kDebugCapacity = 16384;
inline constexpr DWORD kDebugSectionSize = 8 + 2 * static_cast<DWORD>(kDebugCapacity);
// Milliseconds between two looks for a missing or vanished viewer.
inline constexpr DWORD kDebugViewerCheckInterval = 120000;

// The process's mapping of the shared section.
struct DebugBuffer {
    UniqueKernelHandle mapping;
    UniqueMappedView view;
    uint64_t capacity = kDebugCapacity;
    std::wstring name;
    wchar_t* text = nullptr;  // the text field of the mapped view
};

// The sender's state: the viewer window cache (unknown, a window, or absent)
// and the time of the last cache check. One process-wide instance serves
// SendDebugText; the platform calls are virtual so that tests can count or
// replace them.
class DebugSender {
public:
    DebugSender() = default;
    virtual ~DebugSender() = default;
    DebugSender(const DebugSender&) = delete;
    DebugSender& operator=(const DebugSender&) = delete;

    // Delivers one text (null counts as empty) to the viewer, if there is one.
    void Send(const wchar_t* text);
    // Forgets what the last check found: the next Send looks for a viewer.
    void Recheck();

protected:
    virtual DWORD Now() { return ::GetTickCount(); }
    virtual HWND FindViewer() { return ::FindWindowW(nullptr, kDebugWindowTitle); }
    virtual bool IsViewer(HWND window) { return ::IsWindow(window) != FALSE; }
    virtual DebugBuffer* Buffer();
    virtual void Notify(HWND viewer);
    virtual int WaitForReader(DWORD timeout);

private:
    std::mutex mutex_;
    bool started_ = false;
    DWORD lastCheck_ = 0;
    HWND viewer_ = nullptr;  // null: unknown; kNoViewer: absent
    bool mayCreateBuffer_ = true;
    DebugBuffer* buffer_ = nullptr;
};

// Test seam: the process-wide sender of SendDebugText looks for a viewer at its
// next text, as after two minutes (a test starts its own viewer).
void RecheckDebugViewerForTest();

}  // namespace tarn

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
