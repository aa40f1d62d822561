#include <windows.h>

#include <setupapi.h>

#include <string>

#include "support/file_queries.h"
#include "support/file_system.h"
#include "support/path_text.h"
#include "support/text_format.h"
#include "support/trace.h"
#include "support/unique_handle.h"
#include "transfer/cab_extract_paths.h"
#include "transfer/cab_targets.h"

namespace tarn {
namespace {

constexpr int kMaxTemporaryCopies = 9999;

// What the handler answers for notifications that the iteration never sends.
constexpr UINT kUnexpectedNotificationResult = 2;

// The state of one pass of the setup library over a cabinet.
struct Iteration {
    CabExtractContext& context;
    CabTargets& targets;
    // Whether the entry being extracted comes read-only, hidden or system
    // (the library gives it the cabinet's attributes): only then are they
    // cleared, which costs the platform a query, an open and a close.
    bool clearAttributes = false;
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

// Creates or empties the file at `target`, so that the library's own open
// finds it. The library opens an existing target without truncating it, so
// a longer old file would otherwise keep its tail behind the new content.
// An old file loses read-only, hidden and system. False (with `error`) when
// a folder stands at `target` or another process holds the file; any other
// failure is left to the library's open, which reports it when the entry is
// done.
bool CreateTargetFile(const std::wstring& target, DWORD& error)
{
    UniqueFileHandle file = CreateFreshFile(target, FILE_ATTRIBUTE_NORMAL);
    if (!file && ::GetLastError() == ERROR_PATH_NOT_FOUND) {
        CreateFolderOfFile(target.c_str());
        file = CreateFreshFile(target, FILE_ATTRIBUTE_NORMAL);
    }
    if (file) {
        return true;
    }
    error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = ERROR_DIRECTORY;
        return false;
    }
    // A file another process holds (a program that runs): the library's own
    // open would end the whole cabinet, not just this entry.
    return error != ERROR_SHARING_VIOLATION;
}

UINT OnFileInCabinet(Iteration& iteration, FILE_IN_CABINET_INFO_W& info)
{
    const std::wstring stored = info.NameInCabinet ? info.NameInCabinet : L"";
    std::wstring target;
    bool wasListed = false;
    if (!iteration.targets.Announce(stored, target, wasListed)) {
        return FILEOP_SKIP;
    }
    // In a folder this extraction made, no file can stand at the target
    // unless an earlier entry of the same name put it there: the library's
    // own open creates it, and the look-up of the new name (a folder scan
    // under Wine) happens once instead of twice.
    const bool freshFolder = iteration.targets.MakeFolderOf(target);
    if (freshFolder && iteration.targets.IsCreatedFolder(target)) {
        Trace(L"Extract: entry \"%ls\" of %ls skipped: a folder stands at %ls", stored.c_str(),
              iteration.context.m_CabinetPath.c_str(), target.c_str());
        return FILEOP_SKIP;
    }
    DWORD error = NO_ERROR;
    if ((!freshFolder || wasListed) && !CreateTargetFile(target, error)) {
        Trace(L"Extract: entry \"%ls\" of %ls skipped: %ls %ls (error %lu)", stored.c_str(),
              iteration.context.m_CabinetPath.c_str(), target.c_str(),
              error == ERROR_SHARING_VIOLATION ? L"is held by another process" : L"is a folder", error);
        return FILEOP_SKIP;
    }
    iteration.clearAttributes = (info.DosAttribs & kAttributesToClear) != 0;
    wcsncpy_s(info.FullTargetName, MAX_PATH, target.c_str(), _TRUNCATE);
    return FILEOP_DOIT;
}

void OnFileExtracted(Iteration& iteration, const FILEPATHS_W& paths)
{
    if (paths.Target == nullptr) {
        return;
    }
    if (iteration.clearAttributes) {
        ::SetFileAttributesW(paths.Target, FILE_ATTRIBUTE_NORMAL);
    }
    // A failed write (disk full, file held open) leaves the file unfinished.
    iteration.targets.SetDone(paths.Target, paths.Win32Error == NO_ERROR);
    if (paths.Win32Error != NO_ERROR) {
        Trace(L"Extract: %ls from %ls could not be written (error %u)", paths.Target,
              iteration.context.m_CabinetPath.c_str(), paths.Win32Error);
        NoteExtractFailure(iteration.context, IsDiskFullError(paths.Win32Error) ? CabExtractFailure::DiskFull
                                                                                : CabExtractFailure::Unwritten);
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
    Trace(L"Extract: %ls cannot be read as a cabinet (error %lu)", cabinetPath.c_str(), ::GetLastError());
    return false;
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
        const std::wstring target = WithoutTrailingBackslash(context.m_TargetFolder);
        folder = AnsiFormOf(target.substr(0, target.find_last_of(L'\\')));
    }
    return WithoutTrailingBackslash(folder);
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
        const std::wstring candidate = FormatText(L"%ls\\Tarn_$(%d).cab", folder.c_str(), n);
        if (!FileExists(candidate.c_str())) {
            copy = candidate;
        }
    }
    if (copy.empty()) {
        Trace(L"Extract: no free name for a copy of %ls in a folder the setup library can open (%ls)",
              cabinetPath.c_str(), folder.c_str());
        return false;
    }
    if (!CopyFileKeepAttributes(cabinetPath.c_str(), copy.c_str())) {
        Trace(L"Extract: %ls not copied to %ls (error %lu)", cabinetPath.c_str(), copy.c_str(), ::GetLastError());
    }
    const bool extracted = IterateCabinet(iteration, copy);
    ::SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(copy.c_str());
    return extracted;
}

}  // namespace

bool ExtractWithSetupLibrary(CabExtractContext& context, CabTargets& targets)
{
    Iteration iteration{context, targets};
    if (IterateCabinet(iteration, context.m_CabinetPath) || RetryThroughCopy(iteration, context.m_CabinetPath)) {
        return true;
    }
    NoteExtractFailure(context, CabExtractFailure::Damaged);
    return false;
}

}  // namespace tarn
