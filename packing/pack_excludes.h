#pragma once
// What is never packed: the packing configuration's lists of extensions and
// file names (written back with their defaults when missing), and a fixed
// list that the group split applies on its own.

#include <string>
#include <vector>

// Removes from `files` (full paths) every file whose name begins with
// `prefix` (when given), whose extension or name is in the packing
// configuration's `Excludes` lists, or that is a file-info record. Writes
// what stays to the packed-list record. Returns 1 when it removed a file.
int ApplyPackingExcludes(std::vector<std::wstring>& files, const wchar_t* prefix = nullptr);

namespace tarn {

// The packing configuration's path: "N:\CD_2023\DataPacking.cgf" at first.
const std::wstring& PackingConfigPath();
// The Corvin modes read the file of the same name on another drive; the
// switch lasts for the rest of the process.
void SwitchPackingConfigDrive(wchar_t drive);
// Test seams: the configuration and the packed-list record at other paths
// (an empty path restores the build machines' one).
void SetPackingConfigPathForTest(const std::wstring& path);
void SetPackedListRecordForTest(const std::wstring& path);

// The fixed exclusions: backup, temporary and build files, file-info
// records, the installer's own settings and updater, the memory-stick
// images. Removes them from `files`.
void ApplyFixedExcludes(std::vector<std::wstring>& files);

}  // namespace tarn
