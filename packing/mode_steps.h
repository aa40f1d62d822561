#pragma once
// Steps that several packing modes share.

#include <string>
#include <vector>

#include "support/path_text.h"

namespace tarn {

// Lists every file below `folder`. False (nothing listed) when the folder is
// missing or holds no file: a mode must not publish an empty release.
bool ListSourceFiles(const std::wstring& folder, std::vector<std::wstring>& files);

// Writes the build time into the version marker "!__Update_Version__!.txt"
// at the top of `folder` (section "Settings", "UpdateCreateTime"). The
// marker's path, or empty when it could not be written.
std::wstring StampVersionMarker(const std::wstring& folder);

// Copies `file` and its file-info record, under their names, into `folder`.
// Appends what could not be copied to `failed`.
void CopyWithRecord(const std::wstring& file, const std::wstring& folder, std::vector<std::wstring>& failed);

}  // namespace tarn
