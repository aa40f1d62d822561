#include "support/claimed_folder.h"

#include <windows.h>

#include <atomic>
#include <vector>

#include "support/folder_removal.h"
#include "support/name_compare.h"
#include "support/text_format.h"
#include "support/trace.h"

namespace {

const wchar_t kClaimSuffix[] = L".claim";

bool Exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

namespace tarn {

void RemoveUnclaimedWorkFolders(const std::wstring& base, const std::wstring& prefix)
{
    std::vector<std::wstring> folders;
    WIN32_FIND_DATAW found{};
    {
        const UniqueFindHandle find(::FindFirstFileW((base + L"\\" + prefix + L"*").c_str(), &found));
        if (!find) {
            return;
        }
        do {
            const std::wstring path = base + L"\\" + found.cFileName;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                folders.push_back(path);
            } else if (EndsWithNoCase(path, kClaimSuffix)) {
                ::DeleteFileW(path.c_str());  // fails for a claim its owner holds
            }
        } while (::FindNextFileW(find.Get(), &found));
    }
    // An owner makes its claim before its folder, so a folder without a
    // claim is nobody's: that of a killed run.
    for (const std::wstring& folder : folders) {
        if (!Exists(folder + kClaimSuffix)) {
            Trace(L"removing the work folder %ls that a killed run left", folder.c_str());
            RemoveFolderTree(folder, true);
        }
    }
}

ClaimedWorkFolder::ClaimedWorkFolder(const std::wstring& base, const std::wstring& prefix)
{
    RemoveUnclaimedWorkFolders(base, prefix);
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100 && folder_.empty(); ++attempt) {
        const std::wstring folder =
            base + L"\\" + prefix + FormatText(L"%lu_%u", ::GetCurrentProcessId(), counter.fetch_add(1) + 1);
        claim_.Reset(::CreateFileW((folder + kClaimSuffix).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (claim_ && ::CreateDirectoryW(folder.c_str(), nullptr)) {
            folder_ = folder;
        } else if (claim_) {
            claim_.Reset();
            ::DeleteFileW((folder + kClaimSuffix).c_str());
        }
    }
    if (folder_.empty()) {
        Trace(L"no work folder can be made in %ls (error %lu)", base.c_str(), ::GetLastError());
    }
}

ClaimedWorkFolder::~ClaimedWorkFolder()
{
    if (folder_.empty()) {
        return;
    }
    RemoveFolderTree(folder_, true);
    claim_.Reset();
    if (!Exists(folder_)) {
        ::DeleteFileW((folder_ + kClaimSuffix).c_str());
    }
}

}  // namespace tarn
