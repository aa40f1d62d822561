#pragma once
// Turns the unpacked bytes of one data block into its complete record (the
// 8-byte block header and the packed bytes): MSZIP ("CK" and a deflate
// stream of its own, so blocks can be packed in any order and on any
// thread) or stored as they are.

#include <cstdint>
#include <memory>
#include <vector>

namespace tarn::makecab {

class BlockEncoder {
public:
    explicit BlockEncoder(bool compress);
    ~BlockEncoder();
    BlockEncoder(const BlockEncoder&) = delete;
    BlockEncoder& operator=(const BlockEncoder&) = delete;

    // Fills `record` from `data` (at most 32 KiB). False when the deflate
    // library failed (out of memory).
    bool Encode(const std::vector<unsigned char>& data, std::vector<unsigned char>& record);

private:
    struct Deflater;
    std::unique_ptr<Deflater> deflater_;  // null when blocks are stored
};

}  // namespace tarn::makecab
