#include "transfer/file_info.h"

#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cwchar>

#include "config/store/cfg_reader.h"
#include "config/text/file_crc.h"
#include "support/file_queries.h"
#include "support/file_system.h"
#include "support/path_text.h"
#include "support/sha256.h"
#include "support/text_format.h"
#include "support/trace.h"
#include "support/unique_handle.h"
#include "transfer/download_url.h"
#include "transfer/http_download.h"

namespace {

const wchar_t kSection[] = L"FileInfo";
const wchar_t kSizeKey[] = L"FileSize";
const wchar_t kCrcKey[] = L"CRC";
const wchar_t kSha256Key[] = L"SHA256";
constexpr int kRecordAttempts = 3;
constexpr int kTemporaryRecordTries = 1000;

// A stem from a URL as a plain file name: a character that a file name
// cannot hold (a ':' would name a stream) becomes '_'.
std::wstring PlainStem(std::wstring_view stem)
{
    std::wstring plain(stem);
    for (wchar_t& c : plain) {
        if (c < L' ' || std::wstring_view(L"<>:\"/\\|?*").find(c) != std::wstring_view::npos) {
            c = L'_';
        }
    }
    return plain;
}

// `text` as a decimal integer with an optional sign and blanks around it.
bool ParseDecimal(const std::wstring& text, long long& value)
{
    const wchar_t* start = text.c_str();
    while (*start == L' ' || *start == L'\t') {
        ++start;
    }
    wchar_t* end = nullptr;
    errno = 0;
    value = std::wcstoll(start, &end, 10);
    if (end == start || errno == ERANGE || *start == L' ') {
        return false;
    }
    while (*end == L' ' || *end == L'\t') {
        ++end;
    }
    return *end == L'\0';
}

// Gives the record the data file's creation, last-access and last-write
// times; failures are of no consequence.
void CopyFileTimes(const wchar_t* dataFile, const std::wstring& record)
{
    const tarn::UniqueFileHandle source(::CreateFileW(dataFile, FILE_READ_ATTRIBUTES,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                                      nullptr));
    FILETIME created{};
    FILETIME accessed{};
    FILETIME written{};
    if (!source || !::GetFileTime(source.Get(), &created, &accessed, &written)) {
        return;
    }
    const tarn::UniqueFileHandle target(::CreateFileW(record.c_str(), FILE_WRITE_ATTRIBUTES,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                      OPEN_EXISTING, 0, nullptr));
    if (target) {
        ::SetFileTime(target.Get(), &created, &accessed, &written);
    }
}

// A record's "SHA256", lowercased; anything but ASCII becomes '?', which
// matches no digest.
std::string ReadSha256(CCfgReader& record)
{
    std::wstring text;
    record.GetValue(text, kSection, kSha256Key);
    std::string sha256;
    for (const wchar_t c : text) {
        sha256 += c < 0x80 ? static_cast<char>(c >= L'A' && c <= L'Z' ? c + (L'a' - L'A') : c) : '?';
    }
    return sha256;
}

}  // namespace

int WriteFileInfo(const wchar_t* dataFile)
{
    if (tarn::IsEmptyText(dataFile) || !FileExists(dataFile)) {
        return 0;
    }
    const int64_t size = tarn::GetFileSize64(dataFile);
    if (tarn::FileInfoNameFor(dataFile).empty() || size < 0) {
        return 0;
    }
    return tarn::WriteFileInfoWith(dataFile, size, GetFileCrc(dataFile));
}

namespace tarn {

int WriteFileInfoWith(const wchar_t* dataFile, int64_t size, uint32_t checksum)
{
    const std::wstring recordPath = tarn::FileInfoNameFor(dataFile);
    if (recordPath.empty() || size < 0) {
        return 0;
    }
    const std::string sha256 = tarn::FileSha256Hex(dataFile);
    if (sha256.empty()) {
        tarn::Trace(L"WriteFileInfo: no SHA-256 for %ls", dataFile);
        return 0;
    }
    CCfgReader record(recordPath);
    // New values go to the top of the section: written in this order, a new
    // record reads "CRC", "FileSize", "SHA256".
    record.SetValue(kSection, kSha256Key, std::wstring(sha256.begin(), sha256.end()));
    // The true size, also for files of 2 GiB and more; below that it is the
    // same text as the store's 32-bit integer form.
    record.SetValue(kSection, kSizeKey, tarn::FormatText(L"%lld", static_cast<long long>(size)));
    record.SetIntValue(kSection, kCrcKey, checksum);
    const int saved = record.Save(1);
    CopyFileTimes(dataFile, recordPath);
    return saved;
}

TemporaryRecord::TemporaryRecord(std::wstring_view stem)
{
    const std::wstring temp = GetTempFolder();
    if (temp.empty()) {
        return;
    }
    auto tick = static_cast<int>(::GetTickCount());
    for (int tries = 0; tries < kTemporaryRecordTries; ++tries, ++tick) {
        const std::wstring path = FileInfoNameForStem(temp + L"\\" + PlainStem(stem) + L"_" + FormatText(L"%d", tick));
        const UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            path_ = path;
            return;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS) {
            Trace(L"File info: cannot make the temporary record %ls (error %lu)", path.c_str(), ::GetLastError());
            return;
        }
    }
}

TemporaryRecord::~TemporaryRecord()
{
    if (!path_.empty()) {
        ::DeleteFileW(path_.c_str());
    }
}

ExpectedFile ReadFileInfo(const std::wstring& recordPath)
{
    ExpectedFile expected;
    CCfgReader record(recordPath);
    int64_t size = -1;
    record.GetInt64Value(size, kSection, kSizeKey, -1);
    if (size > 0) {
        expected.size = size;
    }
    std::wstring crc;
    record.GetValue(crc, kSection, kCrcKey);
    if (!crc.empty()) {
        // long is 32 bits on Windows: wcstol saturates at the 32-bit limits.
        const long value = std::wcstol(crc.c_str(), nullptr, 10);
        expected.checksum = static_cast<uint32_t>(value);
    }
    expected.sha256 = ReadSha256(record);
    return expected;
}

bool PinToManifest(ExpectedFile& record, const ExpectedFile& pinned)
{
    if ((record.size > 0 && record.size != pinned.size) ||
        (!record.sha256.empty() && record.sha256 != pinned.sha256)) {
        return false;
    }
    record.size = pinned.size;
    record.sha256 = pinned.sha256;
    record.pinned = true;
    return true;
}

bool ParseFileInfo(const std::wstring& recordPath, ExpectedFile& expected)
{
    expected = ExpectedFile();
    CCfgReader record(recordPath);
    std::wstring size;
    std::wstring crc;
    record.GetValue(size, kSection, kSizeKey);
    record.GetValue(crc, kSection, kCrcKey);
    long long sizeValue = 0;
    long long crcValue = 0;
    if ((size.empty() && crc.empty()) || (!size.empty() && !ParseDecimal(size, sizeValue)) ||
        (!crc.empty() && !ParseDecimal(crc, crcValue))) {
        return false;
    }
    if (sizeValue > 0) {
        expected.size = sizeValue;
    }
    // Compared as 32-bit values; saturated at the 32-bit limits as the
    // lenient reader does.
    const long long crcLimit = crcValue < INT32_MIN ? INT32_MIN : (crcValue > INT32_MAX ? INT32_MAX : crcValue);
    expected.checksum = static_cast<uint32_t>(static_cast<int32_t>(crcLimit));
    expected.sha256 = ReadSha256(record);
    return true;
}

ExpectedFile LookUpFileInfo(std::wstring_view url, RecordNeed need)
{
    UrlParts parts;
    const bool split = SplitUrl(url, parts) && !parts.name.empty();
    const bool required = need == RecordNeed::Required;
    ExpectedFile expected;
    if (!split || (!required && parts.extension.empty())) {
        expected.unverifiable = required;
        return expected;
    }
    const std::wstring recordUrl =
        FileInfoNameForStem(url.substr(0, url.size() - parts.extension.size()));
    const TemporaryRecord record(parts.stem);
    if (record.Path().empty()) {
        Trace(L"File info: no temporary file for the record %ls (error %lu)", recordUrl.c_str(), ::GetLastError());
        expected.unavailable = true;
        expected.notStorable = true;
        return expected;
    }
    std::wstring recordPath = record.Path();
    switch (FetchVerified(recordUrl, recordPath, ExpectedFile(), kRecordAttempts)) {
    case FetchOutcome::Stored:
        if (!ParseFileInfo(recordPath, expected)) {
            Trace(L"File info: %ls is no record (empty, a page or unreadable)", recordUrl.c_str());
            expected = ExpectedFile();
            expected.unavailable = true;
        } else if (required && expected.checksum == 0 && expected.sha256.empty()) {
            Trace(L"File info: the record %ls gives no checksum", recordUrl.c_str());
            expected.unverifiable = true;
        }
        return expected;
    case FetchOutcome::Missing:
        if (required) {
            Trace(L"File info: the server has no record %ls", recordUrl.c_str());
        }
        expected.unverifiable = required;
        return expected;
    default:
        Trace(L"File info: the record %ls could not be fetched", recordUrl.c_str());
        expected.unavailable = true;
        return expected;
    }
}

}  // namespace tarn
