#include "support/file_times.h"

#include "support/file_system_internal.h"
#include "support/name_compare.h"
#include "support/unique_handle.h"
#include "support/trace.h"

using namespace tarn::fs;

namespace {

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) {
        return 31;
    }
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool GetTouchFileTime(FILETIME& result)
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    const SYSTEMTIME local = tarn::GetTouchLocalTime(now);
    TIME_ZONE_INFORMATION zone{};
    ::GetTimeZoneInformation(&zone);
    SYSTEMTIME utc{};
    return ::TzSpecificLocalTimeToSystemTime(&zone, &local, &utc) &&
           ::SystemTimeToFileTime(&utc, &result);
}

tarn::UniqueFileHandle OpenForTimes(const std::wstring& path)
{
    return tarn::UniqueFileHandle(::CreateFileW(path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

namespace tarn {

SYSTEMTIME GetTouchLocalTime(const SYSTEMTIME& localToday)
{
    SYSTEMTIME touch{};
    touch.wYear = localToday.wYear;
    touch.wMonth = localToday.wMonth;
    touch.wHour = 1;
    const int day = localToday.wDay;
    const bool firstOrLast = day == 1 || day == DaysInMonth(localToday.wYear, localToday.wMonth);
    if (firstOrLast) {
        touch.wDay = localToday.wDay;
    } else {
        touch.wDay = static_cast<WORD>(day >= 15 ? 15 : 1);
    }
    // The weekday follows from the date; compute it through a FILETIME round trip.
    FILETIME file{};
    SYSTEMTIME normalized{};
    if (::SystemTimeToFileTime(&touch, &file) && ::FileTimeToSystemTime(&file, &normalized)) {
        return normalized;
    }
    return touch;
}

}  // namespace tarn

namespace {

int TouchFilesAt(const std::vector<std::wstring>& files, const FILETIME& touch)
{
    int touched = 0;
    for (const std::wstring& path : files) {
        tarn::UniqueFileHandle file = OpenForTimes(path);
        if (file && ::SetFileTime(file.Get(), &touch, &touch, &touch)) {
            ++touched;
        }
    }
    return touched;
}

}  // namespace

int TouchFiles(const std::vector<std::wstring>& files)
{
    FILETIME touch{};
    return GetTouchFileTime(touch) ? TouchFilesAt(files, touch) : 0;
}

CTempTouchFile::CTempTouchFile(const std::wstring& fileName)
{
    if (fileName.empty()) {
        return;
    }
    // A query by path: under Wine a find opens and reads the folder instead.
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(fileName.c_str(), GetFileExInfoStandard, &data)) {
        return;
    }
    m_FileName = fileName;
    m_CreationTime = data.ftCreationTime;
    m_LastAccessTime = data.ftLastAccessTime;
    m_LastWriteTime = data.ftLastWriteTime;
}

namespace {

tarn::TouchRecord RecordOf(const CTempTouchFile& file)
{
    return {file.m_FileName, file.m_TouchTime, file.m_CreationTime, file.m_LastAccessTime, file.m_LastWriteTime};
}

}  // namespace

CTempTouchFile::~CTempTouchFile()
{
    // A file written during the run carries a time of its own: it keeps it.
    if (!m_FileName.empty()) {
        tarn::RestoreTouchedTimes(RecordOf(*this));
    }
}

CTempTouchFiles::CTempTouchFiles(const std::vector<std::wstring>& files, std::wstring journal)
    : journal_(std::move(journal))
{
    if (!journal_.empty()) {
        left_ = tarn::ReplayTouchJournal(journal_);
    }
    const auto byName = [](const std::unique_ptr<CTempTouchFile>& element, const std::wstring& name) {
        return tarn::CompareNoCase(element->m_FileName, name) < 0;
    };
    for (const std::wstring& name : files) {
        auto record = std::make_unique<CTempTouchFile>(name);
        if (record->m_FileName.empty()) {
            continue;
        }
        // One record per file: a name listed twice must not be restored twice.
        const size_t index = LowerBound(record->m_FileName, byName);
        if (index < GetSize() && tarn::EqualsNoCase((*this)[index]->m_FileName, record->m_FileName)) {
            continue;
        }
        // A file that a killed run left touched has its true times in its journal.
        for (auto left = left_.begin(); left != left_.end(); ++left) {
            if (tarn::EqualsNoCase(left->path, record->m_FileName)) {
                record->m_CreationTime = left->creation;
                record->m_LastAccessTime = left->lastAccess;
                record->m_LastWriteTime = left->lastWrite;
                left_.erase(left);
                break;
            }
        }
        InsertAt(index, std::move(record));
    }
    FILETIME touch{};
    if (GetTouchFileTime(touch)) {
        std::vector<tarn::TouchRecord> journaled = left_;
        for (const auto& record : *this) {
            record->m_TouchTime = touch;
            journaled.push_back(RecordOf(*record));
        }
        if (!journal_.empty()) {
            tarn::WriteTouchJournal(journal_, journaled);
        }
        TouchFilesAt(files, touch);
    }
}

CTempTouchFiles::~CTempTouchFiles()
{
    bool restored = left_.empty();
    for (const auto& record : *this) {
        restored = tarn::RestoreTouchedTimes(RecordOf(*record)) && restored;
        record->m_FileName.clear();  // done: its own destructor leaves it
    }
    // A journal with a file still to restore stays for the next run.
    if (!journal_.empty() && restored && !::DeleteFileW(journal_.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
        tarn::Trace(L"the journal of touched files %ls cannot be removed (error %lu)", journal_.c_str(),
                    ::GetLastError());
    }
}
