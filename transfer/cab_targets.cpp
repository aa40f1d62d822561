#include "transfer/cab_targets.h"

#include <windows.h>

#include "support/file_system.h"
#include "support/name_compare.h"
#include "support/safe_names.h"
#include "support/trace.h"
#include "transfer/cab_names.h"

namespace tarn {
namespace {

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

// The second line of defence after the name rules: the platform's own
// resolution of the target path must still lie below the target folder.
bool LiesBelow(const std::wstring& target, const std::wstring& fullFolder)
{
    const std::wstring fullTarget = FullPathOf(target);
    return !fullFolder.empty() && fullTarget.size() > fullFolder.size() &&
           fullTarget.compare(0, fullFolder.size(), fullFolder) == 0;
}

}  // namespace

UniqueFileHandle CreateFreshFile(const std::wstring& path, unsigned long attributes)
{
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                        attributes, nullptr));
    if (!file && ::GetLastError() == ERROR_ACCESS_DENIED) {
        const DWORD existing = ::GetFileAttributesW(path.c_str());
        if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            (existing & kAttributesToClear) != 0 && ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL)) {
            file.Reset(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                     attributes, nullptr));
        }
    } else if (file && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        // Only a replaced file can carry old attributes; a new one costs nothing here.
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = attributes;
        ::SetFileInformationByHandle(file.Get(), FileBasicInfo, &basic, sizeof(basic));
    }
    return file;
}

CabTargets::CabTargets(CabExtractContext& context)
    : context_(context), fullTargetFolder_(FullPathOf(context.m_TargetFolder))
{
}

bool CabTargets::Announce(const std::wstring& storedName, std::wstring& target, bool& wasListed)
{
    const std::wstring name = cab::NormalizeEntryName(storedName);
    target = context_.m_TargetFolder + name;
    const size_t index = LowerBoundNoCase(context_.m_Extracted, target, &wasListed);
    if (!wasListed) {
        context_.m_Extracted.insert(context_.m_Extracted.begin() + static_cast<ptrdiff_t>(index), target);
        context_.m_Done.insert(context_.m_Done.begin() + static_cast<ptrdiff_t>(index), 0);
    }
    // A refused entry keeps its done flag at 0, so the extraction reports failure.
    if (!IsContainedName(name) || target.size() >= MAX_PATH || !LiesBelow(target, fullTargetFolder_)) {
        Trace(L"Extract: entry \"%ls\" of %ls skipped: its name leads outside %ls, names a device or is too long",
              storedName.c_str(), context_.m_CabinetPath.c_str(), context_.m_TargetFolder.c_str());
        NoteExtractFailure(context_, CabExtractFailure::Refused);
        return false;
    }
    return true;
}

void CabTargets::SetDone(const std::wstring& target, bool done)
{
    bool found = false;
    const size_t index = LowerBoundNoCase(context_.m_Extracted, target, &found);
    if (found) {
        context_.m_Done[index] = done ? 1 : 0;
    }
}

// Creates `folder` and the missing folders above it, remembering each one
// made. Under Wine every platform call on a path costs, so the usual case
// (only the last folder is new) takes one call.
bool CabTargets::CreateFolder(const std::wstring& folder)
{
    if (::CreateDirectoryW(folder.c_str(), nullptr)) {
        created_.insert(folder);
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
        return true;
    }
    const size_t parentEnd = folder.find_last_of(L'\\');
    if (error != ERROR_PATH_NOT_FOUND || parentEnd == std::wstring::npos || parentEnd == 0 ||
        folder[parentEnd - 1] == L':' || folder[parentEnd - 1] == L'\\') {
        return false;
    }
    if (!CreateFolder(folder.substr(0, parentEnd)) || !::CreateDirectoryW(folder.c_str(), nullptr)) {
        return false;
    }
    created_.insert(folder);
    return true;
}

bool CabTargets::MakeFolderOf(const std::wstring& target)
{
    const std::wstring folder = target.substr(0, target.find_last_of(L'\\'));
    if (folder == lastFolder_) {
        return lastFolderIsNew_;
    }
    if (!CreateFolder(folder)) {
        // A share root or an odd prefix: the general helper tries its way;
        // what it cannot make the file's own open reports.
        CreateFolderOfFile(target.c_str());
    }
    lastFolder_ = folder;
    lastFolderIsNew_ = created_.count(folder) != 0;
    return lastFolderIsNew_;
}

}  // namespace tarn
