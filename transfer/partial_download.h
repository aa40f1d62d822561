#pragma once
// A body that an attempt could not finish, kept so that the next attempt,
// or the next run, continues it with a range request instead of starting
// again. The bytes lie in "<destination>.partial" beside the destination,
// never under the destination's own name, so that nothing takes them for the
// file; "<destination>.partial.state" names the URL they came from and the
// validator (ETag or Last-Modified) of that answer. Both go once the body is
// verified, or when it cannot be continued.

#include <windows.h>

#include <cstdint>
#include <string>

#include "support/unique_handle.h"

namespace tarn {

// Puts the file pointer of `file` at `size` and makes that the file's end,
// unless the file already ends there. A file is never cut to the length it
// has: Wine does that by writing a byte and cutting it off again, and ext4
// writes out at close, at disk speed, every file that was cut to nothing
// (its guard for files replaced by truncation), which a downloaded file
// then pays for at the end of every fetch.
bool CutFileAt(HANDLE file, int64_t size);

class PartialDownload {
public:
    explicit PartialDownload(const std::wstring& destination);

    const std::wstring& DataPath() const { return data_; }

    // The bytes kept for `url` that a range request may continue from, with
    // the validator for its If-Range; 0 when nothing is kept for that URL.
    int64_t Kept(const std::wstring& url, std::wstring& validator) const;

    // Opens the kept bytes for writing at `offset` (0 empties them), held
    // without write sharing, and records `url` and `validator` for them
    // (without a validator nothing can be continued and no state is kept).
    // Invalid when the file cannot be had (GetLastError tells why).
    HANDLE Open(int64_t offset, const std::wstring& url, const std::wstring& validator);

    // Releases the file. Kept when it holds bytes that can be continued
    // (true), also when this object never opened it; else deleted with its
    // state.
    bool Suspend();
    // Releases the file and deletes it and its state.
    void Drop();
    // Puts the verified bytes in the destination's place, replacing it, and
    // deletes the state. False (with a trace) when that fails; nothing is
    // kept then.
    bool MoveTo(const std::wstring& destination);

private:
    std::wstring data_;
    std::wstring state_;
    UniqueFileHandle file_;
};

}  // namespace tarn
