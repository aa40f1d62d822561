#include "app/install/running_program.h"

#include <windows.h>

#include <tlhelp32.h>

#include "support/name_compare.h"
#include "support/trace.h"
#include "support/unique_handle.h"
#include "transfer/cab_extract.h"

namespace tarn {

bool IsProgramRunning(const std::wstring& path)
{
    // A failed snapshot is INVALID_HANDLE_VALUE, as a failed file open.
    const UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        Trace(L"Install: the processes cannot be listed (error %lu)", ::GetLastError());
        return false;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
         more = ::Process32NextW(snapshot.Get(), &entry)) {
        const UniqueKernelHandle process(
            ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        wchar_t image[MAX_PATH] = {};
        DWORD length = MAX_PATH;
        if (process && ::QueryFullProcessImageNameW(process.Get(), 0, image, &length) &&
            CompareNoCase(std::wstring_view(image, length), path) == 0) {
            return true;
        }
    }
    return false;
}

bool OnlyFileNotWritten(const CabExtractContext& context, const std::wstring& path)
{
    // Only a cabinet that was read through, with files left unwritten.
    if (context.m_Failure != CabExtractFailure::Unwritten) {
        return false;
    }
    bool pathLeft = false;
    for (size_t i = 0; i < context.m_Extracted.size() && i < context.m_Done.size(); ++i) {
        if (context.m_Done[i]) {
            continue;
        }
        if (CompareNoCase(context.m_Extracted[i], path) != 0) {
            return false;
        }
        pathLeft = true;
    }
    return pathLeft;
}

}  // namespace tarn
