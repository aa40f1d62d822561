#pragma once
// Several cabinets made at once, each by MakeCabinet on a thread of its own.

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

// Starts a thread that makes the cabinet and appends the job to `jobList`.
// Returns 1 when the thread runs; 0 when it could not be started (the job is
// discarded).
int StartCabinetJob(tarn::CabinetJobList& jobList, const wchar_t* sourceFolder, const wchar_t* cabinetPath,
                    const std::vector<std::wstring>* fileList = nullptr);

// Polls every 500 ms until every job has finished; the list is empty then.
// Returns 1 when every job made its cabinet, else 0; the cabinets that were
// not made are appended to `failed` when given.
int WaitForCabinetJobs(tarn::CabinetJobList& jobList, std::vector<std::wstring>* failed = nullptr);
