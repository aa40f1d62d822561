#include "app/install/test_share_source.h"

#include "app/install/package_source.h"
#include "support/file_system.h"
#include "transfer/download_url.h"

namespace tarn {

const wchar_t kTestDownloadShare[] = L"\\\\tarnwerk-fs01\\Download\\TestDownload";

int CopyFromTestShare(std::wstring_view url, std::wstring& destination, std::wstring_view shareFolder)
{
    destination.clear();
    UrlParts parts;
    if (url.find(L'/') == std::wstring_view::npos || !SplitUrl(url, parts) || parts.name.empty()) {
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

namespace {

class TestShareSource : public PackageSource {
public:
    bool Fetch(const std::wstring& url, std::wstring& localPath, HWND progressBar) override
    {
        if (CopyFromTestShare(url, localPath, kTestDownloadShare)) {
            return FileExists(localPath.c_str()) != 0;
        }
        return ServerPackageSource().Fetch(url, localPath, progressBar);
    }

    PackageFetch FetchPackage(const std::wstring& url, std::wstring& localPath, HWND progressBar,
                              const ExpectedFile* pinned) override
    {
        if (CopyFromTestShare(url, localPath, kTestDownloadShare)) {
            if (!FileExists(localPath.c_str())) {
                return PackageFetch::Failed;
            }
            return pinned != nullptr ? KeepIfPinned(localPath, *pinned) : PackageFetch::Fetched;
        }
        return ServerPackageSource().FetchPackage(url, localPath, progressBar, pinned);
    }

    bool IsCurrentCopy(const std::wstring& url, const std::wstring& localPath) override
    {
        return ServerPackageSource().IsCurrentCopy(url, localPath);
    }
};

}  // namespace

PackageSource& TestSharePackageSource()
{
    static TestShareSource source;
    return source;
}

}  // namespace tarn
