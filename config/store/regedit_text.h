#pragma once
// Registry export texts ("REGEDIT4" files) read as settings files: each
// bracketed key line becomes a section named by the full key path, each
// value line an entry whose name and value keep their double quotes.

#include <string>
#include <string_view>

namespace tarn {

// Converts an export text into settings-file text: lines stripped (leading
// blanks, tabs, CR and LF; trailing blanks, tabs and LF), empty lines and
// ';' comments dropped, lines ending in '\' joined with the next, and
// "hex(2):" values of quoted names decoded (ANSI bytes up to the first zero
// byte or the first pair that is no hexadecimal byte, backslashes doubled) to
// "SZ_EX:" and the quoted text. Every line ends with CR LF.
std::wstring ConvertRegeditText(std::wstring_view text);

}  // namespace tarn
