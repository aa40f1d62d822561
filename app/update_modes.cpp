#include "app/update_modes.h"

#include <windows.h>

#include <string>

#include "app/command_line.h"
#include "app/install/package_source.h"
#include "app/install/release_check.h"
#include "app/install/test_share_source.h"
#include "config/text/csv_file.h"
#include "config/text/file_compare.h"
#include "support/file_queries.h"
#include "support/file_system.h"
#include "support/folder_removal.h"
#include "support/message_box.h"
#include "support/name_compare.h"
#include "support/path_text.h"
#include "support/small_file.h"
#include "support/trace.h"
#include "support/unique_handle.h"
#include "transfer/download_url.h"
#include "transfer/file_info.h"
#include "transfer/http_download.h"
#include "transfer/server_layout.h"

namespace tarn {

const wchar_t kTestServerRoot[] = L"https://test.download.tarnwerk.de";

}  // namespace tarn

namespace {

const wchar_t kTestModeCaption[] = L"Tarnwerk AG";
constexpr int kFileAttempts = 3;
constexpr int kRecordAttempts = 1;
// A record is a few lines; anything larger is no record.
constexpr DWORD kRecordLimit = 65536;
// How long a run waits for another run that writes the same file.
constexpr DWORD kHoldPoll = 250;
constexpr DWORD kHoldWait = 10 * 60 * 1000;

// The bytes of a fetched record; false (with a trace) when it cannot be read
// or is too large to be a record.
bool ReadRecord(const std::wstring& path, std::string& bytes)
{
    const tarn::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    bytes.assign(kRecordLimit + 1, '\0');
    DWORD read = 0;
    if (!file || !::ReadFile(file.Get(), bytes.data(), kRecordLimit + 1, &read, nullptr) || read > kRecordLimit) {
        tarn::Trace(L"Single-file download: the record %ls cannot be read or is no record (error %lu)", path.c_str(),
                    ::GetLastError());
        return false;
    }
    bytes.resize(read);
    return true;
}

// Holds the local file for the whole download: read and write access,
// shared for reading only, made when missing. A second run (another
// installer, an update child) that wants the same file waits here until the
// first has finished or died, instead of rewriting the file under it.
// `existed` tells whether the file was there before.
tarn::UniqueFileHandle HoldLocalFile(const std::wstring& path, bool& existed)
{
    for (DWORD waited = 0;; waited += kHoldPoll) {
        tarn::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        const DWORD error = ::GetLastError();
        if (file) {
            existed = error == ERROR_ALREADY_EXISTS;
            return file;
        }
        if (error != ERROR_SHARING_VIOLATION || waited >= kHoldWait) {
            // A folder standing in the file's place ends here too.
            tarn::Trace(L"Single-file download: cannot hold %ls for writing (error %lu)", path.c_str(), error);
            return file;
        }
        ::Sleep(kHoldPoll);
    }
}

// Writes the record beside its file, without write sharing, like the file.
bool WriteRecordCopy(const std::wstring& path, const std::string& bytes)
{
    const tarn::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        tarn::Trace(L"Single-file download: cannot write the record %ls (error %lu)", path.c_str(), ::GetLastError());
        return false;
    }
    return true;
}

// Where the newest accepted serial of a file fetched on its own is kept.
std::wstring FileSerialKey(const std::wstring& name)
{
    return tarn::ReleaseSerialKeyPath(L"Files\\" + name);
}

// In a program built with release keys, a file that an update download
// fetches must be signed on its own: "<file>.sig" beside it on the server,
// a manifest for that file name holding just it (see release_check.h).
// The accepted serial is kept per file name.
bool CheckSignedFile(const std::wstring& fileUrl, const std::wstring& name, tarn::ReleaseVerdict& verdict)
{
    std::wstring local;
    std::string text;
    const bool fetched = tarn::FetchVerified(fileUrl + L".sig", local, tarn::ExpectedFile(), kRecordAttempts) ==
                         tarn::FetchOutcome::Stored;
    const bool read = fetched && tarn::ReadSmallFile(local, kRecordLimit * 16, text);
    if (fetched) {
        ::DeleteFileW(local.c_str());
    }
    tarn::DownloadListEntries entries;
    entries.packages = entries.statusEntries = {name};
    verdict = tarn::CheckRelease(read ? &text : nullptr, tarn::BuiltInReleaseKeys(), name, entries,
                                 tarn::ReadAcceptedSerial(FileSerialKey(name)));
    return verdict.accepted;
}

}  // namespace

namespace tarn {

std::wstring_view UpdateProductName(int kind)
{
    switch (kind) {
    case 0:
        return L"Tarn Gridwell";
    case 1:
        return L"Tarn Corvin";
    default:
        return std::wstring_view();
    }
}

bool FolderHoldsVersion(const std::wstring& serverRecord, const std::wstring& localRecord,
                        const std::wstring& localFile)
{
    int64_t order = -1;
    if (CompareFiles(serverRecord.c_str(), localRecord.c_str(), order) == 0 || !FileExists(localFile.c_str())) {
        return false;
    }
    // A file cut short beside a good record is no current file.
    const int64_t size = ReadFileInfo(serverRecord).size;
    return size <= 0 || GetFileSize64(localFile.c_str()) == size;
}

void RunTestDownloadsFrom(std::wstring_view serverRoot)
{
    ShowMessageBox(nullptr, L"TestFunc", kTestModeCaption, MB_OK);
    for (const wchar_t* product : {L"/Lumara/Data/2023", L"/Gridwell/Data/2023"}) {
        std::wstring destination;
        HttpGetFileRetrying(tarn::DownloadsUrl(std::wstring(serverRoot) + product, tarn::kUpdaterCabinetName),
                            destination);
        ShowMessageBox(nullptr, destination, kTestModeCaption, MB_OK);
    }
}

}  // namespace tarn

int DownloadFileToFolder(std::wstring_view url, std::wstring_view folder)
{
    tarn::UrlParts parts;
    if (url.empty() || folder.empty() || !tarn::SplitUrl(url, parts) || parts.name.empty()) {
        return 0;
    }
    const std::wstring target = tarn::WithTrailingBackslash(folder);
    const std::wstring base = parts.base + L"/";
    const std::wstring localRecord = tarn::FileInfoNameForStem(target + parts.stem);
    const std::wstring localFile = target + parts.stem + parts.extension;

    // The record is fetched once: the body is verified against the very
    // record that is then stored beside it.
    const tarn::TemporaryRecord serverRecord(parts.stem);
    std::wstring recordDestination = serverRecord.Path();
    std::string record;
    if (recordDestination.empty() ||
        tarn::FetchVerified(tarn::FileInfoNameForStem(base + parts.stem), recordDestination, tarn::ExpectedFile(),
                            kRecordAttempts) != tarn::FetchOutcome::Stored) {
        // Without a record on the server nothing is fetched.
        tarn::Trace(L"Single-file download: no record for %ls; %ls stays as it is", std::wstring(url).c_str(),
                    target.c_str());
        return 0;
    }
    if (!ReadRecord(serverRecord.Path(), record)) {
        return 0;
    }

    // With release keys, nothing is taken on its record alone.
    const bool keyed = !tarn::BuiltInReleaseKeys().empty();
    tarn::ReleaseVerdict verdict;
    if (keyed && !CheckSignedFile(base + parts.stem + parts.extension, parts.stem + parts.extension, verdict)) {
        return 0;
    }
    const tarn::ExpectedFile pinned = keyed ? tarn::PinnedFile(verdict.manifest.packages[0]) : tarn::ExpectedFile();
    tarn::ExpectedFile expected = tarn::ReadFileInfo(serverRecord.Path());
    if (keyed && !tarn::PinToManifest(expected, pinned)) {
        tarn::Trace(L"Single-file download: the record of %ls contradicts its signed manifest", std::wstring(url).c_str());
        return 0;
    }
    CreateFolderOfFile(localFile.c_str());
    bool existed = false;
    tarn::UniqueFileHandle file = HoldLocalFile(localFile, existed);
    if (!file) {
        return 0;
    }
    if (existed && tarn::FolderHoldsVersion(serverRecord.Path(), localRecord, localFile) &&
        (!keyed || tarn::MatchesPinnedFile(localFile, pinned))) {
        return 0;
    }

    // The old record goes with the old file: a run that dies during the fetch
    // must not leave a partial file beside a record that later runs would
    // take for the current one.
    tarn::DeleteFileIfPresent(localRecord);
    const int result = tarn::FetchIntoHeldFile(base + parts.stem + parts.extension, file.Get(), localFile, expected,
                                               kFileAttempts) == tarn::FetchOutcome::Stored &&
                               WriteRecordCopy(localRecord, record)
                           ? 1
                           : 0;
    if (result != 1) {
        tarn::DeleteFileIfPresent(localRecord);
    } else if (keyed) {
        tarn::RecordAcceptedSerial(FileSerialKey(parts.stem + parts.extension), verdict.manifest.serial);
    }
    file.Reset();
    if (result != 1) {
        // Fails harmlessly when another run holds the file by now.
        tarn::DeleteFileIfPresent(localFile);
    }
    return result;
}

int DownloadProductUpdate(std::wstring_view tableUrl, std::wstring_view folder, int kind)
{
    tarn::UrlParts tableParts;
    if (tableUrl.empty() || folder.empty() || !tarn::SplitUrl(tableUrl, tableParts)) {
        return 0;
    }
    const std::wstring target = tarn::WithTrailingBackslash(folder);
    const std::wstring base = tableParts.base + L"/";
    const std::wstring tableFile = GetTempFolder() + L"\\Update.csv";

    tarn::DeleteFileIfPresent(tableFile);
    std::wstring tableDestination = tableFile;
    HttpGetFile(tableUrl, tableDestination, nullptr, nullptr, nullptr, kFileAttempts);
    if (!FileExists(tableFile.c_str())) {
        return 0;
    }
    std::wstring updateUrl;
    bool found = false;
    {
        const CCsvFile table(tableFile.c_str());
        tarn::DeleteFileIfPresent(tableFile);
        const int productColumn = table.GetColumn(L"product");
        const int urlColumn = table.GetColumn(L"updateURL");
        if (productColumn < 0 || urlColumn < 0) {
            tarn::Trace(L"update table %ls has no \"product\" or \"updateURL\" column", std::wstring(tableUrl).c_str());
            return 0;
        }
        const std::wstring_view product = tarn::UpdateProductName(kind);
        for (size_t row = 0; row < table.m_Lines.GetSize() && !product.empty(); ++row) {
            const CCsvLine& line = table.m_Lines[row];
            if (tarn::EqualsNoCase(line[static_cast<size_t>(productColumn)], product)) {
                updateUrl = line[static_cast<size_t>(urlColumn)];
                found = true;
                break;
            }
        }
    }
    // A product without a row has no update: nothing is fetched.
    if (!found || updateUrl.empty()) {
        return 0;
    }

    const size_t dot = updateUrl.find_last_of(L'.');
    const std::wstring stem = updateUrl.substr(0, dot);
    const std::wstring extension = dot == std::wstring::npos ? std::wstring() : updateUrl.substr(dot);
    // The description is named after the stem's last component only, so a
    // name from the server cannot reach outside the target folder.
    const size_t separator = stem.find_last_of(L"/\\");
    const std::wstring localStem = separator == std::wstring::npos ? stem : stem.substr(separator + 1);
    if (!localStem.empty()) {
        std::wstring textDestination = target + localStem + L".txt";
        HttpGetFile(base + stem + L".txt", textDestination, nullptr, nullptr, nullptr, kFileAttempts);
    }
    return DownloadFileToFolder(base + stem + extension, target);
}

void RunTestDownloads()
{
    tarn::RunTestDownloadsFrom(tarn::kTestServerRoot);
}

