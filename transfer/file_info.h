#pragma once
// File-info records: the small settings file beside a published file that
// states its size and checksums, section "FileInfo" with "FileSize", "CRC"
// and "SHA256" (64 hexadecimal digits; records written before it lack it).
// The download reads the server's record to size its progress bar and verify
// the body; the single-file mode compares records byte for byte.

#include <cstdint>
#include <string>
#include <string_view>

// Writes (or rewrites, keeping its other lines) the record, with size, CRC
// and SHA-256 of the file's bytes, beside
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
    int64_t size = -1;          // > 0 when known: a body of another length is refused
    uint32_t checksum = 0;      // 0: nothing to verify
    std::string sha256;         // lowercase; empty: nothing to verify
    bool pinned = false;        // size and SHA-256 come from a signed manifest
    bool unavailable = false;   // the record could not be fetched or read: try again later
    bool notStorable = false;   // with `unavailable`: no file for it here; no later attempt can help
    bool unverifiable = false;  // a record is required, but the server has none with a checksum
};

// Reads a record file: a positive "FileSize" (the store's saturating
// integer), a non-empty "CRC" read as a signed decimal saturating at the
// 32-bit limits and a non-empty "SHA256" (lowercased; a value that is not
// 64 hexadecimal digits is kept as it is and so matches no body). A missing
// or unreadable record gives nothing.
ExpectedFile ReadFileInfo(const std::wstring& recordPath);

// Reads a fetched record strictly: true when section "FileInfo" gives a
// "FileSize" or a "CRC" and each one given is a decimal integer (blanks
// around it allowed). An empty file, an HTML page or garbage is no record.
bool ParseFileInfo(const std::wstring& recordPath, ExpectedFile& expected);

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

// Pins what a record says to what a signed manifest says (`pinned`: size
// and SHA-256). False when the record contradicts the manifest (another size
// or SHA-256); otherwise `record` takes the manifest's size and SHA-256 and
// keeps its checksum, and is marked pinned.
bool PinToManifest(ExpectedFile& record, const ExpectedFile& pinned);

// Whether a file may be taken without a record.
enum class RecordNeed {
    Optional,  // files in general: only a URL with an extension has a record
    Required,  // the installer's packages: every one, whatever its name
};

// Fetches the record of the file at `url` from the server (3 attempts,
// backing off) into a temporary file of its own, deleted once read, and
// reads it. Only an answer 404 or 410 means that the server has no record:
// that gives nothing to verify, or `unverifiable` when the record is
// required. Every other failure (no answer, another error status, an HTML
// page, an empty or unparsable record, a temporary file that cannot be made)
// gives `unavailable`, so that the body is never taken unverified. A
// required record without a checksum gives `unverifiable`.
ExpectedFile LookUpFileInfo(std::wstring_view url, RecordNeed need = RecordNeed::Optional);

}  // namespace tarn
