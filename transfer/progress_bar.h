#pragma once
// The caller's progress bar as a download drives it: a common-controls bar
// set to the range 0..1000 with a step of 1 when an attempt starts, stepped
// once per 1/990 of the expected size. All the bar's messages are sent here.

#include <windows.h>

namespace tarn {

class DownloadProgressBar {
public:
    // `bar` may be null: then nothing is shown.
    explicit DownloadProgressBar(HWND bar) : bar_(bar) {}

    // Range 0..1000, position 0, step 1.
    void Start() const;
    void Step() const;

private:
    HWND bar_;
};

}  // namespace tarn
