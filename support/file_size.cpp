#include "support/file_size.h"

#include <windows.h>

namespace tarn {

int64_t GetFileSize64(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (path == nullptr || path[0] == L'\0' || !::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) {
        return -1;
    }
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

}  // namespace tarn
