#include "transfer/process_launch.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/test_files.h"
#include "support/file_system.h"
#include "support/name_compare.h"

namespace {

using tarn::test::HelperProgram;
using tarn::test::ScratchFolder;

// One start as record_start.exe wrote it down.
using StartRecord = std::map<std::wstring, std::wstring>;

std::wstring FromUtf8(const std::string& bytes)
{
    if (bytes.empty()) {
        return std::wstring();
    }
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
    return text;
}

std::vector<StartRecord> ReadStarts(const std::wstring& recordFile)
{
    std::vector<StartRecord> starts;
    const std::wstring text = FromUtf8(tarn::test::ReadBytes(recordFile));
    size_t position = 0;
    while (position < text.size()) {
        size_t end = text.find(L'\n', position);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        const std::wstring line = text.substr(position, end - position);
        position = end + 1;
        if (line == L"start") {
            starts.emplace_back();
        } else if (!starts.empty() && line != L"end") {
            const size_t equals = line.find(L'=');
            starts.back()[line.substr(0, equals)] =
                equals == std::wstring::npos ? L"" : line.substr(equals + 1);
        }
    }
    return starts;
}

bool ProcessEnded(const std::wstring& pid)
{
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, std::stoul(pid));
    if (process == nullptr) {
        return true;
    }
    DWORD code = 0;
    const bool ended = ::GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
    ::CloseHandle(process);
    return ended;
}

std::wstring SystemFolder(UINT(WINAPI* query)(LPWSTR, UINT))
{
    wchar_t buffer[MAX_PATH] = {};
    return std::wstring(buffer, query(buffer, MAX_PATH));
}

class ProcessLaunchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(::CopyFileW(HelperProgram(L"record_start.exe").c_str(), program_.c_str(), FALSE));
    }

    std::vector<StartRecord> Starts() const { return ReadStarts(programFolder_ + L"\\my prog.started.txt"); }

    ScratchFolder scratch_;
    // Blanks in the folder and the name, as in an installation folder.
    std::wstring programFolder_ = scratch_ / L"Tarn Gridwell 2023";
    std::wstring program_ = [this] {
        ::CreateDirectoryW(programFolder_.c_str(), nullptr);
        return programFolder_ + L"\\my prog.exe";
    }();
};

struct StartCase {
    const char* name;
    int hidden;
    const wchar_t* workingFolder;  // relative to the scratch folder; null: none given
    const wchar_t* arguments;
    int expectedShow;
};

class StartCaseTest : public ProcessLaunchTest, public ::testing::WithParamInterface<StartCase> {};

// Verb, parameters, working folder and show state reach the started program.
TEST_P(StartCaseTest, ProgramSeesHowItWasStarted)
{
    const StartCase& row = GetParam();
    std::wstring folder;
    if (row.workingFolder) {
        folder = scratch_ / row.workingFolder;
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    }

    CCabUtil::CMyShellExecuteExecDatas records;
    ASSERT_EQ(StartRecordedProcess(records, program_.c_str(), row.arguments, row.hidden,
                                   row.workingFolder ? folder.c_str() : nullptr),
              1);
    ASSERT_EQ(records.GetSize(), 1u);
    const CCabUtil::CMyShellExecuteExecData& record = *records[0];
    EXPECT_EQ(record.m_Result, 1);
    EXPECT_STREQ(record.m_Info.lpVerb, L"open");
    EXPECT_NE(record.m_Info.fMask & SEE_MASK_NOCLOSEPROCESS, 0u);
    EXPECT_EQ(record.m_Info.nShow, row.expectedShow);
    EXPECT_TRUE(record.m_Process);

    EXPECT_EQ(WaitForRecordedProcesses(records), 1);
    EXPECT_TRUE(records.IsEmpty());

    const std::vector<StartRecord> starts = Starts();
    ASSERT_EQ(starts.size(), 1u);
    StartRecord start = starts[0];
    EXPECT_EQ(start[L"arguments"], row.arguments);
    EXPECT_TRUE(tarn::EqualsNoCase(start[L"folder"], row.workingFolder ? folder : programFolder_))
        << start[L"folder"];
    EXPECT_EQ(start[L"show"], std::to_wstring(row.expectedShow));
    EXPECT_TRUE(ProcessEnded(start[L"pid"]));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StartCaseTest,
    ::testing::Values(StartCase{"HiddenOwnFolder", 1, nullptr, L"one two", SW_HIDE},
                      StartCase{"ShownOwnFolder", 0, nullptr, L"", SW_SHOWNORMAL},
                      StartCase{"OtherShowValueIsShown", 2, nullptr, L"x", SW_SHOWNORMAL},
                      StartCase{"GivenFolderWithBlank", 1, L"work folder", L"/a \"quoted arg\" b", SW_HIDE},
                      StartCase{"KeywordArguments", 1, L"w",
                                L"DownloadFile=\"http://127.0.0.1/a b.cab\" ToFolder=\"C:\\Tarn Data\"",
                                SW_HIDE}),
    [](const ::testing::TestParamInfo<StartCase>& row) { return std::string(row.param.name); });

// Several programs run side by side; the wait returns when all have ended,
// including one that ended at once.
TEST_F(ProcessLaunchTest, WaitReturnsWhenAllHaveEnded)
{
    CCabUtil::CMyShellExecuteExecDatas records;
    EXPECT_EQ(StartRecordedProcess(records, program_.c_str(), L"/sleep=300 first"), 1);
    EXPECT_EQ(StartRecordedProcess(records, program_.c_str(), L"second"), 1);
    EXPECT_EQ(StartRecordedProcess(records, program_.c_str(), L"/sleep=800 /exit=7 third"), 1);
    EXPECT_EQ(records.GetSize(), 3u);

    EXPECT_EQ(WaitForRecordedProcesses(records), 1);
    EXPECT_TRUE(records.IsEmpty());
    const std::vector<StartRecord> starts = Starts();
    ASSERT_EQ(starts.size(), 3u);
    for (StartRecord start : starts) {
        EXPECT_TRUE(ProcessEnded(start[L"pid"])) << start[L"arguments"];
    }
}

// A program that has ended leaves the records within two passes: the first
// closes its handle, the second drops the record. A running one stays.
TEST_F(ProcessLaunchTest, EndedProgramLeavesWithinTwoPasses)
{
    CCabUtil::CMyShellExecuteExecDatas records;
    ASSERT_EQ(StartRecordedProcess(records, program_.c_str(), L"/sleep=60000 runs"), 1);
    ASSERT_EQ(StartRecordedProcess(records, program_.c_str(), L"ends at once"), 1);
    ASSERT_EQ(records.GetSize(), 2u);
    CCabUtil::CMyShellExecuteExecData* running = records[0].get();
    ASSERT_EQ(::WaitForSingleObject(records[1]->m_Process.Get(), 60000), WAIT_OBJECT_0);

    EXPECT_EQ(tarn::SweepRecordedProcesses(records), 1);
    ASSERT_EQ(records.GetSize(), 2u);
    EXPECT_FALSE(records[1]->m_Process);
    EXPECT_EQ(tarn::SweepRecordedProcesses(records), 0);
    ASSERT_EQ(records.GetSize(), 1u);
    EXPECT_EQ(records[0].get(), running);
    EXPECT_TRUE(running->m_Process);

    ASSERT_TRUE(::TerminateProcess(running->m_Process.Get(), 9));
    ASSERT_EQ(::WaitForSingleObject(running->m_Process.Get(), 60000), WAIT_OBJECT_0);
    EXPECT_EQ(tarn::SweepRecordedProcesses(records), 1);
    EXPECT_EQ(tarn::SweepRecordedProcesses(records), 0);
    EXPECT_TRUE(records.IsEmpty());
}

TEST_F(ProcessLaunchTest, WaitOnNothingReturnsZero)
{
    CCabUtil::CMyShellExecuteExecDatas records;
    EXPECT_EQ(WaitForRecordedProcesses(records), 0);
    records.Add(nullptr);  // an empty slot is simply dropped
    EXPECT_EQ(WaitForRecordedProcesses(records), 0);
    EXPECT_TRUE(records.IsEmpty());
}

TEST_F(ProcessLaunchTest, MissingProgramAddsNoRecord)
{
    CCabUtil::CMyShellExecuteExecDatas records;
    const std::wstring missing = programFolder_ + L"\\missing.exe";
    EXPECT_EQ(StartRecordedProcess(records, missing.c_str(), L""), 0);
    EXPECT_EQ(StartRecordedProcess(records, L"tarn_no_such_program.exe", L""), 0);
    EXPECT_EQ(StartRecordedProcess(records, L"", L""), 0);
    EXPECT_EQ(StartRecordedProcess(records, nullptr, L""), 0);
    EXPECT_EQ(StartRecordedProcess(records, programFolder_.c_str(), L""), 0);  // a folder
    EXPECT_TRUE(records.IsEmpty());
    EXPECT_EQ(RunAndWait(missing.c_str(), L""), 0);
}

// A file the shell cannot start keeps a record with result 0, which the
// wait drops without having seen a process end.
TEST_F(ProcessLaunchTest, RefusedStartKeepsFailedRecord)
{
    const std::wstring broken = programFolder_ + L"\\broken.exe";
    ASSERT_TRUE(tarn::test::WriteBytes(broken, "MZ but no program"));
    const std::wstring unknown = programFolder_ + L"\\data.tarnunknown";
    ASSERT_TRUE(tarn::test::WriteBytes(unknown, "data"));

    CCabUtil::CMyShellExecuteExecDatas records;
    EXPECT_EQ(StartRecordedProcess(records, broken.c_str(), L""), 0);
    EXPECT_EQ(StartRecordedProcess(records, unknown.c_str(), L""), 0);
    ASSERT_EQ(records.GetSize(), 2u);
    EXPECT_EQ(records[0]->m_Result, 0);
    EXPECT_FALSE(records[0]->m_Process);
    EXPECT_EQ(WaitForRecordedProcesses(records), 0);
    EXPECT_TRUE(records.IsEmpty());
    EXPECT_EQ(RunAndWait(broken.c_str(), L""), 0);
}

TEST_F(ProcessLaunchTest, RunAndWaitReturnsAfterTheEnd)
{
    const std::wstring folder = scratch_ / L"run here";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_EQ(RunAndWait(program_.c_str(), L"/sleep=500 /exit=3 x64", 0, folder.c_str()), 1);
    std::vector<StartRecord> starts = Starts();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_TRUE(ProcessEnded(starts[0][L"pid"]));
    EXPECT_EQ(starts[0][L"arguments"], L"/sleep=500 /exit=3 x64");
    EXPECT_TRUE(tarn::EqualsNoCase(starts[0][L"folder"], folder));
    EXPECT_EQ(starts[0][L"show"], std::to_wstring(SW_SHOWNORMAL));
}

// An owner that is no window is replaced by the desktop window (this test
// thread has no active window).
TEST_F(ProcessLaunchTest, InvalidOwnerFallsBackToDesktop)
{
    CCabUtil::CMyShellExecuteExecDatas records;
    ASSERT_EQ(StartRecordedProcess(records, program_.c_str(), L"", 1, nullptr,
                                   reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7FFF0))),
              1);
    EXPECT_EQ(records[0]->m_Info.hwnd, ::GetDesktopWindow());
    WaitForRecordedProcesses(records);
}

// A bare name that is neither a file here nor elsewhere given is looked for
// in the Windows folder and then the System folder (as the platform names
// them) and started from there, hidden, with that folder as working folder.
class SystemFolderTest : public ProcessLaunchTest,
                         public ::testing::WithParamInterface<UINT(WINAPI*)(LPWSTR, UINT)> {};

TEST_P(SystemFolderTest, BareNameIsFoundThere)
{
    const std::wstring folder = SystemFolder(GetParam());
    ASSERT_FALSE(folder.empty());
    const std::wstring name = L"tarn_record_" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
    const std::wstring installed = folder + L"\\" + name;
    ASSERT_TRUE(::CopyFileW(program_.c_str(), installed.c_str(), FALSE));
    const std::wstring recordFile = scratch_ / L"system.started.txt";
    const std::wstring arguments = L"\"/record=" + recordFile + L"\" word";

    EXPECT_EQ(RunAndWait(name.c_str(), arguments.c_str(), 0, programFolder_.c_str()), 1);
    CCabUtil::CMyShellExecuteExecDatas records;
    EXPECT_EQ(StartRecordedProcess(records, name.c_str(), arguments.c_str(), 0), 1);
    ASSERT_EQ(records.GetSize(), 1u);
    EXPECT_EQ(WaitForRecordedProcesses(records), 1);
    ::DeleteFileW(installed.c_str());

    std::vector<StartRecord> starts = ReadStarts(recordFile);
    ASSERT_EQ(starts.size(), 2u);
    for (StartRecord start : starts) {
        EXPECT_TRUE(tarn::EqualsNoCase(start[L"program"], installed)) << start[L"program"];
        EXPECT_TRUE(tarn::EqualsNoCase(start[L"folder"], folder)) << start[L"folder"];
        EXPECT_EQ(start[L"show"], std::to_wstring(SW_HIDE));
        EXPECT_EQ(start[L"arguments"], arguments);
    }
}

INSTANTIATE_TEST_SUITE_P(Folders, SystemFolderTest,
                         ::testing::Values(&::GetWindowsDirectoryW, &::GetSystemDirectoryW));

// A program at a drive's root runs in that root, not in the drive's
// current folder.
TEST_F(ProcessLaunchTest, ProgramAtDriveRootRunsInTheRoot)
{
    const std::wstring atRoot = L"C:\\tarn_root_" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
    ASSERT_TRUE(::CopyFileW(program_.c_str(), atRoot.c_str(), FALSE));
    const std::wstring recordFile = scratch_ / L"root.started.txt";
    const std::wstring previous = [] {
        wchar_t current[MAX_PATH] = {};
        return std::wstring(current, ::GetCurrentDirectoryW(MAX_PATH, current));
    }();
    // Make the drive's current folder differ from its root.
    ASSERT_TRUE(::SetCurrentDirectoryW(scratch_.Path().c_str()));
    EXPECT_EQ(RunAndWait(atRoot.c_str(), (L"\"/record=" + recordFile + L"\"").c_str()), 1);
    ::SetCurrentDirectoryW(previous.c_str());
    ::DeleteFileW(atRoot.c_str());

    std::vector<StartRecord> starts = ReadStarts(recordFile);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_TRUE(tarn::EqualsNoCase(starts[0][L"folder"], L"C:\\")) << starts[0][L"folder"];
}

// A program on a network share runs with the temporary folder as working
// folder. Under Wine a share \\host\share is the prefix's
// dosdevices/unc/host/share folder; elsewhere the test has no share to use.
TEST_F(ProcessLaunchTest, ProgramOnShareRunsInTempFolder)
{
    using DosFileName = WCHAR*(CDECL*)(LPCSTR);
    const auto toDos = reinterpret_cast<DosFileName>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    char prefix[MAX_PATH] = {};
    if (toDos == nullptr || ::GetEnvironmentVariableA("WINEPREFIX", prefix, MAX_PATH) == 0) {
        GTEST_SKIP() << "no Wine prefix to hold a share";
    }
    const std::string host = "tarnhost" + std::to_string(::GetCurrentProcessId());
    WCHAR* uncRoot = toDos((std::string(prefix) + "/dosdevices/unc").c_str());
    ASSERT_NE(uncRoot, nullptr);
    const std::wstring hostFolder = std::wstring(uncRoot) + L"\\" + std::wstring(host.begin(), host.end());
    ::HeapFree(::GetProcessHeap(), 0, uncRoot);
    ::CreateDirectoryW((hostFolder.substr(0, hostFolder.find_last_of(L'\\'))).c_str(), nullptr);
    ::CreateDirectoryW(hostFolder.c_str(), nullptr);
    ASSERT_TRUE(::CreateDirectoryW((hostFolder + L"\\share").c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW(program_.c_str(), (hostFolder + L"\\share\\prog.exe").c_str(), FALSE));

    const std::wstring onShare = L"\\\\" + std::wstring(host.begin(), host.end()) + L"\\share\\prog.exe";
    const std::wstring recordFile = scratch_ / L"share.started.txt";
    EXPECT_EQ(RunAndWait(onShare.c_str(), (L"\"/record=" + recordFile + L"\"").c_str()), 1);
    tarn::test::RemoveTree(hostFolder);
    ::RemoveDirectoryW(hostFolder.substr(0, hostFolder.find_last_of(L'\\')).c_str());  // only when empty

    std::vector<StartRecord> starts = ReadStarts(recordFile);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_TRUE(tarn::EqualsNoCase(starts[0][L"folder"], GetTempFolder())) << starts[0][L"folder"];
}

// The setup and update doubles record their starts beside themselves.
TEST_F(ProcessLaunchTest, DoublesRecordTheirStart)
{
    for (const wchar_t* name : {L"Setup", L"Update_x64"}) {
        const std::wstring copy = scratch_ / (std::wstring(name) + L".exe");
        ASSERT_TRUE(::CopyFileW(HelperProgram(std::wstring(L"doubles\\") + name + L".exe").c_str(),
                                copy.c_str(), FALSE))
            << name;
        EXPECT_EQ(RunAndWait(copy.c_str(), L"x64"), 1);
        std::vector<StartRecord> starts = ReadStarts(scratch_ / (std::wstring(name) + L".started.txt"));
        ASSERT_EQ(starts.size(), 1u) << name;
        EXPECT_EQ(starts[0][L"arguments"], L"x64");
        EXPECT_TRUE(tarn::EqualsNoCase(starts[0][L"program"], copy));
    }
}

}  // namespace
