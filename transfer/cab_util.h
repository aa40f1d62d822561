#pragma once
// CCabUtil gathers the records of the cabinet and process code: the started
// programs that a caller waits for (process_launch.h).

#include <windows.h>

#include <shellapi.h>

#include <string>

#include "support/sorted_array.h"
#include "support/unique_handle.h"

class CCabUtil {
public:
    // One program start through the shell. m_Info is the shell-execute record
    // as it was handed over; its text fields point into the strings of this
    // record. The process handle the shell returned is moved into m_Process
    // (m_Info.hProcess is cleared), which closes it when the record goes.
    class CMyShellExecuteExecData {
    public:
        CMyShellExecuteExecData() = default;
        CMyShellExecuteExecData(const CMyShellExecuteExecData&) = delete;
        CMyShellExecuteExecData& operator=(const CMyShellExecuteExecData&) = delete;

        int m_Result = 0;  // nonzero when the shell reported success
        SHELLEXECUTEINFOW m_Info{};
        tarn::UniqueKernelHandle m_Process;  // empty once the process was seen ended
        std::wstring m_Verb;
        std::wstring m_File;
        std::wstring m_Parameters;
        std::wstring m_Directory;
    };

    // The started programs of one caller, owned. Destroying the array neither
    // waits nor ends the processes; it only closes the handles it holds.
    class CMyShellExecuteExecDatas : public CSortedPtrArray<CMyShellExecuteExecData> {};
};
