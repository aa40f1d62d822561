#include "transfer/process_launch.h"

#include <initializer_list>
#include <memory>
#include <string>

#include "support/file_system.h"
#include "support/path_text.h"
#include "support/trace.h"

namespace {

constexpr DWORD kRecordPollMilliseconds = 50;
constexpr DWORD kRunPollMilliseconds = 100;

// The Windows or System folder with a backslash, from the platform (the
// system need not live in C:\Windows); empty when it cannot be read.
std::wstring FolderWithBackslash(UINT(WINAPI* query)(LPWSTR, UINT))
{
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = query(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return std::wstring();
    }
    return tarn::WithTrailingBackslash(std::wstring_view(buffer, length));
}

std::wstring ChooseWorkingFolder(const std::wstring& program, const wchar_t* workingFolder)
{
    if (!tarn::IsEmptyText(workingFolder)) {
        return workingFolder;
    }
    if (program.rfind(L"\\\\", 0) == 0) {
        // The shell cannot make a share the current folder of the new process.
        return GetTempFolder();
    }
    const size_t slash = program.find_last_of(L'\\');
    if (slash == std::wstring::npos) {
        return std::wstring();  // found in the current folder, which the process inherits
    }
    // "C:" alone would name the drive's current folder, not its root.
    return program.substr(0, slash > 0 && program[slash - 1] == L':' ? slash + 1 : slash);
}

HWND ChooseOwner(HWND owner)
{
    if (owner != nullptr && ::IsWindow(owner)) {
        return owner;
    }
    const HWND active = ::GetActiveWindow();
    return active != nullptr ? active : ::GetDesktopWindow();
}

// Fills `record` and starts the program through the shell; the process
// handle moves into the record's guard.
int ShellStart(CCabUtil::CMyShellExecuteExecData& record, const std::wstring& program,
               const wchar_t* arguments, int hidden, const wchar_t* workingFolder, HWND owner)
{
    record.m_Verb = L"open";
    record.m_File = program;
    record.m_Parameters = arguments ? arguments : L"";
    record.m_Directory = ChooseWorkingFolder(program, workingFolder);

    SHELLEXECUTEINFOW& info = record.m_Info;
    info = SHELLEXECUTEINFOW{};
    info.cbSize = sizeof(info);
    // No error dialog from the shell: starts run on worker threads and headless.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.hwnd = ChooseOwner(owner);
    info.lpVerb = record.m_Verb.c_str();
    info.lpFile = record.m_File.c_str();
    info.lpParameters = record.m_Parameters.c_str();
    info.lpDirectory = record.m_Directory.empty() ? nullptr : record.m_Directory.c_str();
    info.nShow = hidden == 1 ? SW_HIDE : SW_SHOWNORMAL;

    record.m_Result = ::ShellExecuteExW(&info) ? 1 : 0;
    if (!record.m_Result) {
        tarn::Trace(L"Start: cannot start %ls %ls in %ls (error %lu)", program.c_str(), record.m_Parameters.c_str(),
                    record.m_Directory.c_str(), ::GetLastError());
    }
    record.m_Process.Reset(info.hProcess);
    info.hProcess = nullptr;
    return record.m_Result;
}

// Locates the program and starts it. With `records`, each start first
// appends its record there; without, `started` receives the one record.
int StartProgram(CCabUtil::CMyShellExecuteExecDatas* records,
                 std::unique_ptr<CCabUtil::CMyShellExecuteExecData>* started, const wchar_t* program,
                 const wchar_t* arguments, int hidden, const wchar_t* workingFolder, HWND owner)
{
    if (tarn::IsEmptyText(program)) {
        return 0;
    }
    auto start = [&](const std::wstring& path, int startHidden, const wchar_t* folder, HWND window) {
        auto record = std::make_unique<CCabUtil::CMyShellExecuteExecData>();
        CCabUtil::CMyShellExecuteExecData& added = *record;
        if (records) {
            records->Add(std::move(record));
        } else {
            *started = std::move(record);
        }
        return ShellStart(added, path, arguments, startHidden, folder, window);
    };
    if (FileExists(program)) {
        return start(program, hidden, workingFolder, owner);
    }
    // A bare program name may stand for a program of the system.
    for (auto query : {&::GetWindowsDirectoryW, &::GetSystemDirectoryW}) {
        const std::wstring folder = FolderWithBackslash(query);
        const std::wstring candidate = folder + program;
        if (!folder.empty() && FileExists(candidate.c_str())) {
            return start(candidate, 1, nullptr, nullptr);
        }
    }
    tarn::Trace(L"Start: cannot start %ls: no such program here or in the system folders", program);
    return 0;
}

// A process counts as ended once its exit time is set or its times cannot
// be read.
bool HasEnded(HANDLE process)
{
    FILETIME creation{};
    FILETIME exit{};
    FILETIME kernel{};
    FILETIME user{};
    if (!::GetProcessTimes(process, &creation, &exit, &kernel, &user)) {
        return true;
    }
    return exit.dwLowDateTime != 0 || exit.dwHighDateTime != 0;
}

}  // namespace

int StartRecordedProcess(CCabUtil::CMyShellExecuteExecDatas& records, const wchar_t* program,
                         const wchar_t* arguments, int hidden, const wchar_t* workingFolder, HWND owner)
{
    return StartProgram(&records, nullptr, program, arguments, hidden, workingFolder, owner);
}

namespace tarn {

int SweepRecordedProcesses(CCabUtil::CMyShellExecuteExecDatas& records)
{
    int sawEnd = 0;
    for (size_t i = records.GetSize(); i-- > 0;) {
        CCabUtil::CMyShellExecuteExecData* record = records[i].get();
        if (record == nullptr || !record->m_Result || !record->m_Process) {
            records.RemoveAt(i);
        } else if (HasEnded(record->m_Process.Get())) {
            record->m_Process.Reset();
            sawEnd = 1;
        }
    }
    return sawEnd;
}

}  // namespace tarn

int WaitForRecordedProcesses(CCabUtil::CMyShellExecuteExecDatas& records)
{
    int sawEnd = 0;
    while (!records.IsEmpty()) {
        ::Sleep(kRecordPollMilliseconds);
        if (tarn::SweepRecordedProcesses(records)) {
            sawEnd = 1;
        }
    }
    return sawEnd;
}

int RunAndWait(const wchar_t* program, const wchar_t* arguments, int hidden, const wchar_t* workingFolder,
               HWND owner)
{
    std::unique_ptr<CCabUtil::CMyShellExecuteExecData> record;
    if (!StartProgram(nullptr, &record, program, arguments, hidden, workingFolder, owner)) {
        return 0;
    }
    if (record->m_Process) {
        while (!HasEnded(record->m_Process.Get())) {
            ::Sleep(kRunPollMilliseconds);
        }
    }
    return 1;
}
