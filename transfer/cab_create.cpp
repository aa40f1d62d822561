#include "transfer/cab_create.h"

#include <windows.h>

#include <shellapi.h>

#include "config/text/text_file.h"
#include "support/file_system.h"
#include "support/name_compare.h"
#include "support/path_text.h"
#include "support/trace.h"
#include "support/unique_handle.h"
#include "transfer/download_url.h"
#include "transfer/file_info.h"

namespace {

const wchar_t kMakeCabProgram[] = L"MakeCab.exe";

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

bool IsCabinetName(const std::wstring& path)
{
    const std::wstring name = tarn::FileNameOf(path);
    const size_t dot = name.find_last_of(L'.');
    return dot != std::wstring::npos && tarn::EqualsNoCase(std::wstring_view(name).substr(dot), L".cab");
}

// Where the last argument starts and how long it is: the text after the last
// blank, or between the last pair of quotes when the arguments end with one.
void FindLastArgument(const std::wstring& arguments, size_t& start, size_t& length)
{
    if (!arguments.empty() && arguments.back() == L'"') {
        const size_t open = arguments.find_last_of(L'"', arguments.size() - 2);
        start = open == std::wstring::npos ? 0 : open + 1;
        length = arguments.size() - 1 - start;
        return;
    }
    const size_t blank = arguments.find_last_of(L' ');
    start = blank == std::wstring::npos ? 0 : blank + 1;
    length = arguments.size() - start;
}

// True when a relative path climbs out of its folder.
bool ClimbsOut(std::wstring_view relative)
{
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find(L'\\', start);
        if (end == std::wstring_view::npos) {
            end = relative.size();
        }
        if (relative.substr(start, end - start) == L"..") {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// Polls the process's times every 100 ms until it has ended.
void WaitForProcessEnd(HANDLE process)
{
    for (;;) {
        FILETIME created{};
        FILETIME exited{};
        FILETIME kernel{};
        FILETIME user{};
        if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) {
            return;
        }
        if (exited.dwLowDateTime != 0 || exited.dwHighDateTime != 0) {
            return;
        }
        ::Sleep(100);
    }
}

void DeleteStaleRecord(const std::wstring& cabinetPath)
{
    const std::wstring record = tarn::FileInfoNameFor(cabinetPath);
    if (!record.empty() && FileExists(record.c_str())) {
        ::SetFileAttributesW(record.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(record.c_str());
    }
}

}  // namespace

CCabFolderFiles& CCabFolders::Get(const std::wstring& key)
{
    const size_t at = LowerBound(key, [](const std::unique_ptr<CCabFolderFiles>& group, const std::wstring& k) {
        return tarn::CompareNoCase(group->m_Key, k) < 0;
    });
    if (at < GetSize() && tarn::EqualsNoCase((*this)[at]->m_Key, key)) {
        return *(*this)[at];
    }
    auto group = std::make_unique<CCabFolderFiles>();
    group->m_Key = key;
    CCabFolderFiles& added = *group;
    InsertAt(at, std::move(group));
    return added;
}

namespace tarn {

bool BuildMakeCabDirectives(const std::wstring& sourceFolder, const std::wstring& tempCabinet,
                            const std::vector<std::wstring>& files, std::vector<std::wstring>& lines,
                            std::wstring& outside)
{
    lines.clear();
    bool allCabinets = true;
    CCabFolders folders;
    for (const std::wstring& file : files) {
        // The key is the file's folder below the source folder; a file
        // elsewhere would land in a folder the cabinet cannot name.
        const std::wstring_view relative = std::wstring_view(file).substr(std::min(sourceFolder.size(), file.size()));
        if (file.size() <= sourceFolder.size() || !StartsWithNoCase(file, sourceFolder) || ClimbsOut(relative)) {
            outside = file;
            return false;
        }
        const size_t slash = relative.find_last_of(L'\\');
        const std::wstring key =
            L"\\" + (slash == std::wstring_view::npos ? std::wstring() : std::wstring(relative.substr(0, slash)));
        folders.Get(key).push_back(file);
        allCabinets = allCabinets && IsCabinetName(file);
    }
    lines.push_back(L".OPTION EXPLICIT");
    lines.push_back(L".Set DiskDirectoryTemplate=");
    lines.push_back(L".Set CabinetNameTemplate=" + Quoted(tempCabinet));
    lines.push_back(L".Set MaxDiskSize=2147483648");
    lines.push_back(L".Set Cabinet=on");
    // Cabinets inside a cabinet do not shrink: they are stored.
    lines.push_back(allCabinets ? L".Set Compress=off" : L".Set Compress=on");
    for (const auto& group : folders) {
        lines.push_back(L".Set DestinationDir=" + Quoted(group->m_Key));
        for (const std::wstring& file : *group) {
            lines.push_back(Quoted(file));
        }
    }
    return true;
}

std::wstring DirectiveFolder(const std::wstring& arguments)
{
    size_t start = 0;
    size_t length = 0;
    FindLastArgument(arguments, start, length);
    const std::wstring path = arguments.substr(start, length);
    return tarn::FolderOf(path);
}

bool BuildMakeCabBatch(const std::wstring& program, const std::wstring& arguments,
                       std::vector<std::wstring>& lines, std::wstring& batchPath)
{
    lines.clear();
    const size_t colon = arguments.find(L':');
    const size_t lastSlash = arguments.find_last_of(L'\\');
    if (colon == std::wstring::npos || colon == 0 || lastSlash == std::wstring::npos || lastSlash < colon) {
        return false;
    }
    const std::wstring drive = arguments.substr(colon - 1, 2);
    const std::wstring folder = arguments.substr(colon - 1, lastSlash - (colon - 1));

    size_t start = 0;
    size_t length = 0;
    FindLastArgument(arguments, start, length);
    std::wstring command = arguments;
    const std::wstring last = arguments.substr(start, length);
    wchar_t shortPath[MAX_PATH] = {};
    const DWORD shortLength = ::GetShortPathNameW(last.c_str(), shortPath, MAX_PATH);
    if (shortLength > 0 && shortLength < MAX_PATH) {
        command.replace(start, length, shortPath);
    }
    const std::wstring quotedProgram = !program.empty() && program[0] == L'"' ? program : Quoted(program);

    lines.push_back(L"@echo off");
    lines.push_back(drive);
    lines.push_back(L"cd " + Quoted(folder));
    lines.push_back(quotedProgram + L" " + command);
    batchPath = folder + L"\\mcab.bat";
    return true;
}

}  // namespace tarn

int RunMakeCab(const wchar_t* program, const wchar_t* arguments)
{
    if (tarn::IsEmptyText(program)) {
        return 0;
    }
    const std::wstring programText = program;
    const std::wstring argumentText = arguments == nullptr ? std::wstring() : std::wstring(arguments);
    std::wstring name = programText;
    const size_t cut = name.find_last_of(L"\\\"");
    if (cut != std::wstring::npos) {
        name = name.substr(cut + 1);
    }

    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = ::GetDesktopWindow();
    info.lpVerb = L"open";
    info.nShow = SW_HIDE;
    info.lpFile = program;
    info.lpParameters = argumentText.c_str();

    std::wstring batchPath;
    std::wstring workFolder;
    if (tarn::StartsWithNoCase(name, kMakeCabProgram)) {
        std::vector<std::wstring> lines;
        if (tarn::BuildMakeCabBatch(programText, argumentText, lines, batchPath)) {
            if (!WriteArray(batchPath.c_str(), lines)) {
                tarn::Trace(L"RunMakeCab: cannot write the batch file %ls (error %lu)", batchPath.c_str(),
                            ::GetLastError());
                ::DeleteFileW(batchPath.c_str());
                return 0;
            }
            info.lpFile = batchPath.c_str();
            info.lpParameters = nullptr;
        } else {
            // No drive to change to: the maker runs directly in the
            // directive file's folder, which stays its current folder.
            workFolder = tarn::DirectiveFolder(argumentText);
            info.lpDirectory = workFolder.empty() ? nullptr : workFolder.c_str();
        }
    }

    if (!::ShellExecuteExW(&info)) {
        tarn::Trace(L"RunMakeCab: cannot start %ls (error %lu)", info.lpFile, ::GetLastError());
        if (!batchPath.empty()) {
            ::DeleteFileW(batchPath.c_str());
        }
        return 0;
    }
    const tarn::UniqueKernelHandle process(info.hProcess);
    if (process) {
        WaitForProcessEnd(process.Get());
        // The maker's files settle before the caller looks for the cabinet.
        ::Sleep(2000);
    }
    if (!batchPath.empty()) {
        ::DeleteFileW(batchPath.c_str());
    }
    return 1;
}

int MakeCabinet(const wchar_t* sourceFolder, const wchar_t* cabinetPath, const std::vector<std::wstring>* fileList)
{
    if (tarn::IsEmptyText(sourceFolder) || tarn::IsEmptyText(cabinetPath)) {
        return 0;
    }
    std::wstring source = sourceFolder;
    if (source.back() != L'\\') {
        source += L'\\';
    }
    const std::wstring cabinet = cabinetPath;
    const size_t slash = cabinet.find_last_of(L'\\');
    if (slash == std::wstring::npos) {
        tarn::Trace(L"MakeCabinet: the cabinet path %ls names no folder", cabinetPath);
        return 0;
    }
    const std::wstring cabinetName = cabinet.substr(slash + 1);

    UniqueTempFolder work;
    if (work.m_Folder.empty()) {
        tarn::Trace(L"MakeCabinet: no work folder for %ls (error %lu)", cabinetPath, ::GetLastError());
        return 0;
    }
    const std::wstring tempCabinet = work.m_Folder + L"\\" + cabinetName;
    const std::wstring directiveFile = work.m_Folder + L"\\$TarnMakeCab$_" + cabinetName + L".txt";

    std::vector<std::wstring> collected;
    if (fileList == nullptr) {
        ListFiles(source.c_str(), collected);
    }
    const std::vector<std::wstring>& files = fileList == nullptr ? collected : *fileList;
    if (files.empty()) {
        tarn::Trace(L"MakeCabinet: no file to pack into %ls from %ls", cabinetPath, source.c_str());
        return 0;
    }
    std::vector<std::wstring> lines;
    std::wstring outside;
    if (!tarn::BuildMakeCabDirectives(source, tempCabinet, files, lines, outside)) {
        tarn::Trace(L"MakeCabinet: %ls lies outside the source folder %ls of %ls", outside.c_str(), source.c_str(),
                    cabinetPath);
        return 0;
    }
    if (!WriteArray(directiveFile.c_str(), lines)) {
        tarn::Trace(L"MakeCabinet: cannot write the directive file %ls (error %lu)", directiveFile.c_str(),
                    ::GetLastError());
        return 0;
    }

    const std::wstring arguments = L"/f \"" + directiveFile + L"\"";
    RunMakeCab(kMakeCabProgram, arguments.c_str());
    if (!FileExists(tempCabinet.c_str())) {
        RunMakeCab(kMakeCabProgram, arguments.c_str());
    }
    ::Sleep(500);
    ::DeleteFileW(directiveFile.c_str());

    if (!FileExists(tempCabinet.c_str())) {
        tarn::Trace(L"MakeCabinet: the cabinet maker made no %ls", cabinetPath);
        if (!FileExists(cabinetPath)) {
            DeleteStaleRecord(cabinet);
        }
        return 0;
    }
    // The earlier cabinet goes only when this run's replaces it: one that is
    // held open elsewhere stays, with its record, and the run fails.
    ::SetFileAttributesW(cabinetPath, FILE_ATTRIBUTE_NORMAL);
    if (!::MoveFileExW(tempCabinet.c_str(), cabinetPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        tarn::Trace(L"MakeCabinet: cannot move the new cabinet to %ls (error %lu)", cabinetPath, ::GetLastError());
        if (!FileExists(cabinetPath)) {
            DeleteStaleRecord(cabinet);
        }
        return 0;
    }
    if (!WriteFileInfo(cabinetPath)) {
        tarn::Trace(L"MakeCabinet: cannot write the record of %ls (error %lu)", cabinetPath, ::GetLastError());
        DeleteStaleRecord(cabinet);
        return 0;
    }
    return 1;
}
