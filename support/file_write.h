#pragma once
// Writing bytes to an open file.

#include <windows.h>

#include <cstddef>

namespace tarn {

// Bytes go to a file in writes of at most this size. The kernel gives each
// write a page-cache folio of the write's size; large folios come from blocks
// of free memory that a virtual machine may have handed back to its host, and
// every first touch of such memory then costs a fault on the host: 512 KiB
// writes of a download ran at a third of the speed in every other run, 64 KiB
// writes never did.
constexpr DWORD kFileWritePiece = 64 * 1024;

// Writes all `size` bytes at the file's position, in pieces. False, with the
// last error set, when a write fails; a short write that reports no error is
// the disk's end (ERROR_DISK_FULL).
bool WriteWhole(HANDLE file, const void* data, size_t size);

}  // namespace tarn
