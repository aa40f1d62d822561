#pragma once
// Questions about files by name: existence, sizes, the exact spelling of a
// name. A null or empty path is answered with failure without touching the disk.

#include <cstdint>
#include <string>

// 1 for an existing file that is not a folder. With `isFolder` given: 1 for any
// existing file or folder, and *isFolder tells which. Wildcards are allowed
// (the first match decides). A path starting with "\\", "X:", ".\" or "..\"
// that ends with one backslash is tested without it. Shorter than 2: 0.
int FileExists(const wchar_t* path, int* isFolder = nullptr);

// Low 32 bits of the size of the first match, or -1 when nothing matches.
int GetFileSizeByName(const wchar_t* path);

// Replaces the last component of `path` by the spelling the file system
// reports for it. 0 when nothing matches or the path holds no backslash.
int GetExactFileName(std::wstring& path);

namespace tarn {

// The full size in bytes of the file or folder entry `path` names (no
// wildcards), or -1 when there is none. GetFileSizeByName keeps only the low
// 32 bits, as its callers store them; deciding whether a file is empty or
// small needs the whole size.
int64_t GetFileSize64(const wchar_t* path);

// True for the errors of a write that found no room on its volume.
bool IsDiskFullError(unsigned long error);

}  // namespace tarn
