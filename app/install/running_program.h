#pragma once
// A program file that a process still runs: the platform refuses to replace
// it, so an unpacking leaves it as it is, and the installer must not start a
// second copy of it.

#include <string>

struct CabExtractContext;

namespace tarn {

// True when a process that this one may query runs the program file `path`
// (a full path; letter case ignored).
bool IsProgramRunning(const std::wstring& path);

// After an unpacking that did not complete: true when the cabinet was read
// through and `path` is the one file of it that was not written.
bool OnlyFileNotWritten(const CabExtractContext& context, const std::wstring& path);

}  // namespace tarn
