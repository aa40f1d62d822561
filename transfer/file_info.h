#pragma once
// File-info records: the small settings file beside a published file that
// states its size and checksum, section "FileInfo" with "FileSize" and "CRC".
// The download reads the server's record to size its progress bar and verify
// the body; the single-file mode compares records byte for byte.

#include <cstdint>
#include <string>
#include <string_view>

// Writes (or rewrites, keeping its other lines) the record beside
// `dataFile`, named by its path cut at the last '.' of its last component
// plus ".fileinfo.txt", and gives it the data file's three file times.
// Returns the save's result: 0 as well for an empty path, a missing file or
// folder, and a file name without '.'.
int WriteFileInfo(const wchar_t* dataFile);

namespace tarn {

// WriteFileInfo with the size and checksum already known (taken in the same
// read that checked the file), so the file is not read again.
int WriteFileInfoWith(const wchar_t* dataFile, int64_t size, uint32_t checksum);

// What a record says about its file.
struct ExpectedFile {
    int64_t size = -1;         // > 0 when known: a body of another length is refused
    uint32_t checksum = 0;     // 0: nothing to verify
    bool unavailable = false;  // the server has a record that could not be fetched
};

// Reads a record file: a positive "FileSize" (the store's saturating
// integer) and a non-empty "CRC" read as a signed decimal saturating at the
// 32-bit limits. A missing or unreadable record gives nothing.
ExpectedFile ReadFileInfo(const std::wstring& recordPath);

// A record fetched from the server for one run: the temporary file
// "<temp>\<stem>_<tick count>.fileinfo.txt", made new (the count goes up
// until the name is free, so runs side by side never share one) and deleted
// with the object.
class TemporaryRecord {
public:
    explicit TemporaryRecord(std::wstring_view stem);
    ~TemporaryRecord();
    TemporaryRecord(const TemporaryRecord&) = delete;
    TemporaryRecord& operator=(const TemporaryRecord&) = delete;

    // Empty when no file could be made.
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
};

// Fetches the record of the file at `url` from the server (10 attempts)
// into a temporary file of its own, deleted once read, and reads it. Nothing
// when the URL's last segment has no '.' or the server answers that it has
// no record; `unavailable` when the record could not be fetched otherwise
// (a lost connection, a stall), so that the body is never taken unverified.
ExpectedFile LookUpFileInfo(std::wstring_view url);

}  // namespace tarn
