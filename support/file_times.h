#pragma once
// File times: touching files to a fixed time of the month, and putting their
// previous times back.

#include <windows.h>

#include <string>
#include <vector>

#include "support/sorted_array.h"
#include "support/touch_journal.h"

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
// destroyed (a file edited meanwhile keeps its new time). With a `journal`
// path, the files of a journal a killed run left there get their times back
// first, and the records are written there before the first file is
// touched; the journal goes when every file has its times back.
class CTempTouchFiles : public CSortedPtrArray<CTempTouchFile> {
public:
    explicit CTempTouchFiles(const std::vector<std::wstring>& files, std::wstring journal = std::wstring());
    ~CTempTouchFiles();
    CTempTouchFiles(const CTempTouchFiles&) = delete;
    CTempTouchFiles& operator=(const CTempTouchFiles&) = delete;

private:
    std::wstring journal_;
    std::vector<tarn::TouchRecord> left_;  // of an earlier journal, still to restore
};

namespace tarn {

// The local time that touched files get for a given local date: the day
// itself on the first or last day of a month, else the 15th or the 1st, each
// at 01:00:00.
SYSTEMTIME GetTouchLocalTime(const SYSTEMTIME& localToday);

}  // namespace tarn
