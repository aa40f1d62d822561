#include "support/file_write.h"

#include <algorithm>

namespace tarn {

bool WriteWhole(HANDLE file, const void* data, size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    for (size_t done = 0; done < size;) {
        const auto piece = static_cast<DWORD>(std::min<size_t>(size - done, kFileWritePiece));
        DWORD written = 0;
        if (!::WriteFile(file, bytes + done, piece, &written, nullptr)) {
            return false;
        }
        if (written != piece) {
            ::SetLastError(ERROR_DISK_FULL);
            return false;
        }
        done += piece;
    }
    return true;
}

}  // namespace tarn
