#pragma once
// Several cabinets made at once, each by MakeCabinet on a thread of its own.

#include <string>
#include <vector>

#include "transfer/cab_job_list.h"

// Starts a thread that makes the cabinet and appends the job to `jobList`.
// Returns 1 when the thread runs; 0 when it could not be started (the job is
// discarded).
int StartCabinetJob(tarn::CabinetJobList& jobList, const wchar_t* sourceFolder, const wchar_t* cabinetPath,
                    const std::vector<std::wstring>* fileList = nullptr);

// Polls every 500 ms until every job has finished; the list is empty then.
// Returns 1 when every job made its cabinet, else 0; the cabinets that were
// not made are appended to `failed` and why to `causes`, when given.
int WaitForCabinetJobs(tarn::CabinetJobList& jobList, std::vector<std::wstring>* failed = nullptr,
                       std::vector<std::wstring>* causes = nullptr);
