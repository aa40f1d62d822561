#pragma once
// Decoding the data blocks of one cabinet folder: the checksum, stored and
// MSZIP blocks (zlib's raw inflate, the block before as the dictionary), and
// runs of blocks decoded in parallel where each block stands alone, as the
// blocks of our own MakeCab do. Free of platform headers.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarn::cab {

// One data block as read from the cabinet; its sizes are within the
// format's limits (the reader checks them before it reads the data).
struct RawBlock {
    uint32_t checksum = 0;
    uint16_t packedSize = 0;
    uint16_t unpackedSize = 0;
    std::vector<unsigned char> data;  // packedSize bytes
};

// Decodes runs of a folder's blocks. Not shared between threads; it keeps
// its own helper threads for the parallel part.
class FolderDecoder {
public:
    // `threads` threads decode in parallel, the calling one included (at least one).
    explicit FolderDecoder(unsigned threads);
    ~FolderDecoder();
    FolderDecoder(const FolderDecoder&) = delete;
    FolderDecoder& operator=(const FolderDecoder&) = delete;

    // A new folder of the given compression begins: no history, and its
    // blocks are taken to stand alone until one is found that does not.
    void StartFolder(uint16_t compression);

    // Decodes `count` blocks, the next of the folder, into out[0..count).
    // Returns how many decoded correctly from the first on; when fewer than
    // `count`, `problem` says why the next one did not.
    size_t DecodeRun(const std::vector<RawBlock>& blocks, size_t count,
                     std::vector<std::vector<unsigned char>>& out, std::string& problem);

private:
    struct Inflater;
    class Pool;
    bool DecodeOne(Inflater& inflater, const RawBlock& block, const std::vector<unsigned char>* history,
                   std::vector<unsigned char>& out, std::string& problem) const;

    uint16_t compression_ = 0;
    bool standAlone_ = true;
    std::vector<unsigned char> history_;  // the output of the folder's last decoded block
    std::vector<std::unique_ptr<Inflater>> inflaters_;  // one per thread
    std::unique_ptr<Pool> pool_;
};

}  // namespace tarn::cab
