#include "app/install/download_status.h"

#include "support/name_compare.h"
#include "support/trace.h"
#include "transfer/server_layout.h"

namespace {

const wchar_t kDownloads[] = L"Downloads";
const wchar_t kUnpacked[] = L"Unpacked";
const wchar_t kRun[] = L"Run";
const wchar_t kRunBaseUrl[] = L"BaseUrl";

std::wstring PackagePrefix(std::wstring_view baseUrl)
{
    return tarn::DownloadsUrl(baseUrl, L"");
}

}  // namespace

namespace tarn {

std::wstring DownloadStatusPath(const std::wstring& installDataFolder)
{
    return installDataFolder + L" DownloadStatus.txt";
}

DownloadStatus::DownloadStatus(const std::wstring& path) : store_(path)
{
    if (!store_.IsInit()) {
        Trace(L"Download status: %ls cannot be read (error %lu)", path.c_str(), ::GetLastError());
    }
}

void DownloadStatus::AddEntries(const std::vector<std::wstring>& urls)
{
    // A new key goes directly under the section header: added from the last
    // to the first, they stand in list order.
    for (auto url = urls.rbegin(); url != urls.rend(); ++url) {
        std::wstring value;
        store_.GetValue(value, kDownloads, *url);
        if (value.empty()) {
            store_.SetIntValue(kDownloads, *url, 0, 1);
        }
    }
}

bool DownloadStatus::IsDownloaded(const std::wstring& url)
{
    return store_.GetBoolValue(kDownloads, url, 0) != 0;
}

void DownloadStatus::SetDownloaded(const std::wstring& url, bool downloaded)
{
    store_.SetIntValue(kDownloads, url, downloaded ? 1 : 0, 1);
}

void DownloadStatus::SetUnpacked(const std::wstring& url, bool unpacked)
{
    store_.SetIntValue(kUnpacked, url, unpacked ? 1 : 0, 1);
}

void DownloadStatus::BeginUnpacking(std::wstring_view baseUrl, const std::vector<std::wstring>& packageUrls)
{
    const std::wstring prefix = PackagePrefix(baseUrl);
    std::vector<std::wstring> keys;
    std::vector<std::wstring> values;
    store_.GetSection(keys, values, kUnpacked, 0);
    for (const std::wstring& key : keys) {
        if (StartsWithNoCase(key, prefix)) {
            store_.DeleteValue(kUnpacked, key);
        }
    }
    for (auto url = packageUrls.rbegin(); url != packageUrls.rend(); ++url) {
        SetUnpacked(*url, false);
    }
    store_.SetValue(kRun, kRunBaseUrl, std::wstring(baseUrl));
}

bool DownloadStatus::LastRunComplete(std::wstring_view fallbackBaseUrl)
{
    std::wstring baseUrl;
    store_.GetValue(baseUrl, kRun, kRunBaseUrl);
    return EveryPackageInstalled(baseUrl.empty() ? fallbackBaseUrl : std::wstring_view(baseUrl));
}

bool DownloadStatus::EveryPackageInstalled(std::wstring_view baseUrl)
{
    const std::wstring prefix = PackagePrefix(baseUrl);
    std::vector<std::wstring> keys;
    std::vector<std::wstring> values;
    store_.GetSection(keys, values, kUnpacked, 0);
    bool any = false;
    for (size_t i = 0; i < keys.size(); ++i) {
        if (!StartsWithNoCase(keys[i], prefix)) {
            continue;
        }
        int unpacked = 0;
        if (!CCfgReader::IsBoolValue(values[i], &unpacked) || !unpacked || !IsDownloaded(keys[i])) {
            return false;
        }
        any = true;
    }
    return any;
}

int DownloadStatus::Save()
{
    const int saved = store_.Save();
    if (!saved) {
        Trace(L"Download status: %ls not written (error %lu)", store_.Get_m_File().c_str(), ::GetLastError());
    }
    return saved;
}

}  // namespace tarn
