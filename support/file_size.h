#pragma once
// The full 64-bit size of a file by name. GetFileSizeByName keeps only the
// low 32 bits, as its callers store them; deciding whether a file is empty
// or small needs the whole size.

#include <cstdint>

namespace tarn {

// The size in bytes of the file or folder entry `path` names (no wildcards),
// or -1 when there is none.
int64_t GetFileSize64(const wchar_t* path);

}  // namespace tarn
