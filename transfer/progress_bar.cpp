#include "transfer/progress_bar.h"

#include <commctrl.h>

#include "transfer/download_stream.h"

namespace tarn {

void DownloadProgressBar::Start() const
{
    if (bar_ != nullptr) {
        ::SendMessageW(bar_, PBM_SETRANGE, 0, MAKELPARAM(0, kProgressRange));
        ::SendMessageW(bar_, PBM_SETPOS, 0, 0);
        ::SendMessageW(bar_, PBM_SETSTEP, 1, 0);
    }
}

void DownloadProgressBar::Step()
{
    if (bar_ == nullptr) {
        return;
    }
    ++pending_;
    if (!moved_ || clock_.now() - lastMove_ >= kRepaintInterval) {
        Flush();
    }
}

void DownloadProgressBar::Flush()
{
    if (bar_ == nullptr || pending_ == 0) {
        return;
    }
    ::SendMessageW(bar_, PBM_DELTAPOS, static_cast<WPARAM>(pending_), 0);
    pending_ = 0;
    lastMove_ = clock_.now();
    moved_ = true;
}

}  // namespace tarn
