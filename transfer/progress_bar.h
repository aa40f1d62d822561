#pragma once
// The caller's progress bar as a download drives it: a common-controls bar
// set to the range 0..1000 with a step of 1 when an attempt starts, stepped
// once per 1/990 of the expected size. All the bar's messages are sent here.
//
// The bar belongs to the dialog's thread, so every message is a synchronous
// cross-thread call that waits for the bar to repaint (about 1.5 ms under
// Wine). Steps are therefore gathered and sent as one move at most every
// kRepaintInterval; the bar ends where single steps would have left it.

#include <windows.h>

#include "support/clock.h"

namespace tarn {

class DownloadProgressBar {
public:
    static constexpr ULONGLONG kRepaintInterval = 30;

    // `bar` may be null: then nothing is shown.
    explicit DownloadProgressBar(HWND bar, Clock clock = Clock()) : bar_(bar), clock_(clock) {}
    ~DownloadProgressBar() { Flush(); }
    DownloadProgressBar(const DownloadProgressBar&) = delete;
    DownloadProgressBar& operator=(const DownloadProgressBar&) = delete;

    // Range 0..1000, position 0, step 1.
    void Start() const;
    // One step; sent at once when the last move is a repaint interval old.
    void Step();
    // Sends the steps gathered since the last move.
    void Flush();

private:
    HWND bar_;
    Clock clock_;
    int pending_ = 0;
    ULONGLONG lastMove_ = 0;
    bool moved_ = false;
};

}  // namespace tarn
