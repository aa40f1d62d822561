#include "support/touch_journal.h"

#include <cwchar>

#include "support/text_format.h"
#include "support/trace.h"
#include "support/unique_handle.h"

namespace {

// One line a record: five fields separated by tabs, the path last, in
// UTF-16 so that every name survives.
std::wstring HexTime(const FILETIME& time)
{
    return tarn::FormatText(L"%08lx%08lx", time.dwHighDateTime, time.dwLowDateTime);
}

bool ParseTime(const std::wstring& text, FILETIME& time)
{
    if (text.size() != 16 || text.find_first_not_of(L"0123456789abcdef") != std::wstring::npos) {
        return false;
    }
    time.dwHighDateTime = static_cast<DWORD>(std::wcstoul(text.substr(0, 8).c_str(), nullptr, 16));
    time.dwLowDateTime = static_cast<DWORD>(std::wcstoul(text.substr(8).c_str(), nullptr, 16));
    return true;
}

bool IsZero(const FILETIME& time)
{
    return time.dwLowDateTime == 0 && time.dwHighDateTime == 0;
}

}  // namespace

namespace tarn {

bool WriteTouchJournal(const std::wstring& journal, const std::vector<TouchRecord>& records)
{
    std::wstring text;
    for (const TouchRecord& record : records) {
        text += HexTime(record.touch) + L"\t" + HexTime(record.creation) + L"\t" + HexTime(record.lastAccess) + L"\t" +
                HexTime(record.lastWrite) + L"\t" + record.path + L"\n";
    }
    const std::wstring incoming = journal + L".new";
    bool written = false;
    {
        const UniqueFileHandle file(::CreateFileW(incoming.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD done = 0;
        const DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        written = file && ::WriteFile(file.Get(), text.data(), size, &done, nullptr) && done == size &&
                  ::FlushFileBuffers(file.Get());
    }
    if (!written ||
        !::MoveFileExW(incoming.c_str(), journal.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = ::GetLastError();
        ::DeleteFileW(incoming.c_str());
        Trace(L"the journal of touched files %ls cannot be written (error %lu)", journal.c_str(), error);
        return false;
    }
    return true;
}

std::vector<TouchRecord> ReadTouchJournal(const std::wstring& journal)
{
    std::vector<TouchRecord> records;
    const UniqueFileHandle file(::CreateFileW(journal.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart > (64 << 20)) {
        return records;
    }
    std::wstring text(static_cast<size_t>(size.QuadPart) / sizeof(wchar_t), L'\0');
    DWORD done = 0;
    const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (!::ReadFile(file.Get(), text.data(), bytes, &done, nullptr) || done != bytes) {
        return records;
    }
    for (size_t start = 0, end = 0; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
        const std::wstring line = text.substr(start, end - start);
        TouchRecord record;
        FILETIME* const times[] = {&record.touch, &record.creation, &record.lastAccess, &record.lastWrite};
        size_t at = 0;
        bool whole = true;
        for (FILETIME* time : times) {
            const size_t tab = line.find(L'\t', at);
            whole = whole && tab != std::wstring::npos && ParseTime(line.substr(at, tab - at), *time);
            at = whole ? tab + 1 : line.size();
        }
        record.path = line.substr(at);
        // A line cut short by a full disk or a kill is no record.
        if (whole && record.path.size() > 2) {
            records.push_back(std::move(record));
        }
    }
    return records;
}

bool RestoreTouchedTimes(const TouchRecord& record)
{
    if (::GetFileAttributesW(record.path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    const UniqueFileHandle file(::CreateFileW(record.path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    FILETIME written{};
    if (file && !IsZero(record.touch) && ::GetFileTime(file.Get(), nullptr, nullptr, &written) &&
        ::CompareFileTime(&written, &record.touch) != 0) {
        Trace(L"file %ls no longer carries the touch time: it keeps its time", record.path.c_str());
        return true;
    }
    if (!file || !::SetFileTime(file.Get(), &record.creation, &record.lastAccess, &record.lastWrite)) {
        Trace(L"file %ls cannot get its times back (error %lu)", record.path.c_str(), ::GetLastError());
        return false;
    }
    return true;
}

std::vector<TouchRecord> ReplayTouchJournal(const std::wstring& journal)
{
    std::vector<TouchRecord> left;
    if (::GetFileAttributesW(journal.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return left;
    }
    Trace(L"a killed run left the journal of touched files %ls: its files get their times back", journal.c_str());
    for (const TouchRecord& record : ReadTouchJournal(journal)) {
        if (!RestoreTouchedTimes(record)) {
            left.push_back(record);
        }
    }
    if (left.empty() && !::DeleteFileW(journal.c_str())) {
        Trace(L"the journal of touched files %ls cannot be removed (error %lu)", journal.c_str(), ::GetLastError());
    }
    return left;
}

}  // namespace tarn
