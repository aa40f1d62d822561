#include "support/path_text.h"
#include "support/temp_files.h"

#include "support/file_system_internal.h"
#include "support/folder_removal.h"
#include "support/folder_tree.h"
#include "support/text_format.h"
#include "support/unique_handle.h"
#include "support/trace.h"

using namespace tarn::fs;

namespace {

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

}  // namespace

std::wstring GetTempFolder()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) {
        return std::wstring();
    }
    return tarn::WithoutTrailingBackslash(std::wstring(buffer, length));
}

std::wstring GetUniqueTempFile(const wchar_t* folder, const wchar_t* extension, int create)
{
    const std::wstring resolved = ResolveTempFileFolder(folder ? folder : L"");
    if (resolved.empty()) {
        return std::wstring();
    }
    const std::wstring ext = tarn::IsEmptyText(extension) ? std::wstring(L".dwg") : std::wstring(extension);
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
    tarn::Trace(L"no free temporary file name in %ls (error %lu)", resolved.c_str(), ::GetLastError());
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
    tarn::Trace(L"no temporary work folder can be created in %ls (error %lu)", m_TempBase.c_str(),
                ::GetLastError());
    m_Remove = 0;  // nothing of ours to remove
}

UniqueTempFolder::~UniqueTempFolder()
{
    if (m_Remove != 1 || m_Folder.empty()) {
        return;
    }
    tarn::RemoveFolderTree(m_Folder, true);
}
