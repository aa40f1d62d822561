#pragma once
// Rewriting a whole file so that no failure can destroy it: the new bytes go
// to a new file beside it, are flushed to disk, and then take the old file's
// place, keeping its attributes. A full disk or a short write thus leaves the
// old file whole.

#include <string>
#include <string_view>

namespace tarn {

// Writes `bytes` as the whole content of `path` (created when missing).
// When another program holds the file open without allowing it to be
// replaced, the file is rewritten in place instead, opened shared for
// reading and writing; it is first grown to the new size, so a full disk
// fails before any byte of the old content changes. A read-only file or a
// folder is refused. False, with the cause in GetLastError and a trace line,
// when the file could not be written; the old content is then unchanged.
bool WriteFileReplacing(const std::wstring& path, std::string_view bytes);

}  // namespace tarn
