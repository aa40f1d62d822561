#include "app/install/download_list.h"

#include <windows.h>

#include <algorithm>

#include "config/text/text_file.h"

#include "support/name_compare.h"
#include "support/safe_names.h"

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
    return line.size() >= kShortestEntry && line.find(L'/') == std::wstring_view::npos &&
           line.find(L'\\') == std::wstring_view::npos && IsContainedName(line);
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

const wchar_t* CheckDownloadListText(std::wstring_view text, size_t longestName, std::vector<std::wstring>& lines)
{
    lines.clear();
    if (text.find(L'\0') != std::wstring_view::npos) {
        return L"holds a zero character (cut short, or UTF-16 without a byte-order mark)";
    }
    if (text.find(L'\xFFFD') != std::wstring_view::npos) {
        return L"holds bytes that do not decode";
    }
    ReadArrayFromBuffer(text.data(), lines, static_cast<int64_t>(text.size()));
    for (const std::wstring& line : lines) {
        if (line.size() > MAX_PATH) {
            lines.clear();
            return L"holds a line longer than the path limit";
        }
        if (IsListedFileName(line) && line.size() > longestName) {
            lines.clear();
            return L"names a file too long for the temporary folder";
        }
    }
    if (ReadDownloadListLines(lines).packages.empty()) {
        lines.clear();
        return L"names no package";
    }
    return nullptr;
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
