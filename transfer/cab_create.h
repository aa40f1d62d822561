#pragma once
// Making a cabinet from a folder, or from a list of files inside it, with the
// platform's cabinet maker "MakeCab.exe": a directive file names the files,
// grouped by their folder below the source folder; a small batch file runs
// the maker in a work folder of its own; the finished cabinet is moved into
// place and gets its file-info record.

#include <string>
#include <vector>

#include "support/sorted_array.h"

// The files of one destination folder inside a cabinet, in the order added.
// m_Key is a backslash followed by the folder's path relative to the source
// folder ("\" alone for files that lie directly in it).
class CCabFolderFiles : public std::vector<std::wstring> {
public:
    std::wstring m_Key;
};

// The destination folders of one cabinet, ordered and looked up by key
// without regard to case; it owns its entries.
class CCabFolders : public CSortedPtrArray<CCabFolderFiles> {
public:
    // The group of `key`, created at its sorted place when missing.
    CCabFolderFiles& Get(const std::wstring& key);
};

// Makes the cabinet `cabinetPath` (a full path) from `fileList` (full paths
// below `sourceFolder`), or from every file below `sourceFolder` when no list
// is given (tarn::MakeCabinetExplained without the cause).
int MakeCabinet(const wchar_t* sourceFolder, const wchar_t* cabinetPath,
                const std::vector<std::wstring>* fileList = nullptr);

// tarn::RunMakeCabFor without the maker's result: 1 when it could be started.
int RunMakeCab(const wchar_t* program, const wchar_t* arguments);

namespace tarn {

// Makes the cabinet as MakeCabinet describes. Returns 1 only when the maker
// ended with exit code 0, its cabinet opens and holds exactly the files
// handed to it (names below the source folder and sizes), no file changed
// while it was packed, and the cabinet was moved into place with its record
// (written from the one read that checked it). Otherwise 0 with `cause`
// naming why (the maker's own last output line among it), and a cabinet that
// was at `cabinetPath` stays as it was. A listed file outside the source
// folder, or one whose name the ANSI code page of the directive file cannot
// carry, fails the cabinet before the maker runs.
int MakeCabinetExplained(const wchar_t* sourceFolder, const wchar_t* cabinetPath,
                         const std::vector<std::wstring>* fileList, std::wstring& cause);

// The first of `files` whose name the ANSI code page cannot carry unchanged;
// empty when there is none.
std::wstring FindNameOutsideCodePage(const std::vector<std::wstring>& files);

// What one run of the cabinet maker came to.
struct MakeCabRun {
    unsigned long exitCode = 0;
    std::wstring lastLine;  // its last line of output (captured by the batch wrapper)
    bool notFound = false;  // the command interpreter could not find it
};

// Runs `program` with `arguments` hidden and waits for its end. A cabinet
// maker whose directive file has a drive runs through a batch file that first
// changes to the directive file's folder, keeps the maker's output and passes
// its exit code on; without a drive it runs directly in that folder. Returns
// 1 when it could be started, with `run` filled.
int RunMakeCabFor(const wchar_t* program, const wchar_t* arguments, MakeCabRun& run);

// Longest cabinet the directive files allow.
inline constexpr long long kMaxCabinetBytes = 2147483648LL;

// The directive lines for a cabinet at `tempCabinet` holding `files`
// (`sourceFolder` ends with a backslash). False, with the offending path in
// `outside`, when a file does not lie below the source folder.
bool BuildMakeCabDirectives(const std::wstring& sourceFolder, const std::wstring& tempCabinet,
                            const std::vector<std::wstring>& files, std::vector<std::wstring>& lines,
                            std::wstring& outside);

// The batch wrapper's lines for `program` and `arguments` (the last argument
// is the directive file, as given, quoted or not) and the batch file's path:
// the maker's output goes to "mcab.log" beside it, its exit code is the
// batch's.
// False when the arguments name no drive: the maker then runs directly.
bool BuildMakeCabBatch(const std::wstring& program, const std::wstring& arguments,
                       std::vector<std::wstring>& lines, std::wstring& batchPath);

// The folder of the directive file named last in `arguments` (no quotes, no
// trailing backslash); empty when there is none.
std::wstring DirectiveFolder(const std::wstring& arguments);

}  // namespace tarn
