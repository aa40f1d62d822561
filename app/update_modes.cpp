#include "app/update_modes.h"

#include <windows.h>

#include "app/command_line.h"
#include "config/text/csv_file.h"
#include "config/text/file_compare.h"
#include "support/file_system.h"
#include "support/message_box.h"
#include "support/name_compare.h"
#include "support/text_format.h"
#include "transfer/download_url.h"
#include "transfer/http_download.h"

namespace tarn {

const wchar_t kTestServerRoot[] = L"http://test.download.tarnwerk.de";
const wchar_t kTestDownloadShare[] = L"\\\\tarnwerk-fs01\\Download\\TestDownload";

}  // namespace tarn

namespace {

const wchar_t kRecordSuffix[] = L".fileinfo.txt";
const wchar_t kTestModeCaption[] = L"Tarnwerk AG";
constexpr int kFileAttempts = 3;
constexpr int kRecordAttempts = 1;

std::wstring WithBackslash(std::wstring_view folder)
{
    std::wstring result(folder);
    if (result.back() != L'\\') {
        result += L'\\';
    }
    return result;
}

void DeleteIfPresent(const std::wstring& path)
{
    ::DeleteFileW(path.c_str());
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
    return CompareFiles(serverRecord.c_str(), localRecord.c_str(), order) != 0 && FileExists(localFile.c_str());
}

void RunTestDownloadsFrom(std::wstring_view serverRoot)
{
    ShowMessageBox(nullptr, L"TestFunc", kTestModeCaption, MB_OK);
    for (const wchar_t* path : {L"/Lumara/Data/2023/Downloads/SetupUpdater_2023.cab",
                                L"/Gridwell/Data/2023/Downloads/SetupUpdater_2023.cab"}) {
        std::wstring destination;
        HttpGetFileRetrying(std::wstring(serverRoot) + path, destination);
        ShowMessageBox(nullptr, destination, kTestModeCaption, MB_OK);
    }
}

int TestDownloadSourceFrom(std::wstring_view url, std::wstring& destination, std::wstring_view commandLine,
                           std::wstring_view shareFolder)
{
    destination.clear();
    UrlParts parts;
    // The name is the URL's last segment, so a list entry cannot name a
    // file outside the share or the temporary folder.
    if (!EqualsNoCase(commandLine, L"TestDownload") || url.find(L'/') == std::wstring_view::npos ||
        !SplitUrl(url, parts) || parts.name.empty()) {
        return 0;
    }
    const std::wstring source = std::wstring(shareFolder) + L"\\" + parts.name;
    if (!FileExists(source.c_str())) {
        return 0;
    }
    destination = GetTempFolder() + L"\\" + parts.name;
    const int copied = CopyFileKeepAttributes(source.c_str(), destination.c_str());
    if (!copied) {
        destination.clear();
    }
    return copied;
}

}  // namespace tarn

int DownloadFileToFolder(std::wstring_view url, std::wstring_view folder)
{
    tarn::UrlParts parts;
    if (url.empty() || folder.empty() || !tarn::SplitUrl(url, parts) || parts.name.empty()) {
        return 0;
    }
    const std::wstring target = WithBackslash(folder);
    const std::wstring base = parts.base + L"/";
    const std::wstring serverRecord = GetTempFolder() + L"\\" + parts.stem + L"_" +
                                      tarn::FormatText(L"%d", static_cast<int>(::GetTickCount())) +
                                      kRecordSuffix;
    const std::wstring localRecord = target + parts.stem + kRecordSuffix;
    const std::wstring localFile = target + parts.stem + parts.extension;

    DeleteIfPresent(serverRecord);
    std::wstring recordDestination = serverRecord;
    HttpGetFile(base + parts.stem + kRecordSuffix, recordDestination, nullptr, nullptr, nullptr,
                kRecordAttempts);
    if (!FileExists(serverRecord.c_str())) {
        // Without a record on the server nothing is fetched.
        return 0;
    }
    if (tarn::FolderHoldsVersion(serverRecord, localRecord, localFile)) {
        DeleteIfPresent(serverRecord);
        return 0;
    }

    // The old record goes with the old file: a run that dies during the fetch
    // must not leave a partial file beside a record that later runs would
    // take for the current one.
    DeleteIfPresent(localRecord);
    DeleteIfPresent(localFile);
    std::wstring fileDestination = localFile;
    int result = HttpGetFile(base + parts.stem + parts.extension, fileDestination, nullptr, nullptr, nullptr,
                             kFileAttempts);
    if (result == 1) {
        result = CopyFileKeepAttributes(serverRecord.c_str(), localRecord.c_str()) ? 1 : 0;
    }
    if (result != 1) {
        DeleteIfPresent(localFile);
        DeleteIfPresent(localRecord);
    }
    DeleteIfPresent(serverRecord);
    return result;
}

int DownloadProductUpdate(std::wstring_view tableUrl, std::wstring_view folder, int kind)
{
    tarn::UrlParts tableParts;
    if (tableUrl.empty() || folder.empty() || !tarn::SplitUrl(tableUrl, tableParts)) {
        return 0;
    }
    const std::wstring target = WithBackslash(folder);
    const std::wstring base = tableParts.base + L"/";
    const std::wstring tableFile = GetTempFolder() + L"\\Update.csv";

    DeleteIfPresent(tableFile);
    std::wstring tableDestination = tableFile;
    HttpGetFile(tableUrl, tableDestination, nullptr, nullptr, nullptr, kFileAttempts);
    if (!FileExists(tableFile.c_str())) {
        return 0;
    }
    std::wstring updateUrl;
    bool found = false;
    {
        const CCsvFile table(tableFile.c_str());
        DeleteIfPresent(tableFile);
        const int productColumn = table.GetColumn(L"product");
        const int urlColumn = table.GetColumn(L"updateURL");
        if (productColumn < 0 || urlColumn < 0) {
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

int TestDownloadSource(std::wstring_view url, std::wstring& destination)
{
    return tarn::TestDownloadSourceFrom(url, destination, GetApplicationCommandLine(), tarn::kTestDownloadShare);
}
