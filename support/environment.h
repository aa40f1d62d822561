#pragma once
// Environment variables of the process, read and expanded whole whatever
// their length.

#include <string>

namespace tarn {

// The value of an environment variable. True when it is set and not empty;
// false and an empty value otherwise.
bool GetEnvironmentText(const wchar_t* name, std::wstring& value);

// `text` with every %name% of a set environment variable replaced, as
// ExpandEnvironmentStringsW does. False (and `expanded` empty) when the
// platform refuses the text.
bool ExpandEnvironmentText(const std::wstring& text, std::wstring& expanded);

}  // namespace tarn
