#include "support/file_system.h"

#include <algorithm>

#include "support/folder_removal.h"
#include "support/name_compare.h"
#include "support/text_format.h"
#include "support/unique_handle.h"

namespace {

bool IsEmpty(const wchar_t* path)
{
    return path == nullptr || path[0] == L'\0';
}

// Any file-system entry, file or folder, without wildcard matching.
bool EntryExists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsDotEntry(const WIN32_FIND_DATAW& data)
{
    return wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0;
}

bool IsFolderEntry(const WIN32_FIND_DATAW& data)
{
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Paths that may carry a trailing backslash which FindFirstFileW would refuse.
bool HasStrippablePrefix(const std::wstring& path)
{
    if (path.rfind(L"\\\\", 0) == 0 || path.rfind(L".\\", 0) == 0 || path.rfind(L"..\\", 0) == 0) {
        return true;
    }
    return path.size() >= 2 && path[1] == L':' && iswalpha(path[0]);
}

std::wstring StripOneTrailingBackslash(std::wstring path)
{
    if (!path.empty() && path.back() == L'\\') {
        path.pop_back();
    }
    return path;
}

// Inserts `path` at its sorted place; returns the index, or -1 when an equal
// path is already present.
ptrdiff_t InsertSortedUnique(std::vector<std::wstring>& sorted, const std::wstring& path)
{
    bool found = false;
    const size_t index = tarn::LowerBoundNoCase(sorted, path, &found);
    if (found) {
        return -1;
    }
    sorted.insert(sorted.begin() + static_cast<ptrdiff_t>(index), path);
    return static_cast<ptrdiff_t>(index);
}

void ListFolder(const std::wstring& folder, const std::wstring& pattern, std::vector<std::wstring>& files,
                std::vector<std::wstring>* folders, std::vector<SYSTEMTIME>* times,
                std::vector<uint32_t>* sizes)
{
    if (folders) {
        InsertSortedUnique(*folders, StripOneTrailingBackslash(folder));
    }
    const std::wstring search = folder + pattern;
    WIN32_FIND_DATAW data{};
    {
        tarn::UniqueFindHandle find(::FindFirstFileW(search.c_str(), &data));
        if (!find) {
            return;
        }
        do {
            if (IsDotEntry(data) || IsFolderEntry(data)) {
                continue;
            }
            const ptrdiff_t index = InsertSortedUnique(files, folder + data.cFileName);
            if (index < 0) {
                continue;
            }
            if (times) {
                times->insert(times->begin() + index, FileTimeToLocalOrZero(data.ftLastWriteTime));
            }
            if (sizes) {
                sizes->insert(sizes->begin() + index, data.nFileSizeLow);
            }
        } while (::FindNextFileW(find.Get(), &data));
    }

    // The pattern filters the folders that are descended into as well.
    std::vector<std::wstring> subfolders;
    {
        tarn::UniqueFindHandle find(::FindFirstFileW(search.c_str(), &data));
        if (!find) {
            return;
        }
        do {
            if (!IsDotEntry(data) && IsFolderEntry(data)) {
                subfolders.push_back(folder + data.cFileName + L"\\");
            }
        } while (::FindNextFileW(find.Get(), &data));
    }
    for (const std::wstring& subfolder : subfolders) {
        ListFolder(subfolder, pattern, files, folders, times, sizes);
    }
}

bool SetNormalAttributes(const wchar_t* path)
{
    return ::SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL) != FALSE;
}

bool CopyReplacing(const wchar_t* source, const wchar_t* target)
{
    SetNormalAttributes(target);
    return ::CopyFileW(source, target, FALSE) != FALSE;
}

const wchar_t kTempFileBase[] = L"_Tarn_Temp_File";

// Picks the folder in which GetUniqueTempFile looks for a free name; empty
// when there is none.
std::wstring ResolveTempFileFolder(std::wstring folder, int depth = 0)
{
    if (depth > 4) {
        return std::wstring();
    }
    if (folder.size() <= 1) {
        return ResolveTempFileFolder(GetTempFolder() + L"\\_Tarn_Temp", depth + 1);
    }
    const bool isUnc = folder.rfind(L"\\\\", 0) == 0;
    const bool hasDrive = folder[1] == L':';
    if ((folder.size() == 2 && hasDrive) || (isUnc && folder.size() >= 5)) {
        return folder;
    }
    if (!isUnc && !hasDrive) {
        const std::wstring temp = GetTempFolder();
        CreateFolderPath(temp.c_str());
        if (!IsFolder(temp)) {
            return std::wstring();
        }
        return ResolveTempFileFolder(temp + (folder[0] == L'\\' ? L"" : L"\\") + folder, depth + 1);
    }
    if (folder.back() == L'\\') {
        folder.pop_back();
        return ResolveTempFileFolder(folder, depth + 1);
    }
    if (!EntryExists(folder)) {
        CreateFolderPath(folder.c_str());
    }
    if (IsFolder(folder)) {
        return folder;
    }
    const std::wstring temp = GetTempFolder();
    CreateFolderPath(temp.c_str());
    return IsFolder(temp) ? temp : std::wstring();
}

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
    const SYSTEMTIME local = GetTouchLocalTime(now);
    TIME_ZONE_INFORMATION zone{};
    ::GetTimeZoneInformation(&zone);
    SYSTEMTIME utc{};
    return ::TzSpecificLocalTimeToSystemTime(&zone, &local, &utc) &&
           ::SystemTimeToFileTime(&utc, &result);
}

tarn::UniqueFileHandle OpenForTimes(const std::wstring& path)
{
    return tarn::UniqueFileHandle(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

int FileExists(const wchar_t* path, int* isFolder)
{
    if (isFolder) {
        *isFolder = 0;
    }
    if (IsEmpty(path) || path[1] == L'\0') {
        return 0;
    }
    std::wstring name(path);
    const size_t length = name.size();
    if (HasStrippablePrefix(name) && name[length - 1] == L'\\' && name[length - 2] != L'\\' &&
        name[length - 2] != L':') {
        name.pop_back();
    }
    WIN32_FIND_DATAW data{};
    tarn::UniqueFindHandle find(::FindFirstFileW(name.c_str(), &data));
    if (!find) {
        return 0;
    }
    if (IsFolderEntry(data)) {
        if (!isFolder) {
            return 0;
        }
        *isFolder = 1;
    }
    return 1;
}

int GetFileSizeByName(const wchar_t* path)
{
    if (IsEmpty(path)) {
        return -1;
    }
    WIN32_FIND_DATAW data{};
    tarn::UniqueFindHandle find(::FindFirstFileW(path, &data));
    if (!find) {
        return -1;
    }
    return static_cast<int>(data.nFileSizeLow);
}

int GetExactFileName(std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) {
        return 0;
    }
    WIN32_FIND_DATAW data{};
    tarn::UniqueFindHandle find(::FindFirstFileW(path.c_str(), &data));
    if (!find) {
        return 0;
    }
    path.replace(slash + 1, std::wstring::npos, data.cFileName);
    return 1;
}

std::wstring GetTempFolder()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) {
        return std::wstring();
    }
    return StripOneTrailingBackslash(std::wstring(buffer, length));
}

int CreateFolderPath(const wchar_t* path)
{
    if (IsEmpty(path) || wcslen(path) < 3) {
        return 0;
    }
    if (FileExists(path)) {
        return 1;
    }
    std::wstring folder = StripOneTrailingBackslash(path);
    for (size_t i = 2; i < folder.size(); ++i) {
        if (folder[i] != L'\\') {
            continue;
        }
        const std::wstring prefix = folder.substr(0, i);
        if (!IsFolder(prefix)) {
            ::CreateDirectoryW(prefix.c_str(), nullptr);  // roots of drives and shares fail harmlessly
        }
    }
    if (IsFolder(folder)) {
        return 1;
    }
    return ::CreateDirectoryW(folder.c_str(), nullptr) ? 1 : 0;
}

int CreateFolderOfFile(const wchar_t* path)
{
    if (IsEmpty(path)) {
        return 0;
    }
    const std::wstring file(path);
    const size_t slash = file.find_last_of(L'\\');
    if (slash == std::wstring::npos) {
        return 0;
    }
    return CreateFolderPath(file.substr(0, slash).c_str());
}

int ListFiles(const wchar_t* start, std::vector<std::wstring>& files, std::vector<std::wstring>* folders,
              std::vector<SYSTEMTIME>* times, std::vector<uint32_t>* sizes)
{
    if (IsEmpty(start)) {
        return 0;
    }
    std::wstring folder(start);
    std::wstring pattern = L"*.*";
    if (folder.find(L'*') != std::wstring::npos) {
        const size_t slash = folder.find_last_of(L'\\');
        pattern = folder.substr(slash == std::wstring::npos ? 0 : slash + 1);
        folder.resize(slash == std::wstring::npos ? 0 : slash);
    }
    if (folder.empty()) {
        return 0;
    }
    if (folder.back() != L'\\') {
        folder += L'\\';
    }
    const size_t before = files.size();
    ListFolder(folder, pattern, files, folders, times, sizes);
    return files.size() > before ? 1 : 0;
}

SYSTEMTIME FileTimeToLocalOrZero(const FILETIME& utc)
{
    SYSTEMTIME system{};
    SYSTEMTIME local{};
    if (!::FileTimeToSystemTime(&utc, &system) ||
        !::SystemTimeToTzSpecificLocalTime(nullptr, &system, &local)) {
        return SYSTEMTIME{};
    }
    return local;
}

int CopyFileKeepAttributes(const wchar_t* source, const wchar_t* target)
{
    if (IsEmpty(source) || IsEmpty(target)) {
        return 0;
    }
    if (GetFileSizeByName(source) == 0) {
        // An existing empty source stands for "no file": the target goes.
        SetNormalAttributes(target);
        ::DeleteFileW(target);
        return EntryExists(target) ? 0 : 1;
    }
    CreateFolderOfFile(target);
    bool copied = CopyReplacing(source, target);
    if (!EntryExists(target)) {
        // A target that vanished during a failed copy gets one more try.
        copied = CopyReplacing(source, target);
    }
    if (EntryExists(target)) {
        SetNormalAttributes(target);
    }
    return copied ? 1 : 0;
}

std::wstring GetUniqueTempFile(const wchar_t* folder, const wchar_t* extension, int create)
{
    const std::wstring resolved = ResolveTempFileFolder(folder ? folder : L"");
    if (resolved.empty()) {
        return std::wstring();
    }
    const std::wstring ext = IsEmpty(extension) ? std::wstring(L".dwg") : std::wstring(extension);
    for (int n = 0; n < 10000; ++n) {
        const std::wstring candidate =
            n == 0 ? tarn::FormatText(L"%ls\\%ls%ls", resolved.c_str(), kTempFileBase, ext.c_str())
                   : tarn::FormatText(L"%ls\\%ls_(%d)%ls", resolved.c_str(), kTempFileBase, n,
                                      ext.c_str());
        if (EntryExists(candidate) && !::DeleteFileW(candidate.c_str())) {
            continue;
        }
        if (!create) {
            return candidate;
        }
        tarn::UniqueFileHandle file(::CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr,
                                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            return candidate;
        }
    }
    return std::wstring();
}

std::wstring GetUniqueTempFile(const wchar_t* extension, int create)
{
    return GetUniqueTempFile(L"", extension, create);
}

UniqueTempFolder::UniqueTempFolder() : m_TempBase(GetTempFolder())
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    const std::wstring stamp = tarn::FormatText(L"%04d.%02d.%02d_%02d.%02d.%02d", now.wYear, now.wMonth,
                                                now.wDay, now.wHour, now.wMinute, now.wSecond);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring candidate = tarn::FormatText(L"%ls\\_%ls_%d", m_TempBase.c_str(), stamp.c_str(),
                                                        static_cast<int>(::GetTickCount()));
        if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
            m_Folder = candidate;
            return;
        }
        ::Sleep(10);
    }
    m_Remove = 0;  // nothing of ours to remove
}

UniqueTempFolder::~UniqueTempFolder()
{
    if (m_Remove != 1 || m_Folder.empty()) {
        return;
    }
    tarn::RemoveFolderTree(m_Folder, true);
}

int EmptyFolder(const wchar_t* folder)
{
    if (IsEmpty(folder)) {
        return 0;
    }
    // Full paths only: a relative one would depend on the current folder.
    const std::wstring root = StripOneTrailingBackslash(folder);
    const bool full = root.rfind(L"\\\\", 0) == 0 || (root.size() >= 3 && root[1] == L':' && root[2] == L'\\');
    if (!full || root.size() >= MAX_PATH) {
        return 0;
    }
    return tarn::RemoveFolderTree(root, false) == 0 ? 1 : 0;
}

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

int TouchFiles(const std::vector<std::wstring>& files)
{
    FILETIME touch{};
    if (!GetTouchFileTime(touch)) {
        return 0;
    }
    int touched = 0;
    for (const std::wstring& path : files) {
        tarn::UniqueFileHandle file = OpenForTimes(path);
        if (file && ::SetFileTime(file.Get(), &touch, &touch, &touch)) {
            ++touched;
        }
    }
    return touched;
}

CTempTouchFile::CTempTouchFile(const std::wstring& fileName)
{
    if (fileName.empty()) {
        return;
    }
    WIN32_FIND_DATAW data{};
    tarn::UniqueFindHandle find(::FindFirstFileW(fileName.c_str(), &data));
    if (!find) {
        return;
    }
    m_FileName = fileName;
    m_CreationTime = data.ftCreationTime;
    m_LastAccessTime = data.ftLastAccessTime;
    m_LastWriteTime = data.ftLastWriteTime;
}

CTempTouchFile::~CTempTouchFile()
{
    if (m_FileName.empty()) {
        return;
    }
    tarn::UniqueFileHandle file = OpenForTimes(m_FileName);
    if (file) {
        ::SetFileTime(file.Get(), &m_CreationTime, &m_LastAccessTime, &m_LastWriteTime);
    }
}

CTempTouchFiles::CTempTouchFiles(const std::vector<std::wstring>& files)
{
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
        InsertAt(index, std::move(record));
    }
    TouchFiles(files);
}
