#pragma once
// The download status file beside the installation data folder
// ("<folder> DownloadStatus.txt"): section "Downloads" marks each listed
// file "True" once it lies verified in the temporary folder, section
// "Unpacked" each package "True" once it was unpacked completely. Keys are
// the files' server URLs. The file is never cleared, so an interrupted
// installation resumes, and a later release (another base URL) adds its own
// keys.

#include <string>
#include <string_view>
#include <vector>

#include "config/store/cfg_reader.h"

namespace tarn {

// "<installation data folder> DownloadStatus.txt".
std::wstring DownloadStatusPath(const std::wstring& installDataFolder);

class DownloadStatus {
public:
    explicit DownloadStatus(const std::wstring& path);

    // Writes "False" for every URL that has no value yet; keeps the others.
    // The keys stand in the order given.
    void AddEntries(const std::vector<std::wstring>& urls);

    bool IsDownloaded(const std::wstring& url);
    void SetDownloaded(const std::wstring& url, bool downloaded);
    void SetUnpacked(const std::wstring& url, bool unpacked);

    // Starts a run over `packageUrls`: every package of `baseUrl` that an
    // earlier run recorded as unpacked is forgotten, and the given ones are
    // marked not unpacked until this run has unpacked them. The base URL is
    // recorded as the run's (key "BaseUrl" of section "Run").
    void BeginUnpacking(std::wstring_view baseUrl, const std::vector<std::wstring>& packageUrls);

    // True when a run recorded packages of `baseUrl` and every one of them
    // is downloaded and unpacked.
    bool EveryPackageInstalled(std::wstring_view baseUrl);

    // EveryPackageInstalled for the base URL the last run recorded, wherever
    // it came from (the built-in one or the server product list);
    // `fallbackBaseUrl` when a file of an older program recorded none.
    bool LastRunComplete(std::wstring_view fallbackBaseUrl);

    // Writes the file when its text has changed. 1 on success.
    int Save();

private:
    CCfgReader store_;
};

}  // namespace tarn
