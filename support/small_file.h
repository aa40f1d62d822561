#pragma once
// Reading a small file whole.

#include <cstddef>
#include <string>

namespace tarn {

// The bytes of `path`. False (with a trace line) when it cannot be read or
// holds more than `limit` bytes; false without a trace when it is missing.
bool ReadSmallFile(const std::wstring& path, size_t limit, std::string& bytes);

}  // namespace tarn
