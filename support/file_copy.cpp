#include "support/file_copy.h"

#include "support/file_queries.h"
#include "support/file_system_internal.h"
#include "support/folder_tree.h"

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
