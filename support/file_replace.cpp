#include "support/file_replace.h"

#include <windows.h>

#include "support/text_format.h"
#include "support/trace.h"
#include "support/unique_handle.h"

namespace {

// Attributes a replacement carries over from the file it replaces.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool WriteAll(HANDLE file, std::string_view bytes)
{
    DWORD written = 0;
    return bytes.empty() ||
           (::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size());
}

bool SetSize(HANDLE file, LONGLONG size)
{
    LARGE_INTEGER position{};
    position.QuadPart = size;
    return ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

enum class Outcome { Written, WriteFailed, NotReplaced };

// Writes the bytes into a new file beside `path` and puts it in its place.
// WriteFailed: the new file could not be written (nothing else is tried, the
// disk is full or failing); NotReplaced: it could not be made or could not
// take the old file's place (another program holds it, or the folder takes
// no new files).
Outcome WriteBeside(const std::wstring& path, DWORD attributes, std::string_view bytes)
{
    const std::wstring sibling = tarn::FormatText(L"%ls.%lx-%lx.new", path.c_str(), ::GetCurrentProcessId(),
                                                  ::GetCurrentThreadId());
    // A leftover of a killed run goes first; deleting a link removes the link only.
    ::DeleteFileW(sibling.c_str());
    const DWORD kept = attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes & kKeptAttributes;
    tarn::UniqueFileHandle file(::CreateFileW(sibling.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                              kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return Outcome::NotReplaced;
    }
    if (!WriteAll(file.Get(), bytes) || !::FlushFileBuffers(file.Get())) {
        const DWORD error = ::GetLastError();
        file.Reset();
        ::DeleteFileW(sibling.c_str());
        tarn::Trace(L"Cannot write %ls (error %lu)", sibling.c_str(), error);
        ::SetLastError(error);
        return Outcome::WriteFailed;
    }
    file.Reset();
    const BOOL replaced =
        attributes == INVALID_FILE_ATTRIBUTES
            ? ::MoveFileExW(sibling.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
            : ::ReplaceFileW(path.c_str(), sibling.c_str(), nullptr,
                             REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr);
    if (!replaced) {
        const DWORD error = ::GetLastError();
        ::DeleteFileW(sibling.c_str());
        ::SetLastError(error);
        return Outcome::NotReplaced;
    }
    return Outcome::Written;
}

// Rewrites `path` in place, shared for reading and writing: grown to the
// new size first, then written from its start and cut at the new end.
bool WriteInPlace(const std::wstring& path, std::string_view bytes)
{
    tarn::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    LARGE_INTEGER oldSize{};
    if (!::GetFileSizeEx(file.Get(), &oldSize)) {
        return false;
    }
    const auto newSize = static_cast<LONGLONG>(bytes.size());
    if (newSize > oldSize.QuadPart && (!SetSize(file.Get(), newSize) || !::FlushFileBuffers(file.Get()))) {
        const DWORD error = ::GetLastError();
        SetSize(file.Get(), oldSize.QuadPart);
        ::SetLastError(error);
        return false;
    }
    LARGE_INTEGER start{};
    return ::SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN) && WriteAll(file.Get(), bytes) &&
           ::SetEndOfFile(file.Get()) && ::FlushFileBuffers(file.Get());
}

}  // namespace

namespace tarn {

bool WriteFileReplacing(const std::wstring& path, std::string_view bytes)
{
    if (path.empty() || bytes.size() > MAXDWORD) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        Trace(L"Cannot write %ls: read-only or a folder (attributes 0x%lx)", path.c_str(), attributes);
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    const Outcome outcome = WriteBeside(path, attributes, bytes);
    if (outcome == Outcome::Written) {
        return true;
    }
    if (outcome == Outcome::NotReplaced && WriteInPlace(path, bytes)) {
        return true;
    }
    const DWORD error = ::GetLastError();
    Trace(L"Cannot write %ls (error %lu)", path.c_str(), error);
    ::SetLastError(error);
    return false;
}

}  // namespace tarn
