#include "support/small_file.h"

#include <windows.h>

#include "support/trace.h"
#include "support/unique_handle.h"

namespace tarn {

bool ReadSmallFile(const std::wstring& path, size_t limit, std::string& bytes)
{
    bytes.clear();
    const UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            Trace(L"Cannot open %ls (error %lu)", path.c_str(), error);
        }
        return false;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 || static_cast<uint64_t>(size.QuadPart) > limit) {
        Trace(L"%ls cannot be sized or holds more than %llu bytes", path.c_str(),
              static_cast<unsigned long long>(limit));
        return false;
    }
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() && (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size())) {
        Trace(L"Reading %ls failed (error %lu)", path.c_str(), ::GetLastError());
        bytes.clear();
        return false;
    }
    return true;
}

}  // namespace tarn
