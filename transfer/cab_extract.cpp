#include "transfer/cab_extract.h"

#include <windows.h>

#include <setupapi.h>

#include <algorithm>
#include <cwchar>
#include <string_view>

#include "support/file_system.h"
#include "support/name_compare.h"
#include "support/path_text.h"
#include "support/safe_names.h"
#include "support/text_format.h"
#include "support/trace.h"
#include "support/unique_handle.h"

namespace tarn {

std::wstring NormalEntryName(std::wstring name)
{
    // The platform takes a slash for a backslash; folders are made at backslashes.
    std::replace(name.begin(), name.end(), L'/', L'\\');
    if (!name.empty() && name.front() == L'\\') {
        name.erase(0, 1);
    }
    return name;
}

}  // namespace tarn

namespace {

constexpr int kMaxDefaultFolders = 999;
constexpr int kMaxTemporaryCopies = 9999;

constexpr DWORD kAttributesToClear = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// What the handler answers for notifications that the iteration never sends.
constexpr UINT kUnexpectedNotificationResult = 2;

// The state of one pass of the setup library over a cabinet.
struct Iteration {
    CabExtractContext& context;
    std::wstring fullTargetFolder;  // the target folder as the platform resolves it
    std::wstring lastFolder;        // the folder last made sure of
};

// The handler runs inside the library's call: its own file calls must not
// change the thread's last error under the library's feet, nor leave their
// codes behind the iteration.
class LastErrorKeeper {
public:
    LastErrorKeeper() noexcept : saved_(::GetLastError()) {}
    ~LastErrorKeeper() { ::SetLastError(saved_); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

private:
    DWORD saved_;
};

std::wstring FullPathOf(const std::wstring& path)
{
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return std::wstring();
    }
    std::wstring full(needed, L'\0');
    const DWORD written = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    full.resize(written < needed ? written : 0);
    return full;
}

// The second line of defence after the name check: the platform's own
// resolution of the target path must still lie below the target folder.
bool LiesBelow(const std::wstring& target, const std::wstring& fullFolder)
{
    const std::wstring fullTarget = FullPathOf(target);
    return !fullFolder.empty() && fullTarget.size() > fullFolder.size() &&
           fullTarget.compare(0, fullFolder.size(), fullFolder) == 0;
}

// Index of `target` in the extracted list, inserted with done flag 0 when new.
size_t RememberTarget(CabExtractContext& context, const std::wstring& target)
{
    bool found = false;
    const size_t index = tarn::LowerBoundNoCase(context.m_Extracted, target, &found);
    if (!found) {
        context.m_Extracted.insert(context.m_Extracted.begin() + static_cast<ptrdiff_t>(index), target);
        context.m_Done.insert(context.m_Done.begin() + static_cast<ptrdiff_t>(index), 0);
    }
    return index;
}

// Creates the folder of `target` unless the previous entry had the same one.
// Entries come grouped by folder, and usually only the last folder of a path
// is new: one call makes it, where walking every component of the path costs
// a platform call per component (dear under Wine, once per file).
void MakeFolderOf(Iteration& iteration, const std::wstring& target)
{
    const std::wstring folder = target.substr(0, target.find_last_of(L'\\'));
    if (folder == iteration.lastFolder) {
        return;
    }
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        CreateFolderOfFile(target.c_str());
    }
    iteration.lastFolder = folder;
}

// Creates or empties the file at `target`, so that the library's own open
// finds it. The library opens an existing target without truncating it, so
// a longer old file would otherwise keep its tail behind the new content.
// One open per file: under Wine every lookup of a name that does not exist
// yet scans its folder, and this open is the only such lookup the entry
// costs (the library's open then finds the file at once). A read-only,
// hidden or system file is cleared and opened again. False only when a
// folder stands at `target`; any other failure is left to the library's
// open, which reports it when the entry is done.
bool CreateTargetFile(Iteration& iteration, const std::wstring& target)
{
    MakeFolderOf(iteration, target);
    for (int attempt = 0;; ++attempt) {
        tarn::UniqueFileHandle file(::CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            return true;
        }
        const DWORD error = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesW(target.c_str());
        if (error == ERROR_PATH_NOT_FOUND && attempt == 0) {
            CreateFolderOfFile(target.c_str());
            continue;
        }
        if (attempt == 0 && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && (attributes & kAttributesToClear) != 0) {
            ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
            continue;
        }
        return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }
}

UINT OnFileInCabinet(Iteration& iteration, FILE_IN_CABINET_INFO_W& info)
{
    CabExtractContext& context = iteration.context;
    const std::wstring name = tarn::NormalEntryName(info.NameInCabinet ? info.NameInCabinet : L"");
    const std::wstring target = context.m_TargetFolder + name;
    RememberTarget(context, target);

    // Refused entries keep their done flag at 0, so the extraction reports failure.
    if (!tarn::IsContainedName(name) || target.size() >= MAX_PATH ||
        !LiesBelow(target, iteration.fullTargetFolder)) {
        tarn::Trace(L"Extract: entry \"%ls\" of %ls skipped: its name leads outside %ls or is too long",
                    info.NameInCabinet ? info.NameInCabinet : L"", context.m_CabinetPath.c_str(),
                    context.m_TargetFolder.c_str());
        return FILEOP_SKIP;
    }
    if (!CreateTargetFile(iteration, target)) {
        tarn::Trace(L"Extract: entry \"%ls\" of %ls skipped: a folder stands at %ls", name.c_str(),
                    context.m_CabinetPath.c_str(), target.c_str());
        return FILEOP_SKIP;
    }
    wcsncpy_s(info.FullTargetName, MAX_PATH, target.c_str(), _TRUNCATE);
    return FILEOP_DOIT;
}

void OnFileExtracted(Iteration& iteration, const FILEPATHS_W& paths)
{
    if (paths.Target == nullptr) {
        return;
    }
    // Only a file that came out read-only, hidden or system is changed:
    // setting attributes costs the platform an open and a close per file.
    const DWORD attributes = ::GetFileAttributesW(paths.Target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kAttributesToClear) != 0) {
        ::SetFileAttributesW(paths.Target, FILE_ATTRIBUTE_NORMAL);
    }
    CabExtractContext& context = iteration.context;
    bool found = false;
    const size_t index = tarn::LowerBoundNoCase(context.m_Extracted, paths.Target, &found);
    if (found) {
        // A failed write (disk full, file held open) leaves the file unfinished.
        context.m_Done[index] = paths.Win32Error == NO_ERROR ? 1 : 0;
    }
    if (paths.Win32Error != NO_ERROR) {
        tarn::Trace(L"Extract: %ls from %ls could not be written (error %u)", paths.Target,
                    context.m_CabinetPath.c_str(), paths.Win32Error);
    }
}

UINT CALLBACK OnCabinetNotification(PVOID data, UINT notification, UINT_PTR param1, UINT_PTR /*param2*/)
{
    LastErrorKeeper keepLastError;
    Iteration& iteration = *static_cast<Iteration*>(data);
    switch (notification) {
        case SPFILENOTIFY_CABINETINFO:
            return NO_ERROR;
        case SPFILENOTIFY_FILEINCABINET:
            return OnFileInCabinet(iteration, *reinterpret_cast<FILE_IN_CABINET_INFO_W*>(param1));
        case SPFILENOTIFY_NEEDNEWCABINET:
            return NO_ERROR;  // no further cabinet is offered; the library ends the set there
        case SPFILENOTIFY_FILEEXTRACTED:
            OnFileExtracted(iteration, *reinterpret_cast<const FILEPATHS_W*>(param1));
            return NO_ERROR;
        default:
            return kUnexpectedNotificationResult;
    }
}

// One pass of the setup library over `cabinetPath`. The return value
// decides, not the thread's last error: the library's own file opens leave
// ERROR_ALREADY_EXISTS behind a good pass over existing files, and a damaged
// cabinet fails with the last error still 0 (both seen under Wine).
bool IterateCabinet(Iteration& iteration, const std::wstring& cabinetPath)
{
    ::SetLastError(NO_ERROR);
    if (::SetupIterateCabinetW(cabinetPath.c_str(), 0, OnCabinetNotification, &iteration)) {
        return true;
    }
    tarn::Trace(L"Extract: %ls cannot be read as a cabinet (error %lu)", cabinetPath.c_str(), ::GetLastError());
    return false;
}

// "<temp>\Tarn-Cab_<n>" for the first n from 1 that names nothing; empty
// when all are taken.
std::wstring ChooseDefaultTargetFolder()
{
    const std::wstring temp = GetTempFolder();
    if (temp.empty()) {
        return std::wstring();
    }
    for (int n = 1; n <= kMaxDefaultFolders; ++n) {
        const std::wstring folder = tarn::FormatText(L"%ls\\Tarn-Cab_%d", temp.c_str(), n);
        int isFolder = 0;
        if (!FileExists(folder.c_str(), &isFolder)) {
            return folder;
        }
    }
    return std::wstring();
}

// True when the ANSI code page holds every character of `path`: the setup
// library opens cabinets through ANSI paths.
bool IsAnsiPath(const std::wstring& path)
{
    BOOL lossy = FALSE;
    const int size = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(), -1, nullptr, 0, nullptr,
                                           &lossy);
    return size > 0 && !lossy;
}

// `path` itself when it is an ANSI path, else its short form when that is
// one; empty when neither is.
std::wstring AnsiFormOf(const std::wstring& path)
{
    if (path.empty() || IsAnsiPath(path)) {
        return path;
    }
    wchar_t shortPath[MAX_PATH] = {};
    const DWORD length = ::GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
    const std::wstring result(shortPath, length < MAX_PATH ? length : 0);
    return !result.empty() && IsAnsiPath(result) ? result : std::wstring();
}

// A folder for a copy of a cabinet that the library can open: the temporary
// folder, or else the target folder's parent (the short form of either).
std::wstring CopyFolderFor(const CabExtractContext& context)
{
    std::wstring folder = AnsiFormOf(GetTempFolder());
    if (folder.empty()) {
        const std::wstring target = tarn::WithoutTrailingBackslash(context.m_TargetFolder);
        folder = AnsiFormOf(target.substr(0, target.find_last_of(L'\\')));
    }
    return tarn::WithoutTrailingBackslash(folder);
}

// After a failed pass: the cabinet itself once more (or through its short
// path when its own holds characters outside the ANSI code page), then a
// copy of it under a plain name in a folder whose path the library can open.
// The copy is removed in any case.
bool RetryThroughCopy(Iteration& iteration, const std::wstring& cabinetPath)
{
    const std::wstring ansiForm = AnsiFormOf(cabinetPath);
    if (IterateCabinet(iteration, ansiForm.empty() ? cabinetPath : ansiForm)) {
        return true;
    }
    const std::wstring folder = CopyFolderFor(iteration.context);
    std::wstring copy;
    for (int n = 1; n <= kMaxTemporaryCopies && copy.empty() && !folder.empty(); ++n) {
        const std::wstring candidate = tarn::FormatText(L"%ls\\Tarn_$(%d).cab", folder.c_str(), n);
        if (!FileExists(candidate.c_str())) {
            copy = candidate;
        }
    }
    if (copy.empty()) {
        tarn::Trace(L"Extract: no free name for a copy of %ls in a folder the setup library can open (%ls)",
                    cabinetPath.c_str(), folder.c_str());
        return false;
    }
    if (!CopyFileKeepAttributes(cabinetPath.c_str(), copy.c_str())) {
        tarn::Trace(L"Extract: %ls not copied to %ls (error %lu)", cabinetPath.c_str(), copy.c_str(),
                    ::GetLastError());
    }
    const bool extracted = IterateCabinet(iteration, copy);
    ::SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(copy.c_str());
    return extracted;
}

}  // namespace

int ExtractCabinet(CabExtractContext& context, const wchar_t* cabinetPath)
{
    if (tarn::IsEmptyText(cabinetPath) || !FileExists(cabinetPath)) {
        return 0;
    }
    if (context.m_TargetFolder.empty()) {
        context.m_TargetFolder = ChooseDefaultTargetFolder();
        if (context.m_TargetFolder.empty()) {
            tarn::Trace(L"Extract: no free folder in the temporary folder for %ls", cabinetPath);
            return 0;
        }
    }
    if (context.m_TargetFolder.back() != L'\\') {
        context.m_TargetFolder += L'\\';
    }
    context.m_CabinetPath = cabinetPath;
    context.m_Extracted.clear();
    context.m_Done.clear();

    Iteration iteration{context, FullPathOf(context.m_TargetFolder), std::wstring()};
    bool extracted = IterateCabinet(iteration, context.m_CabinetPath);
    if (!extracted) {
        extracted = RetryThroughCopy(iteration, context.m_CabinetPath);
    }
    const bool allDone = std::find(context.m_Done.begin(), context.m_Done.end(), 0) == context.m_Done.end();
    return extracted && allDone ? 1 : 0;
}

int ExtractCabinetTo(CabExtractContext& context, const wchar_t* cabinetPath, const wchar_t* targetFolder)
{
    context.m_TargetFolder = targetFolder ? targetFolder : L"";
    context.m_Extracted.clear();
    context.m_Done.clear();
    return ExtractCabinet(context, cabinetPath);
}

int ExtractCabinetToList(const wchar_t* cabinetPath, const wchar_t* targetFolder,
                         std::vector<std::wstring>& fileList)
{
    fileList.clear();
    CabExtractContext context;
    const int result = ExtractCabinetTo(context, cabinetPath, targetFolder);
    if (result) {
        fileList = std::move(context.m_Extracted);
    }
    return result;
}
