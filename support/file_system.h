#pragma once
// File-system helpers that the rest of the program uses instead of calling the
// platform directly. Every function tolerates a null or empty path and then
// reports failure (0, -1 or an empty text) without touching the disk.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/sorted_array.h"

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

// The user's temporary folder without its trailing backslash.
std::wstring GetTempFolder();

// Creates a folder and any missing parents. 1 when the folder exists at the
// end (or the path names an existing file); 0 for paths shorter than 3.
int CreateFolderPath(const wchar_t* path);

// Creates the folder part of a file path; 0 when it holds no backslash.
int CreateFolderOfFile(const wchar_t* path);

// Lists files below a folder, recursively. `start` is a folder or a folder
// followed by a pattern ("C:\x\*.cab"); the pattern also filters the folders
// descended into. Paths go into `files` (and folders into `folders`) at their
// sorted place, case-insensitively and without duplicates; a new file's local
// last-write time and low 32 bits of its size go into `times` and `sizes` at
// the same index. A time that cannot be converted is stored as all zeros.
// Returns 1 when at least one file was added.
int ListFiles(const wchar_t* start, std::vector<std::wstring>& files,
              std::vector<std::wstring>* folders = nullptr, std::vector<SYSTEMTIME>* times = nullptr,
              std::vector<uint32_t>* sizes = nullptr);

// A UTC file time as local date and time; all zeros when it cannot be
// converted (a time beyond the platform's range never aborts a listing).
SYSTEMTIME FileTimeToLocalOrZero(const FILETIME& utc);

// Copies one file over another. An empty source deletes the target instead.
// An existing read-only target is replaced; the target ends with normal
// attributes. Returns 1 on success.
int CopyFileKeepAttributes(const wchar_t* source, const wchar_t* target);

// A file name "<folder>\_Tarn_Temp_File<ext>" or "..._(n)<ext>" that is free
// (absent or deletable), created empty when `create` is nonzero. An empty
// extension means ".dwg"; an empty folder means "<temp>\_Tarn_Temp"; a
// relative folder lies below the temporary folder. Empty when none is found.
std::wstring GetUniqueTempFile(const wchar_t* folder, const wchar_t* extension, int create);
std::wstring GetUniqueTempFile(const wchar_t* extension, int create);

// A new, empty folder below the temporary folder, named after the local time
// and the tick count, removed with everything in it when the object goes
// (links inside it are removed, never followed).
struct UniqueTempFolder {
    UniqueTempFolder();
    ~UniqueTempFolder();
    UniqueTempFolder(const UniqueTempFolder&) = delete;
    UniqueTempFolder& operator=(const UniqueTempFolder&) = delete;

    int m_Remove = 1;        // 0 keeps the folder at destruction
    std::wstring m_Folder;   // the folder; empty when none could be created
    std::wstring m_TempBase; // the temporary folder it lies in
};

// Removes every file and sub-folder below `folder`, keeping the folder
// itself; folder links and junctions inside it are removed as links, never
// followed, and the current folder is never changed. 1 when everything was
// removed, also for a missing folder; 0 for a folder that is itself a link
// and for a path that is not a full one.
int EmptyFolder(const wchar_t* folder);

// The local time that touched files get for a given local date: the day
// itself on the first or last day of a month, else the 15th or the 1st, each
// at 01:00:00.
SYSTEMTIME GetTouchLocalTime(const SYSTEMTIME& localToday);

// Sets creation, last-access and last-write time of each existing file to the
// touch time of today. Files that cannot be opened are skipped. Returns the
// number of files touched.
int TouchFiles(const std::vector<std::wstring>& files);

// One touched file: the times it had before, put back on destruction.
class CTempTouchFile {
public:
    explicit CTempTouchFile(const std::wstring& fileName);
    ~CTempTouchFile();
    CTempTouchFile(const CTempTouchFile&) = delete;
    CTempTouchFile& operator=(const CTempTouchFile&) = delete;

    std::wstring m_FileName; // empty when the file did not exist
    FILETIME m_CreationTime{};
    FILETIME m_LastAccessTime{};
    FILETIME m_LastWriteTime{};
};

// Records the times of each existing file, touches them all, and restores
// every recorded file's times when destroyed.
class CTempTouchFiles : public CSortedPtrArray<CTempTouchFile> {
public:
    explicit CTempTouchFiles(const std::vector<std::wstring>& files);
};
