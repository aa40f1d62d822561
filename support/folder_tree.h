#pragma once
// Folder trees: creating folders with their parents, listing files below a
// folder, emptying a folder. A null or empty path reports failure without
// touching the disk.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Creates a folder and any missing parents. 1 when the folder exists at the
// end (or the path names an existing file); 0 for paths shorter than 3.
int CreateFolderPath(const wchar_t* path);

// Creates the folder part of a file path; 0 when it holds no backslash.
int CreateFolderOfFile(const wchar_t* path);

// Lists files below a folder, recursively; folder links and junctions are
// not followed. `start` is a folder or a folder
// followed by a pattern ("C:\x\*.cab"); the pattern also filters the folders
// descended into. Paths go into `files` (and folders into `folders`) at their
// sorted place, case-insensitively and without duplicates; a new file's local
// last-write time and low 32 bits of its size go into `times` and `sizes` at
// the same index. A time that cannot be converted is stored as all zeros.
// Returns 1 when at least one file was added.
int ListFiles(const wchar_t* start, std::vector<std::wstring>& files,
              std::vector<std::wstring>* folders = nullptr, std::vector<SYSTEMTIME>* times = nullptr,
              std::vector<uint32_t>* sizes = nullptr);

// Removes every file and sub-folder below `folder`, keeping the folder
// itself. 1 when everything was removed.
int EmptyFolder(const wchar_t* folder);

namespace tarn {

// ListFiles without the optional outputs, naming what it leaves out: for two
// paths that differ only in letter case (a case-sensitive share) the listed
// one and the left-out one are appended to `twins`, in that order.
int ListFilesNamingTwins(const wchar_t* start, std::vector<std::wstring>& files, std::vector<std::wstring>& twins);

// A UTC file time as local date and time; all zeros when it cannot be
// converted (a time beyond the platform's range never aborts a listing).
SYSTEMTIME FileTimeToLocalOrZero(const FILETIME& utc);

}  // namespace tarn
