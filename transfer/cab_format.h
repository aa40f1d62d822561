#pragma once
// The cabinet file format as a reader meets it: record sizes, flags, the
// limits a reader holds every header to, little-endian field access and the
// data-block checksum. Free of platform headers, so that the reading core
// also builds where it is fuzzed.

#include <cstddef>
#include <cstdint>

namespace tarn::cab {

constexpr unsigned char kSignature[4] = {'M', 'S', 'C', 'F'};
constexpr size_t kHeaderSize = 36;          // without the optional reserve fields
constexpr size_t kReserveFieldsSize = 4;    // header, folder and block reserve sizes
constexpr size_t kFolderEntrySize = 8;      // start of its data, block count, compression
constexpr size_t kFileEntryFixedSize = 16;  // followed by the name and its terminating zero
constexpr size_t kDataHeaderSize = 8;       // checksum, packed and unpacked size
constexpr size_t kMaxNameBytes = 255;       // a name and set string without its zero

constexpr uint32_t kBlockSize = 32768;              // unpacked bytes of one block at most
// What readers accept for one packed block: deflate leaves incompressible
// data a few bytes longer (other compressions up to 6 KiB).
constexpr uint32_t kMaxPackedBlock = 32768 + 6144;
constexpr uint32_t kMaxBlocksPerFolder = 65535;

constexpr uint16_t kFlagPreviousCabinet = 0x0001;
constexpr uint16_t kFlagNextCabinet = 0x0002;
constexpr uint16_t kFlagReserve = 0x0004;

constexpr uint16_t kCompressionMask = 0x000F;
constexpr uint16_t kCompressNone = 0;
constexpr uint16_t kCompressMszip = 1;

// Folder indices of files that continue from or into another cabinet.
constexpr uint16_t kFirstContinuedFolder = 0xFFFD;

constexpr uint16_t kAttributeReadOnly = 0x01;
constexpr uint16_t kAttributeHidden = 0x02;
constexpr uint16_t kAttributeSystem = 0x04;
constexpr uint16_t kAttributeArchive = 0x20;
constexpr uint16_t kAttributeNameIsUtf8 = 0x80;

inline uint16_t GetUint16(const unsigned char* in)
{
    return static_cast<uint16_t>(in[0] | (in[1] << 8));
}

inline uint32_t GetUint32(const unsigned char* in)
{
    return static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
           (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
}

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

}  // namespace tarn::cab
