#pragma once
// The cabinet file format as readers expect it: record sizes, limits of its
// 16- and 32-bit fields, and the checksum of a data block. All numbers are
// little-endian.

#include <cstddef>
#include <cstdint>

#include "transfer/cab_format.h"

namespace tarn::makecab {

using cab::kHeaderSize;
using cab::kFolderEntrySize;
using cab::kFileEntryFixedSize;
using cab::kDataHeaderSize;

using cab::kBlockSize;
using cab::kMaxBlocksPerFolder;
// The largest packed block written: the format's documented maximum (the
// reader tolerates more).
constexpr uint32_t kMaxPackedBlock = 32768 + 12;
constexpr uint32_t kMaxFiles = 65535;
using cab::kMaxNameBytes;

using cab::kCompressNone;
using cab::kCompressMszip;

using cab::kAttributeReadOnly;
using cab::kAttributeHidden;
using cab::kAttributeSystem;
using cab::kAttributeArchive;
using cab::kAttributeNameIsUtf8;

// The record fields and the block checksum are the reader's.
using cab::Checksum;
using cab::PutUint16;
using cab::PutUint32;

}  // namespace tarn::makecab
