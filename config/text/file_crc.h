#pragma once
// The file checksum that file-info records store and the download road
// verifies. It is built on the reflected CRC-32 table but shifts the state by
// 6 bits per byte and is never inverted, so it is not the standard CRC-32;
// stored checksums are values of exactly this function ("abc" gives
// 0x3E105F31).

#include <cstddef>
#include <cstdint>

#include "support/export.h"

// The checksum of the file's bytes. 0 for a null or empty name, a file that
// cannot be opened and an empty file; a failing read ends the computation
// with the value over the bytes before it. The file is streamed in pieces of a
// few MiB, read at explicit offsets while the previous piece is folded in.
TARN_EXPORT uint32_t GetFileCrc(const wchar_t* fileName);

namespace tarn {

// Continues a checksum (start with 0) over `size` bytes in memory, folding
// 16 bytes a step with precomputed tables.
uint32_t UpdateFileCrc(uint32_t crc, const void* data, size_t size) noexcept;

// The same one byte at a time: the defining form, for the tables and for
// comparisons.
uint32_t UpdateFileCrcBytewise(uint32_t crc, const void* data, size_t size) noexcept;

}  // namespace tarn
