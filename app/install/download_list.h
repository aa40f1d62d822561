#pragma once
// The download list of a product and what follows from it: which lines are
// data packages, which get an entry in the status file, the server URLs of
// the entries, and the update downloads that run beside the packages as
// background copies of the program.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/server_layout.h"

namespace tarn {

// A list line that may name a file beside the list: at least 4 characters,
// no backslash, slash or colon, and not only dots and blanks. Anything else
// could lead a download or an unpacking outside its folder and is no entry.
bool IsListedFileName(std::wstring_view line);

struct DownloadListEntries {
    // Every listed file name, in file order: each gets a status entry.
    std::vector<std::wstring> statusEntries;
    // The data packages, in file order: the listed names without
    // "SetupUpdater_2023.cab", the last one starting with "RODOvoVuviri" and
    // the last one starting with "SetupUpdater".
    std::vector<std::wstring> packages;
};

// Sorts the lines of a download list into status entries and packages.
DownloadListEntries ReadDownloadListLines(const std::vector<std::wstring>& lines);

// The largest download list taken: 1 MiB.
constexpr int64_t kLargestDownloadList = 1 << 20;

// The room a fetched file's record needs in the temporary folder beyond the
// file's name: "_<tick count>.fileinfo.txt".
constexpr size_t kRecordNameRoom = 25;

// Why the decoded text of a download list is not to be trusted, or null
// when it may be: a zero character (a list cut short, or UTF-16 without a
// mark read byte by byte), a character that did not decode, a line longer
// than MAX_PATH, a listed name longer than `longestName`, or no package
// line at all. On success `lines` holds the list's lines.
const wchar_t* CheckDownloadListText(std::wstring_view text, size_t longestName, std::vector<std::wstring>& lines);

// The command lines of the update downloads for a profile, in start order:
// the host's OEM update for profiles 0 and 1 without the host, the updater
// cabinet for every profile, the Corvin update for profile 2 and the
// Gridwell update for profiles 0 and 1. Each reads keyword"<url>"
// ToFolder="<installation data folder>".
std::vector<std::wstring> UpdateDownloadArguments(int profile, bool hostPresent, std::wstring_view baseUrl,
                                                  std::wstring_view installDataFolder);

}  // namespace tarn
