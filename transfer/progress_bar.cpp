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

void DownloadProgressBar::Step() const
{
    if (bar_ != nullptr) {
        ::SendMessageW(bar_, PBM_STEPIT, 0, 0);
    }
}

}  // namespace tarn
