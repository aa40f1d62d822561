#pragma once
// Removing files and folder trees without following links. A folder link or junction
// met inside a tree is removed as a link; what it points to is never
// touched. Only full paths are used, and the process's current folder is
// never changed: parallel jobs of the process share it.

#include <cstddef>
#include <string>

namespace tarn {

// Removes every file and folder below `folder` (a full path without trailing
// backslash) and, with `removeFolder`, the folder itself. Read-only files are
// made writable first. Returns the number of entries that could not be
// removed (each one leaves a trace line); a missing folder gives 0, a name
// that cannot be looked at 1. A folder
// that is itself a link is neither emptied nor removed (1).
size_t RemoveFolderTree(const std::wstring& folder, bool removeFolder);

// Deletes the file at `path` when there is one (a link is deleted as a
// link). True when no file is there afterwards, also for an empty path;
// false, with a trace line and the cause in GetLastError, when one stays.
bool DeleteFileIfPresent(const std::wstring& path);

}  // namespace tarn
