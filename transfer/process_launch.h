#pragma once
// Starting other programs through the shell: side by side with a record of
// each start to wait for at the end, or one at a time, waiting for each.
//
// Both ways locate the program alike: the path as given when it names a
// file, else the same name below the Windows folder, else below the System
// folder. The working folder is the one given, else the program's own
// folder (the temporary folder for a program on a network share).

#include <windows.h>

#include "transfer/cab_util.h"

// Appends a record to `records` and starts `program` with `arguments`
// (hidden when `hidden` is 1), without waiting. Returns 1 when the shell
// started it, else 0. A program found nowhere adds no record; a start the
// shell refuses keeps a record with result 0.
int StartRecordedProcess(CCabUtil::CMyShellExecuteExecDatas& records, const wchar_t* program,
                         const wchar_t* arguments, int hidden = 1, const wchar_t* workingFolder = nullptr,
                         HWND owner = nullptr);

// Polls every 50 ms until every recorded process has ended or never started;
// `records` is empty afterwards. A process whose times cannot be read counts
// as ended. Returns 1 when it saw at least one process end, else 0.
int WaitForRecordedProcesses(CCabUtil::CMyShellExecuteExecDatas& records);

// Starts `program` like StartRecordedProcess and polls every 100 ms until the
// process has ended (no time limit). Returns 1 when the start succeeded, 0
// when the program was not found or the shell refused it.
int RunAndWait(const wchar_t* program, const wchar_t* arguments, int hidden = 1,
               const wchar_t* workingFolder = nullptr, HWND owner = nullptr);

namespace tarn {

// One pass of that wait over `records`, from the last record to the first:
// drops empty slots, failed starts and records whose handle was closed, and
// closes the handle of each process seen ended (its record goes in the next
// pass). Returns 1 when it saw a process end.
int SweepRecordedProcesses(CCabUtil::CMyShellExecuteExecDatas& records);

}  // namespace tarn
