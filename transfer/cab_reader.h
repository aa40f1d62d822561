#pragma once
// The reading core of the own cabinet extraction: the cabinet's directory
// (folders and entries) read from any byte source, and the folders' data
// decoded in order and handed out entry by entry to a sink. Stored and MSZIP
// folders are read; the core touches no file system and no platform header,
// so it builds where it is fuzzed. Every size a header claims is checked
// against the format's limits and the bytes really there before it is used;
// nothing is allocated from a claimed size.

#include <cstdint>
#include <string>
#include <vector>

namespace tarn::cab {

// Random access to the cabinet's bytes.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads `size` bytes at `offset`; false when they are not all there.
    virtual bool ReadAt(uint64_t offset, void* buffer, size_t size) = 0;
};

// A cabinet held in memory (tests and fuzzing).
class MemorySource : public ByteSource {
public:
    MemorySource(const unsigned char* data, size_t size) : data_(data), size_(size) {}
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, void* buffer, size_t size) override;

private:
    const unsigned char* data_;
    size_t size_;
};

struct CabFolder {
    uint32_t dataOffset = 0;  // of its first data block in the cabinet
    uint16_t blockCount = 0;
    uint16_t compression = 0;  // the low bits of the type field
};

struct CabEntry {
    std::string name;  // the stored bytes
    uint32_t size = 0;
    uint32_t offset = 0;  // in its folder's unpacked data
    uint16_t folder = 0;  // an index into the folders, or a continuation mark
    uint16_t date = 0;    // DOS date and time, local
    uint16_t time = 0;
    uint16_t attributes = 0;
};

struct CabDirectory {
    std::vector<CabFolder> folders;
    std::vector<CabEntry> entries;  // in the cabinet's order
    uint8_t blockReserve = 0;       // bytes after each data block's header
};

// Reads the header, folder and file records. False (with `problem` set)
// for anything that is not a whole, consistent directory: no signature,
// another major format version, no folder or no file, a record or name
// beyond the end, a name without its end, a file of a folder that does not
// exist.
bool ReadDirectory(ByteSource& source, CabDirectory& directory, std::string& problem);

// True when every folder is stored or MSZIP.
bool HasOnlyReadableFolders(const CabDirectory& directory);

// Receives the entries' content while the folders are decoded, on the
// decoding thread. Each wanted entry gets either its pieces in order (the
// first with `first`, the one that completes it with `last`; an empty entry
// gets one empty piece with both) or, at any point, Fail: then no further
// piece comes and what came must be thrown away.
class EntrySink {
public:
    virtual ~EntrySink() = default;
    virtual void Piece(size_t entry, const unsigned char* data, size_t size, bool first, bool last) = 0;
    virtual void Fail(size_t entry, const std::string& problem) = 0;
};

// Decodes the folders that hold wanted entries (`wanted` has one flag per
// entry) and hands their content to the sink. An entry whose range lies
// beyond its folder's data, or whose blocks are damaged (bad checksum,
// sizes over the limits, data that does not decode to the stated size,
// bytes missing), fails; the other entries go on. Blocks that decode
// without their predecessor are decoded in parallel on `threads` threads
// (the calling one included). False (with the first `problem`) when any
// wanted entry failed.
bool UnpackEntries(ByteSource& source, const CabDirectory& directory, const std::vector<bool>& wanted,
                   EntrySink& sink, unsigned threads, std::string& problem);

}  // namespace tarn::cab
