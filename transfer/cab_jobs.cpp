#include "transfer/cab_jobs.h"

#include <memory>

#include "support/trace.h"
#include "transfer/cab_create.h"

namespace {

DWORD WINAPI CabinetJobThread(void* parameter)
{
    auto* job = static_cast<CCStartetProcessesData*>(parameter);
    int result = 0;
    try {
        result = tarn::MakeCabinetExplained(job->m_SourceFolder.c_str(), job->m_CabinetPath.c_str(),
                                            job->m_FileList, job->m_Cause);
    } catch (...) {
        tarn::Trace(L"StartCabinetJob: making %ls raised an error", job->m_CabinetPath.c_str());
        job->m_Cause = L"making it raised an error";
        result = 0;
    }
    job->m_Result.store(result);
    job->m_ThreadId.store(tarn::kJobFinished);
    return 0;
}

}  // namespace

namespace tarn {

CabinetJobList::~CabinetJobList()
{
    WaitForCabinetJobs(*this);
}

}  // namespace tarn

int StartCabinetJob(tarn::CabinetJobList& jobList, const wchar_t* sourceFolder, const wchar_t* cabinetPath,
                    const std::vector<std::wstring>* fileList)
{
    auto job = std::make_unique<CCStartetProcessesData>();
    job->m_SourceFolder = sourceFolder == nullptr ? L"" : sourceFolder;
    job->m_CabinetPath = cabinetPath == nullptr ? L"" : cabinetPath;
    job->m_FileList = fileList;
    // Created suspended, so the identifier is stored before the thread can
    // mark its end: a quick end is never overwritten.
    DWORD threadId = 0;
    job->m_Thread.Reset(::CreateThread(nullptr, 0, CabinetJobThread, job.get(), CREATE_SUSPENDED, &threadId));
    if (!job->m_Thread) {
        tarn::Trace(L"StartCabinetJob: no thread for %ls (error %lu)", job->m_CabinetPath.c_str(), ::GetLastError());
        return 0;
    }
    job->m_ThreadId.store(threadId);
    if (::ResumeThread(job->m_Thread.Get()) == static_cast<DWORD>(-1)) {
        tarn::Trace(L"StartCabinetJob: cannot run the thread for %ls (error %lu)", job->m_CabinetPath.c_str(),
                    ::GetLastError());
        ::TerminateThread(job->m_Thread.Get(), 1);
        return 0;
    }
    jobList.Add(std::move(job));
    return 1;
}

int WaitForCabinetJobs(tarn::CabinetJobList& jobList, std::vector<std::wstring>* failed,
                       std::vector<std::wstring>* causes)
{
    int allMade = 1;
    while (!jobList.IsEmpty()) {
        ::Sleep(500);
        for (size_t i = jobList.GetSize(); i-- > 0;) {
            CCStartetProcessesData& job = *jobList[i];
            if (job.m_ThreadId.load() != tarn::kJobFinished) {
                continue;
            }
            // The thread may still be returning: its handle is waited on
            // before the job it reads goes.
            ::WaitForSingleObject(job.m_Thread.Get(), INFINITE);
            if (job.m_Result.load() != 1) {
                allMade = 0;
                if (failed != nullptr) {
                    failed->push_back(job.m_CabinetPath);
                }
                if (causes != nullptr) {
                    causes->push_back(job.m_Cause);
                }
            }
            jobList.RemoveAt(i);
        }
    }
    return allMade;
}
