#include "app/install/package_source.h"

#include "config/text/file_crc.h"
#include "support/file_system.h"
#include "support/sha256.h"
#include "support/trace.h"
#include "transfer/file_info.h"
#include "transfer/http_download.h"
#include "transfer/proxy_login.h"

namespace {

class ServerSource : public tarn::PackageSource {
public:
    bool Fetch(const std::wstring& url, std::wstring& localPath, HWND progressBar) override
    {
        return FetchWith(url, localPath, [&](int* cancel) {
                   return HttpGetFileRetrying(url, localPath, progressBar, cancel) ? tarn::FetchOutcome::Stored
                                                                                   : tarn::FetchOutcome::Failed;
               }) == tarn::FetchOutcome::Stored;
    }

    tarn::PackageFetch FetchPackage(const std::wstring& url, std::wstring& localPath, HWND progressBar,
                                    const tarn::ExpectedFile* pinned) override
    {
        switch (FetchWith(url, localPath, [&](int* cancel) {
            return tarn::FetchPackage(url, localPath, progressBar, cancel, pinned);
        })) {
        case tarn::FetchOutcome::Stored:
            return tarn::PackageFetch::Fetched;
        case tarn::FetchOutcome::GivenUp:
            return tarn::PackageFetch::GivenUp;
        case tarn::FetchOutcome::Mismatch:
            return tarn::PackageFetch::Mismatch;
        case tarn::FetchOutcome::DiskFull:
            return tarn::PackageFetch::DiskFull;
        default:
            return tarn::PackageFetch::Failed;
        }
    }

    tarn::InstallReason LastFailure() const override { return lastFailure_; }

    bool IsCurrentCopy(const std::wstring& url, const std::wstring& localPath) override
    {
        const int64_t size = FileExists(localPath.c_str()) ? tarn::GetFileSize64(localPath.c_str()) : -1;
        if (size < 0) {
            return false;
        }
        const tarn::ExpectedFile expected = tarn::LookUpFileInfo(url, tarn::RecordNeed::Required);
        if (expected.unavailable || expected.unverifiable) {
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
    // Runs `fetch` (given a cancel flag that stays 0); Stored only when the
    // file is there afterwards.
    template <class Fetcher>
    tarn::FetchOutcome FetchWith(const std::wstring& url, std::wstring& localPath, Fetcher fetch)
    {
        localPath.clear();
        int cancel = 0;
        tarn::FetchOutcome outcome = fetch(&cancel);
        if (outcome == tarn::FetchOutcome::Stored && !FileExists(localPath.c_str())) {
            outcome = tarn::FetchOutcome::Failed;
        }
        if (outcome != tarn::FetchOutcome::Stored) {
            // The download traced its cause.
            tarn::Trace(L"Install: %ls not fetched to %ls", url.c_str(), localPath.c_str());
            lastFailure_ = outcome == tarn::FetchOutcome::GivenUp  ? tarn::InstallReason::DamagedPackage
                           : outcome == tarn::FetchOutcome::DiskFull ? tarn::InstallReason::DiskFull
                           : tarn::ProxyLoginRefused()               ? tarn::InstallReason::ProxyLogin
                                                                     : tarn::InstallReason::NoConnection;
        }
        return outcome;
    }
};

}  // namespace

namespace tarn {

bool MatchesPinnedFile(const std::wstring& path, const ExpectedFile& pinned)
{
    return GetFileSize64(path.c_str()) == pinned.size && FileSha256Hex(path.c_str()) == pinned.sha256;
}

PackageFetch KeepIfPinned(const std::wstring& path, const ExpectedFile& pinned)
{
    if (!MatchesPinnedFile(path, pinned)) {
        Trace(L"Install: %ls differs from the signed manifest", path.c_str());
        ::DeleteFileW(path.c_str());
        return PackageFetch::Mismatch;
    }
    return PackageFetch::Fetched;
}

PackageSource& ServerPackageSource()
{
    static ServerSource source;
    return source;
}

}  // namespace tarn
