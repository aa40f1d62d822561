#pragma once
// The journal of touched files: for each file the time it was touched to and
// the times it had before. It is written before the first file is touched
// and removed once every file has its times back, so that a run killed in
// between has the times put back by the next run.

#include <windows.h>

#include <string>
#include <vector>

namespace tarn {

struct TouchRecord {
    std::wstring path;
    FILETIME touch{};  // all zeros: restore whatever time the file has now
    FILETIME creation{};
    FILETIME lastAccess{};
    FILETIME lastWrite{};
};

// Writes `records` to `journal` (a new file moved over the old one, so a
// reader sees the old or the new journal whole). False with a trace line.
bool WriteTouchJournal(const std::wstring& journal, const std::vector<TouchRecord>& records);

// The records of `journal`; none for a missing or unreadable journal.
std::vector<TouchRecord> ReadTouchJournal(const std::wstring& journal);

// Puts the times back on a file that still carries its touch time; a file
// written since keeps its new time, a missing file needs nothing. False
// (with a trace line) when the file is there but its times cannot be set.
bool RestoreTouchedTimes(const TouchRecord& record);

// Restores the files of a journal left by a killed run. The journal goes
// when every file is done; the records that could not be restored are
// returned (and the journal stays).
std::vector<TouchRecord> ReplayTouchJournal(const std::wstring& journal);

}  // namespace tarn
