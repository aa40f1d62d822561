#pragma once
// Helpers shared by the file-system sources of this folder (file queries,
// folder trees, temporary files, file times). Not for use elsewhere.

#include <windows.h>

#include <string>
#include <vector>

namespace tarn::fs {

// Any file-system entry, file or folder, without wildcard matching.
bool EntryExists(const std::wstring& path);
bool IsFolder(const std::wstring& path);
bool IsDotEntry(const WIN32_FIND_DATAW& data);
bool IsFolderEntry(const WIN32_FIND_DATAW& data);
bool SetNormalAttributes(const wchar_t* path);

}  // namespace tarn::fs
