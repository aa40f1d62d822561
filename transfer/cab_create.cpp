#include "transfer/cab_create.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>

#include "config/text/char_buffer.h"
#include "config/text/text_file.h"
#include "support/claimed_folder.h"
#include "support/file_system.h"
#include "support/name_compare.h"
#include "support/path_text.h"
#include "support/text_format.h"
#include "support/trace.h"
#include "support/unique_handle.h"
#include "transfer/cab_extract.h"
#include "transfer/cab_inspect.h"
#include "transfer/cab_names.h"
#include "transfer/download_url.h"
#include "transfer/file_info.h"

namespace {

const wchar_t kMakeCabProgram[] = L"MakeCab.exe";
const wchar_t kMakeCabOutput[] = L"mcab.log";
// What the command interpreter answers for a program it cannot find.
const DWORD kCommandNotFound = 9009;

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

// The last line that is not empty of the maker's captured output (UTF-8, or
// the console's code page when it is not).
std::wstring LastOutputLine(const std::wstring& path)
{
    CChar buffer;
    if (!GetFileToBuffer(path.c_str(), buffer)) {
        return std::wstring();
    }
    std::string bytes(buffer.Data(), static_cast<size_t>(buffer.GetSize()));
    while (!bytes.empty() && (bytes.back() == '\r' || bytes.back() == '\n' || bytes.back() == ' ')) {
        bytes.pop_back();
    }
    const size_t lineStart = bytes.find_last_of("\r\n");
    const std::string line = lineStart == std::string::npos ? bytes : bytes.substr(lineStart + 1);
    const int size = static_cast<int>(line.size());
    UINT codePage = CP_UTF8;
    int length = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, line.data(), size, nullptr, 0);
    if (length <= 0) {
        codePage = CP_OEMCP;
        length = ::MultiByteToWideChar(codePage, 0, line.data(), size, nullptr, 0);
    }
    std::wstring text(static_cast<size_t>(std::max(length, 0)), L'\0');
    ::MultiByteToWideChar(codePage, 0, line.data(), size, text.data(), length);
    return text;
}

// A file's size and last-write time before and after it was packed.
struct FileStamp {
    int64_t size = -1;
    FILETIME written{};
};

bool StampFile(const std::wstring& path, FileStamp& stamp)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return false;
    }
    stamp.size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    stamp.written = data.ftLastWriteTime;
    return true;
}

// Why the cabinet's entries are not the files handed to the maker (their
// paths below `source`, which ends with a backslash, and sizes); empty when
// they are.
std::wstring CompareEntries(const tarn::CabinetFacts& facts, const std::wstring& source,
                            const std::vector<std::wstring>& files, const std::vector<FileStamp>& stamps)
{
    if (facts.entries.size() != files.size()) {
        return tarn::FormatText(L"it holds %zu entries instead of %zu", facts.entries.size(), files.size());
    }
    std::vector<std::pair<std::wstring, int64_t>> expected;
    std::vector<std::pair<std::wstring, int64_t>> found;
    for (size_t i = 0; i < files.size(); ++i) {
        expected.emplace_back(files[i].substr(source.size()), stamps[i].size);
        found.emplace_back(tarn::cab::NormalizeEntryName(facts.entries[i].name), facts.entries[i].size);
    }
    const auto byName = [](const auto& a, const auto& b) { return tarn::CompareNoCase(a.first, b.first) < 0; };
    std::sort(expected.begin(), expected.end(), byName);
    std::sort(found.begin(), found.end(), byName);
    for (size_t i = 0; i < expected.size(); ++i) {
        if (!tarn::EqualsNoCase(expected[i].first, found[i].first)) {
            return L"it holds \"" + found[i].first + L"\" where \"" + expected[i].first + L"\" was handed in";
        }
        if (expected[i].second != found[i].second) {
            return tarn::FormatText(L"its entry \"%ls\" has %lld bytes instead of %lld", found[i].first.c_str(),
                                    static_cast<long long>(found[i].second), static_cast<long long>(expected[i].second));
        }
    }
    return std::wstring();
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
    // The maker's output is kept for the caller, and its exit code passed on.
    lines.push_back(quotedProgram + L" " + command + L" > " + kMakeCabOutput + L" 2>&1");
    lines.push_back(L"exit /b %errorlevel%");
    batchPath = folder + L"\\mcab.bat";
    return true;
}

}  // namespace tarn

namespace tarn {

int RunMakeCabFor(const wchar_t* program, const wchar_t* arguments, MakeCabRun& run)
{
    run = MakeCabRun{};
    if (IsEmptyText(program)) {
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
    if (StartsWithNoCase(name, kMakeCabProgram)) {
        std::vector<std::wstring> lines;
        if (BuildMakeCabBatch(programText, argumentText, lines, batchPath)) {
            if (!WriteArray(batchPath.c_str(), lines)) {
                Trace(L"RunMakeCab: cannot write the batch file %ls (error %lu)", batchPath.c_str(),
                            ::GetLastError());
                ::DeleteFileW(batchPath.c_str());
                return 0;
            }
            info.lpFile = batchPath.c_str();
            info.lpParameters = nullptr;
        } else {
            // No drive to change to: the maker runs directly in the
            // directive file's folder, which stays its current folder.
            workFolder = DirectiveFolder(argumentText);
            info.lpDirectory = workFolder.empty() ? nullptr : workFolder.c_str();
        }
    }

    if (!::ShellExecuteExW(&info)) {
        Trace(L"RunMakeCab: cannot start %ls (error %lu)", info.lpFile, ::GetLastError());
        if (!batchPath.empty()) {
            ::DeleteFileW(batchPath.c_str());
        }
        return 0;
    }
    const UniqueKernelHandle process(info.hProcess);
    if (process) {
        // Its exit code says when it is done: no settling time is needed.
        WaitForProcessEnd(process.Get());
        DWORD code = 0;
        run.exitCode = ::GetExitCodeProcess(process.Get(), &code) ? code : 0;
    }
    if (!batchPath.empty()) {
        ::DeleteFileW(batchPath.c_str());
        const std::wstring output = DirectiveFolder(argumentText) + L"\\" + kMakeCabOutput;
        run.lastLine = LastOutputLine(output);
        ::DeleteFileW(output.c_str());
    }
    run.notFound = run.exitCode == kCommandNotFound;
    return 1;
}

}  // namespace tarn

int RunMakeCab(const wchar_t* program, const wchar_t* arguments)
{
    tarn::MakeCabRun run;
    return tarn::RunMakeCabFor(program, arguments, run);
}


int MakeCabinet(const wchar_t* sourceFolder, const wchar_t* cabinetPath, const std::vector<std::wstring>* fileList)
{
    std::wstring cause;
    return tarn::MakeCabinetExplained(sourceFolder, cabinetPath, fileList, cause);
}

namespace tarn {

std::wstring FindNameOutsideCodePage(const std::vector<std::wstring>& files)
{
    for (const std::wstring& file : files) {
        BOOL lossy = FALSE;
        const int size = static_cast<int>(file.size());
        if (::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, file.data(), size, nullptr, 0, nullptr, &lossy) <= 0 ||
            lossy) {
            return file;
        }
    }
    return std::wstring();
}

int MakeCabinetExplained(const wchar_t* sourceFolder, const wchar_t* cabinetPath,
                         const std::vector<std::wstring>* fileList, std::wstring& cause)
{
    cause.clear();
    if (IsEmptyText(sourceFolder) || IsEmptyText(cabinetPath)) {
        cause = L"no source folder or cabinet path given";
        return 0;
    }
    std::wstring source = sourceFolder;
    if (source.back() != L'\\') {
        source += L'\\';
    }
    const std::wstring cabinet = cabinetPath;
    const size_t slash = cabinet.find_last_of(L'\\');
    const int made = [&]() -> int {
        if (slash == std::wstring::npos) {
            cause = L"the cabinet path names no folder";
            return 0;
        }
        std::vector<std::wstring> collected;
        if (fileList == nullptr) {
            ListFiles(source.c_str(), collected);
        }
        const std::vector<std::wstring>& files = fileList == nullptr ? collected : *fileList;
        if (files.empty()) {
            cause = L"no file to pack below " + source;
            return 0;
        }
        const std::wstring uncarried = FindNameOutsideCodePage(files);
        if (!uncarried.empty()) {
            cause = L"the name of " + uncarried + L" cannot be written in the directive file's code page";
            return 0;
        }
        std::vector<FileStamp> before(files.size());
        for (size_t i = 0; i < files.size(); ++i) {
            if (!StampFile(files[i], before[i])) {
                cause = FormatText(L"cannot read %ls (error %lu)", files[i].c_str(), ::GetLastError());
                return 0;
            }
        }
        // A work folder a killed run left with a cabinet half made goes here.
        const ClaimedWorkFolder work(GetTempFolder(), L"_Tarn_MakeCab_");
        if (work.Folder().empty()) {
            cause = FormatText(L"no work folder in the temporary folder (error %lu)", ::GetLastError());
            return 0;
        }
        const std::wstring cabinetName = cabinet.substr(slash + 1);
        const std::wstring tempCabinet = work.Folder() + L"\\" + cabinetName;
        const std::wstring directiveFile = work.Folder() + L"\\$TarnMakeCab$_" + cabinetName + L".txt";
        std::vector<std::wstring> lines;
        std::wstring outside;
        if (!BuildMakeCabDirectives(source, tempCabinet, files, lines, outside)) {
            cause = outside + L" lies outside the source folder " + source;
            return 0;
        }
        if (!WriteArray(directiveFile.c_str(), lines)) {
            cause = FormatText(L"cannot write the directive file %ls (error %lu)", directiveFile.c_str(),
                               ::GetLastError());
            return 0;
        }
        const std::wstring arguments = L"/f \"" + directiveFile + L"\"";
        MakeCabRun run;
        int started = RunMakeCabFor(kMakeCabProgram, arguments.c_str(), run);
        if (!run.notFound && (!started || !FileExists(tempCabinet.c_str()))) {
            started = RunMakeCabFor(kMakeCabProgram, arguments.c_str(), run);
        }
        if (!started || run.notFound) {
            cause = std::wstring(L"the cabinet maker ") + kMakeCabProgram + L" cannot be started or is not on the search path";
            return 0;
        }
        const std::wstring said = run.lastLine.empty() ? std::wstring() : L": " + run.lastLine;
        if (run.exitCode != 0) {
            cause = FormatText(L"%ls ended with exit code %lu%ls", kMakeCabProgram, run.exitCode, said.c_str());
            return 0;
        }
        if (!FileExists(tempCabinet.c_str())) {
            cause = std::wstring(kMakeCabProgram) + L" made no cabinet" + said;
            return 0;
        }
        const CabinetFacts facts = InspectCabinet(tempCabinet);
        cause = facts.problem.empty() ? CompareEntries(facts, source, files, before) : facts.problem;
        if (!cause.empty()) {
            cause = L"the cabinet the maker made is wrong: " + cause;
            return 0;
        }
        // A file rewritten while it was read may be packed torn.
        for (size_t i = 0; i < files.size(); ++i) {
            FileStamp after;
            if (!StampFile(files[i], after) || after.size != before[i].size ||
                ::CompareFileTime(&after.written, &before[i].written) != 0) {
                cause = files[i] + L" changed while it was packed";
                return 0;
            }
        }
        ::SetFileAttributesW(cabinetPath, FILE_ATTRIBUTE_NORMAL);
        if (!::MoveFileExW(tempCabinet.c_str(), cabinetPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
            cause = FormatText(L"cannot move the new cabinet to %ls (error %lu)", cabinetPath, ::GetLastError());
            return 0;
        }
        RememberCabinetFacts(cabinet, facts);
        if (!WriteFileInfoWith(cabinetPath, facts.size, facts.checksum)) {
            cause = FormatText(L"cannot write the record of %ls (error %lu)", cabinetPath, ::GetLastError());
            DeleteStaleRecord(cabinet);
            return 0;
        }
        return 1;
    }();
    if (!made) {
        Trace(L"MakeCabinet: %ls not made: %ls", cabinetPath, cause.c_str());
    }
    return made;
}

}  // namespace tarn
