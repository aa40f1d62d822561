#pragma once
// What a cabinet file holds, taken in one sequential read: its size,
// checksum and SHA-256 (the values of its file-info record), its entries' names and
// sizes from the header and file records, and whether its structure holds
// (header, folder and file records, the chain of data blocks up to the
// file's end). No content is unpacked. The one place that walks a cabinet's
// own records; extraction stays with cab_extract.h.

#include <cstdint>
#include <string>
#include <vector>

namespace tarn {

struct CabinetEntry {
    std::wstring name;  // as stored, backslashes between its parts
    uint32_t size = 0;
};

struct CabinetFacts {
    int64_t size = -1;       // -1: the file could not be opened or read
    uint32_t checksum = 0;   // GetFileCrc of the whole file
    std::string sha256;      // of the whole file, lowercase hex
    std::vector<CabinetEntry> entries;
    std::wstring problem;    // empty when the cabinet opens; else what is wrong, with the error code
};

// Reads `path` once. A cabinet read before in this process and unchanged
// since (same size and last-write time) is not read again.
CabinetFacts InspectCabinet(const std::wstring& path);

// Remembers `facts` for the file now at `path` (a cabinet inspected under
// another name and then moved there), so that it is not read again.
void RememberCabinetFacts(const std::wstring& path, const CabinetFacts& facts);

}  // namespace tarn
