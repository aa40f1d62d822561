#pragma once
// The directive file that tells MakeCab what to pack: ".OPTION EXPLICIT",
// ".Set" of DiskDirectoryTemplate, CabinetNameTemplate, MaxDiskSize,
// Cabinet (on only), Compress and DestinationDir, comment lines starting
// with ';', and file lines (the source path, optionally the name inside the
// cabinet, each in double quotes or a word without blanks). Anything else
// is an error naming the line.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::makecab {

struct CabinetEntry {
    std::wstring source;  // as the directive file gives it
    std::wstring name;    // inside the cabinet: folder parts joined by backslashes
    int line = 0;         // of the directive file, from 1
};

struct CabinetPlan {
    std::wstring cabinetPath;
    bool compress = true;
    uint64_t maxDiskSize = 0;  // 0: no limit but the format's own
    std::vector<CabinetEntry> entries;
};

// Reads the directive file: UTF-8 or UTF-16 with a byte-order mark,
// otherwise the ANSI code page. False with `error` set when it cannot be read.
bool ReadDirectiveFile(const std::wstring& path, std::wstring& text, std::wstring& error);

// Fills `plan` from the directive text. False with `error` naming the line
// and what is wrong with it; also when no cabinet name or no file is given.
bool ParseDirectives(std::wstring_view text, CabinetPlan& plan, std::wstring& error);

}  // namespace tarn::makecab
