#include "config/text/text_file.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <string_view>

#include "support/path_text.h"
#include "support/trace.h"
#include "support/unique_handle.h"

namespace {

// Largest file the readers take: its bytes, a terminator and the decoded
// characters must all stay within the int counts of the conversion calls.
constexpr uint32_t kMaxReadSize = INT_MAX - 1;

// Largest count of characters the writers take; (count + 1) * 2 bytes of
// UTF-16 must fit a single write call.
constexpr uint32_t kMaxWriteCount = INT_MAX - 1;

constexpr char kMarkUtf16Le[] = "\xFF\xFE";
constexpr char kMarkUtf16Be[] = "\xFE\xFF";
constexpr char kMarkUtf8[] = "\xEF\xBB\xBF";

using tarn::IsEmptyText;

// True when the first five characters are "<?xml" in any letter case.
template <class Char>
bool HasXmlDeclaration(const Char* text, size_t length)
{
    constexpr char kDeclaration[] = "<?xml";
    if (length < 5) {
        return false;
    }
    for (size_t i = 0; i < 5; ++i) {
        unsigned int c = static_cast<unsigned int>(text[i]);
        if (c >= 'A' && c <= 'Z') {
            c += 'a' - 'A';
        }
        if (c != static_cast<unsigned int>(kDeclaration[i])) {
            return false;
        }
    }
    return true;
}

bool IsKnownType(TextFileType::Type type)
{
    return type >= TextFileType::Undetermined && type <= TextFileType::Utf7;
}

// ------------------------------------------------------------ reading

enum class ReadResult { CannotOpen, Empty, Failed, Read };

// Reads the whole file with one call into `bytes`, followed by a zero byte;
// `count` receives the number of bytes read.
ReadResult ReadFileBytes(const wchar_t* fileName, CChar& bytes, uint32_t& count)
{
    count = 0;
    bytes.SetSize(0);
    if (IsEmptyText(fileName)) {
        return ReadResult::CannotOpen;
    }
    tarn::UniqueFileHandle file(::CreateFileW(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        // A missing file is an everyday answer; any other refusal is worth a line.
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            tarn::Trace(L"Text file %ls cannot be opened for reading (error %lu)", fileName, error);
        }
        return ReadResult::CannotOpen;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size)) {
        tarn::Trace(L"Text file %ls: its size is unknown (error %lu)", fileName, ::GetLastError());
        return ReadResult::Failed;
    }
    if (size.QuadPart == 0) {
        return ReadResult::Empty;
    }
    if (size.QuadPart > static_cast<LONGLONG>(kMaxReadSize)) {
        tarn::Trace(L"Text file %ls is too large to read (%lld bytes)", fileName,
                    static_cast<long long>(size.QuadPart));
        return ReadResult::Failed;
    }
    const DWORD wanted = static_cast<DWORD>(size.QuadPart);
    bytes.SetSize(static_cast<int>(wanted) + 1);
    DWORD read = 0;
    if (!::ReadFile(file.Get(), bytes.Data(), wanted, &read, nullptr)) {
        tarn::Trace(L"Text file %ls cannot be read (error %lu)", fileName, ::GetLastError());
        bytes.SetSize(0);
        return ReadResult::Failed;
    }
    if (read == 0) {
        // The file was emptied between sizing and reading.
        bytes.SetSize(0);
        return ReadResult::Empty;
    }
    bytes.Data()[read] = '\0';
    count = read;
    return ReadResult::Read;
}

TextFileType::Type DetectType(const char* bytes, uint32_t count)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    if (count >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        return TextFileType::Unicode;
    }
    if (count >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
        return TextFileType::UnicodeBigEndian;
    }
    if (count >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        return TextFileType::Utf8;
    }
    if (HasXmlDeclaration(b, count)) {
        return TextFileType::Utf8NoBom;
    }
    return TextFileType::Ansi;
}

// Converts `count` bytes with `codePage`; no supported code page yields more
// UTF-16 units than it has bytes. Invalid sequences become U+FFFD.
void MultiByteToText(UINT codePage, const char* bytes, uint32_t count, std::wstring& text)
{
    text.clear();
    if (count == 0) {
        return;
    }
    text.resize(count);
    const int converted = ::MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(count), text.data(),
                                                static_cast<int>(count));
    text.resize(converted > 0 ? static_cast<size_t>(converted) : 0);
}

// UTF-16 after a two-byte mark; an odd trailing byte is ignored.
void Utf16ToText(const char* bytes, uint32_t count, bool bigEndian, std::wstring& text)
{
    const size_t characters = (count - 2) / 2;
    text.resize(characters);
    if (characters > 0) {
        memcpy(text.data(), bytes + 2, characters * 2);
    }
    if (bigEndian) {
        for (wchar_t& c : text) {
            c = static_cast<wchar_t>(((c & 0xFF) << 8) | ((c >> 8) & 0xFF));
        }
    }
}

void DecodeText(const char* bytes, uint32_t count, TextFileType::Type type, std::wstring& text)
{
    switch (type) {
    case TextFileType::Unicode:
        Utf16ToText(bytes, count, false, text);
        break;
    case TextFileType::UnicodeBigEndian:
        Utf16ToText(bytes, count, true, text);
        break;
    case TextFileType::Utf8:
        MultiByteToText(CP_UTF8, bytes + 3, count - 3, text);
        break;
    case TextFileType::Utf8NoBom:
        MultiByteToText(CP_UTF8, bytes, count, text);
        break;
    default:
        MultiByteToText(CP_ACP, bytes, count, text);
        break;
    }
}

// Gives the caller its view of a decoded text: with a length the text keeps
// every decoded character, without one it ends at its first zero.
void PublishText(std::wstring& text, wchar_t** start, uint32_t* length)
{
    if (length) {
        *length = static_cast<uint32_t>(text.size());
    } else {
        const size_t zero = text.find(L'\0');
        if (zero != std::wstring::npos) {
            text.resize(zero);
        }
    }
    if (start) {
        *start = text.data();
    }
}

int FailRead(std::wstring& text, wchar_t** start, uint32_t* length)
{
    text.clear();
    PublishText(text, start, length);
    return 0;
}

// Splits into lines at CR, LF or CR LF. With `finalEmptyLine` a text ending
// with a line break (or an empty text) gives a final empty element.
void SplitLines(std::wstring_view text, std::vector<std::wstring>& lines, bool finalEmptyLine)
{
    size_t start = 0;
    while (finalEmptyLine || start < text.size()) {
        const size_t end = text.find_first_of(L"\r\n", start);
        if (end == std::wstring_view::npos) {
            lines.emplace_back(text.substr(start));
            return;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == L'\r' && start < text.size() && text[start] == L'\n') {
            ++start;
        }
    }
}

// ------------------------------------------------------------ writing

// Creates or opens the file without sharing, writes `size` bytes with one
// call and cuts the file there. False when it cannot be opened or written.
bool WriteFileBytes(const wchar_t* fileName, const void* data, size_t size)
{
    if (size > MAXDWORD) {
        tarn::Trace(L"Text file %ls: %llu bytes are too many for one write", fileName,
                    static_cast<unsigned long long>(size));
        return false;
    }
    tarn::UniqueFileHandle file(::CreateFileW(fileName, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        tarn::Trace(L"Text file %ls cannot be opened for writing (error %lu)", fileName, ::GetLastError());
        return false;
    }
    bool written = true;
    if (size > 0) {
        DWORD done = 0;
        written = ::WriteFile(file.Get(), data, static_cast<DWORD>(size), &done, nullptr) && done == size;
        if (!written) {
            tarn::Trace(L"Text file %ls: %lu of %llu bytes written (error %lu)", fileName, done,
                        static_cast<unsigned long long>(size), ::GetLastError());
        }
    }
    // Cut at the written end even after a short write, so no stale tail of
    // an older, longer file remains behind the new text.
    const bool cut = ::SetEndOfFile(file.Get()) != FALSE;
    if (!cut) {
        tarn::Trace(L"Text file %ls cannot be cut at its end (error %lu)", fileName, ::GetLastError());
    }
    return written && cut;
}

// Appends the conversion of `count` characters with `codePage` to `bytes`.
bool AppendMultiByte(UINT codePage, const wchar_t* text, uint32_t count, std::string& bytes)
{
    const int length = static_cast<int>(count);
    const int needed = ::WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return false;
    }
    const size_t offset = bytes.size();
    bytes.resize(offset + static_cast<size_t>(needed));
    const int converted =
        ::WideCharToMultiByte(codePage, 0, text, length, bytes.data() + offset, needed, nullptr, nullptr);
    if (converted <= 0) {
        return false;
    }
    bytes.resize(offset + static_cast<size_t>(converted));
    return true;
}

void AppendUtf16(const wchar_t* text, uint32_t count, bool bigEndian, std::string& bytes)
{
    const size_t offset = bytes.size();
    bytes.resize(offset + static_cast<size_t>(count) * 2);
    char* out = bytes.data() + offset;
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned int c = static_cast<unsigned int>(text[i]);
        const char low = static_cast<char>(c & 0xFF);
        const char high = static_cast<char>((c >> 8) & 0xFF);
        out[2 * i] = bigEndian ? high : low;
        out[2 * i + 1] = bigEndian ? low : high;
    }
}

// The bytes of `count` characters in the encoding `type`; false for Reserved,
// unknown types and failed conversions.
bool EncodeText(const wchar_t* text, uint32_t count, TextFileType::Type type, std::string& bytes)
{
    bytes.clear();
    switch (type) {
    case TextFileType::Undetermined:
    case TextFileType::Ansi:
        return AppendMultiByte(CP_ACP, text, count, bytes);
    case TextFileType::Unicode:
        bytes.assign(kMarkUtf16Le, 2);
        AppendUtf16(text, count, false, bytes);
        return true;
    case TextFileType::UnicodeBigEndian:
        bytes.assign(kMarkUtf16Be, 2);
        AppendUtf16(text, count, true, bytes);
        return true;
    case TextFileType::Utf8:
        bytes.assign(kMarkUtf8, 3);
        return AppendMultiByte(CP_UTF8, text, count, bytes);
    case TextFileType::Oem:
        return AppendMultiByte(CP_OEMCP, text, count, bytes);
    case TextFileType::Utf8NoBom:
        return AppendMultiByte(CP_UTF8, text, count, bytes);
    case TextFileType::Utf7:
        return AppendMultiByte(CP_UTF7, text, count, bytes);
    default:
        return false;
    }
}

// One text of every element followed by CR LF; false when it would exceed
// what the writers take.
bool JoinLines(const std::vector<std::wstring>& lines, std::wstring& text)
{
    size_t total = 0;
    for (const std::wstring& line : lines) {
        total += line.size() + 2;
        if (total > kMaxWriteCount) {
            return false;
        }
    }
    text.clear();
    text.reserve(total);
    for (const std::wstring& line : lines) {
        text += line;
        text += L"\r\n";
    }
    return true;
}

}  // namespace

namespace tarn {

bool StartsWithXmlDeclaration(std::wstring_view text)
{
    return HasXmlDeclaration(text.data(), text.size());
}

bool EncodeTextFile(std::wstring_view text, TextFileType::Type type, std::string& bytes)
{
    if (text.size() > kMaxWriteCount) {
        return false;
    }
    if (!text.empty()) {
        return EncodeText(text.data(), static_cast<uint32_t>(text.size()), type, bytes);
    }
    // The conversions refuse an empty text; only the mark remains.
    static const wchar_t kNothing[] = L" ";
    if (!EncodeText(kNothing, 1, type, bytes)) {
        return false;
    }
    const size_t mark = type == TextFileType::Unicode || type == TextFileType::UnicodeBigEndian ? 2
                        : type == TextFileType::Utf8                                         ? 3
                                                                                             : 0;
    bytes.resize(mark);
    return true;
}

TextFileType::Type DetectTextFileType(std::string_view bytes)
{
    return DetectType(bytes.data(), static_cast<uint32_t>(bytes.size() > UINT32_MAX ? UINT32_MAX : bytes.size()));
}

}  // namespace tarn

int ReadArray(const wchar_t* fileName, std::vector<std::wstring>& lines)
{
    TextFileType::Type type = TextFileType::Undetermined;
    return ReadArray(fileName, lines, type);
}

int ReadArray(const wchar_t* fileName, std::vector<std::wstring>& lines, TextFileType::Type& type)
{
    std::wstring text;
    if (!ReadBuffer(fileName, text, nullptr, nullptr, type)) {
        return 0;
    }
    SplitLines(text, lines, true);
    return 1;
}

int ReadArrayFromBuffer(const wchar_t* text, std::vector<std::wstring>& lines, int64_t length)
{
    lines.clear();
    if (!text || length == 0) {
        return 0;
    }
    const size_t size = length < 0 ? wcslen(text) : static_cast<size_t>(length);
    if (size == 0) {
        return 0;
    }
    SplitLines(std::wstring_view(text, size), lines, false);
    return 1;
}

int ReadBuffer(const wchar_t* fileName, std::wstring& text, wchar_t** start, uint32_t* length,
               TextFileType::Type& type)
{
    type = TextFileType::Ansi;
    CChar bytes;
    uint32_t count = 0;
    const ReadResult result = ReadFileBytes(fileName, bytes, count);
    if (result == ReadResult::CannotOpen) {
        return FailRead(text, start, length);
    }
    type = TextFileType::Undetermined;
    if (result != ReadResult::Read) {
        return FailRead(text, start, length);
    }
    type = DetectType(bytes.Data(), count);
    DecodeText(bytes.Data(), count, type, text);
    PublishText(text, start, length);
    return 1;
}

int ReadBuffer(const wchar_t* fileName, std::wstring& text, wchar_t** start, uint32_t* length)
{
    CChar bytes;
    uint32_t count = 0;
    const ReadResult result = ReadFileBytes(fileName, bytes, count);
    if (result != ReadResult::Read && result != ReadResult::Empty) {
        return FailRead(text, start, length);
    }
    DecodeText(bytes.Data(), count, TextFileType::Ansi, text);
    PublishText(text, start, length);
    return 1;
}

int ReadBuffer(const wchar_t* fileName, CChar& buffer, uint32_t& length)
{
    const ReadResult result = ReadFileBytes(fileName, buffer, length);
    if (result == ReadResult::Empty) {
        buffer.GetBuffer(1);  // one byte holding the terminator
        return 1;
    }
    return result == ReadResult::Read ? 1 : 0;
}

int GetFileToBuffer(const wchar_t* fileName, CChar& buffer)
{
    uint32_t count = 0;
    if (ReadFileBytes(fileName, buffer, count) != ReadResult::Read) {
        buffer.SetSize(0);
        return 0;
    }
    // Drops the terminator: lowering the size keeps the block.
    buffer.SetSize(static_cast<int>(count));
    return 1;
}

int WriteBuffer(const wchar_t* fileName, const wchar_t* text, uint32_t count, TextFileType::Type& type)
{
    if (type == TextFileType::Undetermined) {
        type = TextFileType::Ansi;
    }
    if (IsEmptyText(fileName) || !IsKnownType(type) || type == TextFileType::Reserved ||
        (count > 0 && !text) || count > kMaxWriteCount) {
        return 0;
    }
    if (count == 0) {
        WriteFileBytes(fileName, nullptr, 0);
        return 0;
    }
    std::string bytes;
    if (!EncodeText(text, count, type, bytes)) {
        return 0;
    }
    return WriteFileBytes(fileName, bytes.data(), bytes.size()) ? 1 : 0;
}

int WriteBuffer(const wchar_t* fileName, const wchar_t* text, uint32_t count)
{
    if (IsEmptyText(fileName) || (count > 0 && !text)) {
        return 0;
    }
    if (count == 0) {
        return WriteFileBytes(fileName, nullptr, 0) ? 1 : 0;
    }
    TextFileType::Type type =
        count > 5 && HasXmlDeclaration(text, count) ? TextFileType::Utf8 : TextFileType::Ansi;
    return WriteBuffer(fileName, text, count, type);
}

int WriteBuffer(const wchar_t* fileName, const char* bytes, uint32_t count)
{
    if (IsEmptyText(fileName) || (count > 0 && !bytes)) {
        return 0;
    }
    return WriteFileBytes(fileName, bytes, count) ? 1 : 0;
}

int WriteArray(const wchar_t* fileName, const std::vector<std::wstring>& lines, TextFileType::Type type)
{
    std::wstring text;
    if (!JoinLines(lines, text)) {
        return 0;
    }
    return WriteBuffer(fileName, text.c_str(), static_cast<uint32_t>(text.size()), type);
}

int WriteArray(const wchar_t* fileName, const std::vector<std::wstring>& lines)
{
    if (!lines.empty()) {
        return WriteArray(fileName, lines, TextFileType::Ansi);
    }
    return !IsEmptyText(fileName) && WriteFileBytes(fileName, nullptr, 0) ? 1 : 0;
}
