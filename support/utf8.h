#pragma once
// UTF-8 and UTF-16 text.

#include <string>
#include <string_view>

namespace tarn {

std::string ToUtf8(std::wstring_view text);

// Strict: false for bytes that are not UTF-8, and for empty text.
bool FromUtf8(std::string_view text, std::wstring& wide);

}  // namespace tarn
