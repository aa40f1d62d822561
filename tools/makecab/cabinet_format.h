#pragma once
// The cabinet file format as readers expect it: record sizes, limits of its
// 16- and 32-bit fields, and the checksum of a data block. All numbers are
// little-endian.

#include <cstddef>
#include <cstdint>

namespace tarn::makecab {

constexpr size_t kHeaderSize = 36;        // the cabinet header without reserve fields
constexpr size_t kFolderEntrySize = 8;    // start of its data, block count, compression
constexpr size_t kFileEntryFixedSize = 16;  // followed by the name and its terminating zero
constexpr size_t kDataHeaderSize = 8;     // checksum, packed and unpacked size

constexpr uint32_t kBlockSize = 32768;           // unpacked bytes of every block but a folder's last
constexpr uint32_t kMaxPackedBlock = 32768 + 12;  // the format's largest packed block
constexpr uint32_t kMaxBlocksPerFolder = 65535;
constexpr uint32_t kMaxFiles = 65535;
constexpr size_t kMaxNameBytes = 255;

constexpr uint16_t kCompressNone = 0;
constexpr uint16_t kCompressMszip = 1;

constexpr uint16_t kAttributeReadOnly = 0x01;
constexpr uint16_t kAttributeHidden = 0x02;
constexpr uint16_t kAttributeSystem = 0x04;
constexpr uint16_t kAttributeArchive = 0x20;
constexpr uint16_t kAttributeNameIsUtf8 = 0x80;

inline void PutUint16(unsigned char* out, uint16_t value)
{
    out[0] = static_cast<unsigned char>(value);
    out[1] = static_cast<unsigned char>(value >> 8);
}

inline void PutUint32(unsigned char* out, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

// The format's checksum: the XOR of the bytes taken as little-endian 32-bit
// words, and of the one to three bytes left over, the first of them highest.
uint32_t Checksum(const unsigned char* data, size_t size, uint32_t seed);

}  // namespace tarn::makecab
