#pragma once
// The cabinet jobs of one caller: each job's cabinet, its thread and result.

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "support/sorted_array.h"
#include "support/unique_handle.h"

// One cabinet job. The file list belongs to the caller and must live until
// the job was waited for.
class CCStartetProcessesData {
public:
    CCStartetProcessesData() = default;
    CCStartetProcessesData(const CCStartetProcessesData&) = delete;
    CCStartetProcessesData& operator=(const CCStartetProcessesData&) = delete;

    std::wstring m_SourceFolder;
    std::wstring m_CabinetPath;
    const std::vector<std::wstring>* m_FileList = nullptr;
    // The thread's identifier, stored before the thread runs; the thread sets
    // it to -1 (all bits) when it has finished, after m_Result.
    std::atomic<DWORD> m_ThreadId{0};
    std::atomic<int> m_Result{0};  // MakeCabinet's result
    std::wstring m_Cause;          // why it failed; written by the thread before its end is marked
    tarn::UniqueKernelHandle m_Thread;
};

namespace tarn {

inline constexpr DWORD kJobFinished = static_cast<DWORD>(-1);

// The jobs of one caller, owned. Destroying the list waits for its jobs.
class CabinetJobList : public CSortedPtrArray<CCStartetProcessesData> {
public:
    CabinetJobList() = default;
    CabinetJobList(const CabinetJobList&) = delete;
    CabinetJobList& operator=(const CabinetJobList&) = delete;
    ~CabinetJobList();
};

}  // namespace tarn
