#include "app/install/download_list.h"

#include <algorithm>

#include "support/name_compare.h"

namespace {

const wchar_t kHostUpdateCabinet[] = L"RODOvoVuviri.cab";
const wchar_t kUpdateTable[] = L"AutoUpdateInfo.csv";
constexpr size_t kPrefixLength = 12;  // "RODOvoVuviri", "SetupUpdater"
constexpr size_t kShortestEntry = 4;

bool StartsWithPrefixOf(std::wstring_view line, std::wstring_view name)
{
    return line.size() >= kPrefixLength && tarn::EqualsNoCase(line.substr(0, kPrefixLength),
                                                               name.substr(0, kPrefixLength));
}

// Removes the last element that starts with the first 12 characters of `name`.
void RemoveLastStartingLike(std::vector<std::wstring>& lines, std::wstring_view name)
{
    const auto last = std::find_if(lines.rbegin(), lines.rend(),
                                   [name](const std::wstring& line) { return StartsWithPrefixOf(line, name); });
    if (last != lines.rend()) {
        lines.erase(std::next(last).base());
    }
}

std::wstring UpdateDownload(std::wstring_view keyword, const std::wstring& url, std::wstring_view folder)
{
    std::wstring arguments(keyword);
    arguments += L'"' + url + L"\" ToFolder=\"";
    arguments += folder;
    arguments += L'"';
    return arguments;
}

}  // namespace

namespace tarn {

bool IsListedFileName(std::wstring_view line)
{
    return line.size() >= kShortestEntry && line.find_first_of(L"\\/:") == std::wstring_view::npos &&
           line.find_first_not_of(L". ") != std::wstring_view::npos;
}

DownloadListEntries ReadDownloadListLines(const std::vector<std::wstring>& lines)
{
    DownloadListEntries entries;
    for (const std::wstring& line : lines) {
        if (!IsListedFileName(line)) {
            continue;
        }
        entries.statusEntries.push_back(line);
        if (!EqualsNoCase(line, kUpdaterCabinetName)) {
            entries.packages.push_back(line);
        }
    }
    RemoveLastStartingLike(entries.packages, kHostUpdateCabinet);
    RemoveLastStartingLike(entries.packages, kUpdaterCabinetName);
    return entries;
}

std::vector<std::wstring> UpdateDownloadArguments(int profile, bool hostPresent, std::wstring_view baseUrl,
                                                  std::wstring_view installDataFolder)
{
    const bool gridwell = profile == 0 || profile == 1;
    std::vector<std::wstring> downloads;
    if (gridwell && !hostPresent) {
        downloads.push_back(
            UpdateDownload(L"DownloadFile=", DownloadsUrl(baseUrl, kHostUpdateCabinet), installDataFolder));
    }
    downloads.push_back(UpdateDownload(L"DownloadFile=", DownloadsUrl(baseUrl, UpdaterCabinetName(baseUrl)),
                                       installDataFolder));
    if (profile == 2) {
        downloads.push_back(
            UpdateDownload(L"DownloadCorvinUpdate=", UpdatesUrl(baseUrl, kUpdateTable), installDataFolder));
    }
    if (gridwell) {
        downloads.push_back(
            UpdateDownload(L"DownloadGridwellUpdate=", UpdatesUrl(baseUrl, kUpdateTable), installDataFolder));
    }
    return downloads;
}

}  // namespace tarn
