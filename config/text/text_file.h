#pragma once
// Whole text files in the encodings the program meets on disk. In memory text
// is always UTF-16; a TextFileType::Type value names the encoding that a reader
// found and that a writer is to use. Every function takes the file name first,
// returns nonzero on success and 0 on failure, never throws for I/O errors and
// touches no file for a null or empty name.
//
// Readers open the file shared for reading and writing and read it with one
// call; writers open it without sharing, write with one call and cut the file
// at the written end. Files of 2 GiB or more are refused by every reader.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/text/char_buffer.h"
#include "support/export.h"

namespace TextFileType {

// The values are stored with settings files and must never change.
enum Type : int32_t {
    Undetermined = 0,     // reported for an empty file; written as Ansi
    Ansi = 1,             // system ANSI code page, no byte-order mark
    Unicode = 2,          // UTF-16 little-endian, mark FF FE
    UnicodeBigEndian = 3, // UTF-16 big-endian, mark FE FF
    Utf8 = 4,             // UTF-8 with mark EF BB BF
    Oem = 5,              // system OEM code page, no mark; never detected
    Reserved = 6,         // no encoding: writing it fails
    Utf8NoBom = 7,        // UTF-8 without mark; detected by a leading "<?xml"
    Utf7 = 8,             // UTF-7 without mark; never detected
};

}  // namespace TextFileType

// ---------------------------------------------------------------- reading

// Reads the file, detects its encoding and appends one element per line. A
// line ends at CR, LF or CR LF; a text ending with a line break gives a final
// empty element, and the text is cut at its first zero character. 0 when the
// file cannot be opened, is empty or cannot be read; the array is then
// unchanged. The second form reports the encoding as ReadBuffer does.
TARN_EXPORT int ReadArray(const wchar_t* fileName, std::vector<std::wstring>& lines);
TARN_EXPORT int ReadArray(const wchar_t* fileName, std::vector<std::wstring>& lines,
                          TextFileType::Type& type);

// Empties `lines`, then splits the first `length` characters of `text` (all of
// it up to its zero when `length` is negative) into lines as ReadArray does,
// except that a text ending with a line break gives no final empty element.
// 0 for a null text or a length of 0 (the array is then empty).
TARN_EXPORT int ReadArrayFromBuffer(const wchar_t* text, std::vector<std::wstring>& lines,
                                    int64_t length = -1);

// Reads the file, detects its encoding (FF FE: Unicode, FE FF:
// UnicodeBigEndian, EF BB BF: Utf8, "<?xml" in any case: Utf8NoBom, else
// Ansi) and decodes it into `text`.
// - Without `length`: `text` ends at the first zero character it holds, and
//   `*start` (when given) points at its characters.
// - With `length`: `*length` receives the number of decoded characters and
//   `text` holds exactly them, zeros included; `*start` (when given) receives
//   text.data(). Callers use start and length together.
// `type` is Ansi when the file cannot be opened, Undetermined for an empty
// file (the read then fails) or a failing read, else the detected encoding.
// On failure `text` is empty, `*start` points at it and `*length` is 0.
TARN_EXPORT int ReadBuffer(const wchar_t* fileName, std::wstring& text, wchar_t** start,
                           uint32_t* length, TextFileType::Type& type);

// Decodes the whole file with the ANSI code page, without detection; start
// and length as above. An empty file gives success and an empty text.
TARN_EXPORT int ReadBuffer(const wchar_t* fileName, std::wstring& text, wchar_t** start = nullptr,
                           uint32_t* length = nullptr);

// The raw bytes followed by one zero byte (buffer size = bytes + 1); `length`
// receives the number of bytes read. An empty file gives success, length 0
// and a buffer holding one zero byte. On failure length 0 and an empty buffer.
TARN_EXPORT int ReadBuffer(const wchar_t* fileName, CChar& buffer, uint32_t& length);

// The raw bytes without terminator; the buffer's size equals the file size.
// 0 with an empty buffer when the file cannot be opened or read or is empty.
TARN_EXPORT int GetFileToBuffer(const wchar_t* fileName, CChar& buffer);

// ---------------------------------------------------------------- writing

// Writes `count` characters of `text` in the encoding `type`. Undetermined is
// replaced by Ansi and that value is written back. A count of 0 leaves the file
// created and empty and reports failure. Reserved and unknown types write
// nothing, leave the file untouched and report failure.
TARN_EXPORT int WriteBuffer(const wchar_t* fileName, const wchar_t* text, uint32_t count,
                            TextFileType::Type& type);

// Writes UTF-8 with mark when `count` is more than 5 and the text starts with
// "<?xml" in any letter case, otherwise ANSI. A count of 0 leaves the file
// created and empty and reports success.
TARN_EXPORT int WriteBuffer(const wchar_t* fileName, const wchar_t* text, uint32_t count);

// Writes `count` bytes as they are.
TARN_EXPORT int WriteBuffer(const wchar_t* fileName, const char* bytes, uint32_t count);

// Writes every element followed by CR LF, the last one included, with one
// write in the encoding `type` (Undetermined means Ansi). An empty array leaves
// the file created and empty and reports failure.
TARN_EXPORT int WriteArray(const wchar_t* fileName, const std::vector<std::wstring>& lines,
                           TextFileType::Type type);

// The same in ANSI; an empty array leaves the file created and empty and
// reports success.
TARN_EXPORT int WriteArray(const wchar_t* fileName, const std::vector<std::wstring>& lines);

namespace tarn {

// True when `text` starts with "<?xml" in any letter case: the readers take a
// file without mark whose bytes start so for UTF-8 (Utf8NoBom).
bool StartsWithXmlDeclaration(std::wstring_view text);

// The bytes WriteBuffer writes for `text` in `type` (Undetermined: Ansi),
// byte-order mark included; an empty text gives the mark alone. False for
// Reserved, unknown types and failed conversions.
bool EncodeTextFile(std::wstring_view text, TextFileType::Type type, std::string& bytes);

// The encoding the readers detect for a file holding `bytes`.
TextFileType::Type DetectTextFileType(std::string_view bytes);

}  // namespace tarn
