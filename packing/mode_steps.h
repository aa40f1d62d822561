#pragma once
// Steps that several packing modes share.

#include <string>
#include <vector>

#include "support/path_text.h"
#include "packing/release_files.h"

namespace tarn {

// Lists every file below `folder`. False with the failure appended when the
// folder is missing or holds no file (a mode must not publish an empty
// release) or when two of its paths differ only in letter case.
bool ListSourceFiles(const std::wstring& folder, std::vector<std::wstring>& files, PackingFailures& failed);

// Appends a failure naming both paths for each pair of ListFilesNamingTwins.
void NameCaseTwins(const std::vector<std::wstring>& twins, PackingFailures& failed);

// Writes the build time into the version marker "!__Update_Version__!.txt"
// at the top of `folder` (section "Settings", "UpdateCreateTime"). The
// marker's path, or empty when it could not be written.
std::wstring StampVersionMarker(const std::wstring& folder);

// Copies `file`, its file-info record and its signed manifest (when it has
// one; else a manifest in `folder` is removed), under their names, into
// `folder`.
// Appends what could not be copied to `failed`.
void CopyWithRecord(const std::wstring& file, const std::wstring& folder, PackingFailures& failed);

// Appends a failure for every file whose name the directive file's ANSI code
// page cannot carry: a mode checks this before it makes its first cabinet.
// True when there was none.
bool NamesCarried(const std::vector<std::wstring>& files, PackingFailures& failed);

// The end of a mode: shows `failed` and returns 0 when it holds anything;
// else 1.
int Finish(const PackingFailures& failed);

// A starter copy at `target`; appends the failure with its cause.
void StageStarterCopy(const std::wstring& target, const std::wstring& published, PackingFailures& failed);

}  // namespace tarn
