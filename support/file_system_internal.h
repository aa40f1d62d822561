#pragma once
// Helpers shared by the file-system sources of this folder (file queries,
// folder trees, temporary files, file times). Not for use elsewhere.

#include <windows.h>

#include <string>
#include <vector>

namespace tarn::fs {

bool IsEmpty(const wchar_t* path);
// Any file-system entry, file or folder, without wildcard matching.
bool EntryExists(const std::wstring& path);
bool IsFolder(const std::wstring& path);
bool IsDotEntry(const WIN32_FIND_DATAW& data);
bool IsFolderEntry(const WIN32_FIND_DATAW& data);
std::wstring StripOneTrailingBackslash(std::wstring path);
bool SetNormalAttributes(const wchar_t* path);
// Removes folders, deepest (longest path) first, while `workFolder` is the
// current directory (a folder cannot go while it is current); `keep` stays.
// Restores the current directory afterwards when it still exists. Returns
// the number of failed removals.
int RemoveFoldersDeepestFirst(std::vector<std::wstring> folders, const std::wstring& keep,
                              const std::wstring& workFolder);

}  // namespace tarn::fs
