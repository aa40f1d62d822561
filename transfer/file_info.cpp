#include "transfer/file_info.h"

#include <windows.h>

#include <cwchar>

#include "config/store/cfg_reader.h"
#include "config/text/file_crc.h"
#include "support/file_queries.h"
#include "support/file_system.h"
#include "support/text_format.h"
#include "support/unique_handle.h"
#include "transfer/download_url.h"
#include "transfer/http_download.h"

namespace {

const wchar_t kSection[] = L"FileInfo";
const wchar_t kSizeKey[] = L"FileSize";
const wchar_t kCrcKey[] = L"CRC";

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

}  // namespace

int WriteFileInfo(const wchar_t* dataFile)
{
    if (dataFile == nullptr || dataFile[0] == L'\0' || !FileExists(dataFile)) {
        return 0;
    }
    const std::wstring recordPath = tarn::FileInfoNameFor(dataFile);
    const int64_t size = tarn::GetFileSize64(dataFile);
    if (recordPath.empty() || size < 0) {
        return 0;
    }
    CCfgReader record(recordPath);
    // The true size, also for files of 2 GiB and more; below that it is the
    // same text as the store's 32-bit integer form.
    record.SetValue(kSection, kSizeKey, tarn::FormatText(L"%lld", static_cast<long long>(size)));
    record.SetIntValue(kSection, kCrcKey, GetFileCrc(dataFile));
    const int saved = record.Save(1);
    CopyFileTimes(dataFile, recordPath);
    return saved;
}

namespace tarn {

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
    return expected;
}

ExpectedFile LookUpFileInfo(std::wstring_view url)
{
    const std::wstring recordUrl = FileInfoNameFor(url);
    if (recordUrl.empty()) {
        return ExpectedFile();
    }
    std::wstring recordPath;
    if (HttpGetFile(recordUrl, recordPath, nullptr, nullptr, nullptr, 10) != 1) {
        return ExpectedFile();
    }
    return ReadFileInfo(recordPath);
}

}  // namespace tarn
