#include "app/install/package_source.h"

#include "config/text/file_crc.h"
#include "support/file_system.h"
#include "support/trace.h"
#include "transfer/file_info.h"
#include "transfer/http_download.h"

namespace {

class ServerSource : public tarn::PackageSource {
public:
    bool Fetch(const std::wstring& url, std::wstring& localPath, HWND progressBar) override
    {
        localPath.clear();
        int cancel = 0;
        const int fetched = HttpGetFileRetrying(url, localPath, progressBar, &cancel);
        if (!fetched) {
            // The download traced its cause.
            lastFailure_ = tarn::IsDiskFullError(::GetLastError()) ? tarn::InstallReason::DiskFull
                                                                   : tarn::InstallReason::NoConnection;
            return false;
        }
        if (!FileExists(localPath.c_str())) {
            tarn::Trace(L"Install: %ls was fetched, but %ls is missing", url.c_str(), localPath.c_str());
            lastFailure_ = tarn::InstallReason::NoConnection;
            return false;
        }
        return true;
    }

    tarn::InstallReason LastFailure() const override { return lastFailure_; }

    bool IsCurrentCopy(const std::wstring& url, const std::wstring& localPath) override
    {
        const int64_t size = FileExists(localPath.c_str()) ? tarn::GetFileSize64(localPath.c_str()) : -1;
        if (size < 0) {
            return false;
        }
        const tarn::ExpectedFile expected = tarn::LookUpFileInfo(url);
        if (expected.size <= 0 && expected.checksum == 0) {
            tarn::Trace(L"Install: no record for %ls, its copy %ls is fetched again", url.c_str(),
                        localPath.c_str());
            return false;
        }
        if ((expected.size > 0 && expected.size != size) ||
            (expected.checksum != 0 && GetFileCrc(localPath.c_str()) != expected.checksum)) {
            tarn::Trace(L"Install: %ls differs from the record of %ls, fetched again", localPath.c_str(),
                        url.c_str());
            return false;
        }
        return true;
    }

private:
    tarn::InstallReason lastFailure_ = tarn::InstallReason::NoConnection;
};

}  // namespace

namespace tarn {

PackageSource& ServerPackageSource()
{
    static ServerSource source;
    return source;
}

}  // namespace tarn
