#include "support/file_copy.h"

#include "support/file_queries.h"
#include "support/file_system_internal.h"
#include "support/folder_tree.h"
#include "support/path_text.h"
#include "support/trace.h"

using namespace tarn::fs;

namespace {

bool CopyReplacing(const wchar_t* source, const wchar_t* target)
{
    SetNormalAttributes(target);
    return ::CopyFileW(source, target, FALSE) != FALSE;
}

}  // namespace

int CopyFileKeepAttributes(const wchar_t* source, const wchar_t* target)
{
    if (tarn::IsEmptyText(source) || tarn::IsEmptyText(target)) {
        return 0;
    }
    if (GetFileSizeByName(source) == 0) {
        // An existing empty source stands for "no file": the target goes.
        SetNormalAttributes(target);
        const bool deleted = ::DeleteFileW(target) != FALSE;
        const DWORD error = ::GetLastError();
        if (!deleted && EntryExists(target)) {
            tarn::Trace(L"file %ls cannot be deleted (error %lu)", target, error);
            return 0;
        }
        return 1;
    }
    CreateFolderOfFile(target);
    bool copied = CopyReplacing(source, target);
    DWORD error = ::GetLastError();
    if (!EntryExists(target)) {
        // A target that vanished during a failed copy gets one more try.
        copied = CopyReplacing(source, target);
        error = ::GetLastError();
    }
    if (!copied) {
        tarn::Trace(L"file %ls cannot be copied to %ls (error %lu)", source, target, error);
    }
    if (EntryExists(target)) {
        SetNormalAttributes(target);
    }
    return copied ? 1 : 0;
}
