#pragma once
// File times: touching files to a fixed time of the month, and putting their
// previous times back.

#include <windows.h>

#include <string>
#include <vector>

#include "support/sorted_array.h"

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
    FILETIME m_TouchTime{};  // what it was touched to; a file that no longer has it is not restored
};

// Records the times of each existing file, touches them all, and restores
// the times of every recorded file that still carries the touch time when
// destroyed (a file edited meanwhile keeps its new time).
class CTempTouchFiles : public CSortedPtrArray<CTempTouchFile> {
public:
    explicit CTempTouchFiles(const std::vector<std::wstring>& files);
};

namespace tarn {

// The local time that touched files get for a given local date: the day
// itself on the first or last day of a month, else the 15th or the 1st, each
// at 01:00:00.
SYSTEMTIME GetTouchLocalTime(const SYSTEMTIME& localToday);

}  // namespace tarn
