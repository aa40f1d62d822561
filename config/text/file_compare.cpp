#include "config/text/file_compare.h"

#include <windows.h>

#include <cstring>
#include <memory>

#include "support/path_text.h"
#include "support/unique_handle.h"

namespace {

// Both files are compared in pieces, so large packages never sit in memory
// whole; the comparison ends at the first piece that differs.
constexpr DWORD kPieceSize = 1u << 20;

tarn::UniqueFileHandle OpenForReading(const wchar_t* fileName)
{
    if (tarn::IsEmptyText(fileName)) {
        return tarn::UniqueFileHandle();
    }
    return tarn::UniqueFileHandle(::CreateFileW(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

bool ReadExactly(HANDLE file, unsigned char* buffer, DWORD count)
{
    DWORD read = 0;
    return ::ReadFile(file, buffer, count, &read, nullptr) && read == count;
}

}  // namespace

int CompareFiles(const wchar_t* fileName1, const wchar_t* fileName2, int64_t& order)
{
    order = -1;
    const tarn::UniqueFileHandle first = OpenForReading(fileName1);
    const tarn::UniqueFileHandle second = OpenForReading(fileName2);
    if (!first || !second) {
        return 0;
    }
    LARGE_INTEGER size1{};
    LARGE_INTEGER size2{};
    if (!::GetFileSizeEx(first.Get(), &size1) || !::GetFileSizeEx(second.Get(), &size2)) {
        return 0;
    }
    if (size1.QuadPart != size2.QuadPart) {
        if (size2.QuadPart < size1.QuadPart) {
            order = 1;
        }
        return 0;
    }
    int sign = 0;
    try {
        auto buffer1 = std::make_unique<unsigned char[]>(kPieceSize);
        auto buffer2 = std::make_unique<unsigned char[]>(kPieceSize);
        for (int64_t left = size1.QuadPart; left > 0 && sign == 0;) {
            const DWORD count = static_cast<DWORD>(left < kPieceSize ? left : kPieceSize);
            if (!ReadExactly(first.Get(), buffer1.get(), count) || !ReadExactly(second.Get(), buffer2.get(), count)) {
                return 0;
            }
            const int result = memcmp(buffer1.get(), buffer2.get(), count);
            sign = (result > 0) - (result < 0);
            left -= count;
        }
    } catch (const std::bad_alloc&) {
        return 0;
    }
    order = sign;
    return sign == 0 ? 1 : 0;
}
