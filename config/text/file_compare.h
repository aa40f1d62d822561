#pragma once
// Byte-for-byte comparison of two files.

#include <cstdint>

#include "support/export.h"

// Nonzero when both files have the same size and the same bytes. `order` is
// -1 first; with different sizes it becomes 1 when the second file is the
// smaller one (and stays -1 otherwise); with equal sizes it receives the sign
// of a byte-wise comparison of the first file against the second. 0 when
// either file cannot be opened or read whole, or a name is null or empty.
TARN_EXPORT int CompareFiles(const wchar_t* fileName1, const wchar_t* fileName2, int64_t& order);
