#include "app/install/package_source.h"

#include "config/text/file_crc.h"
#include "support/file_system.h"
#include "support/sha256.h"
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
        if (!fetched || !FileExists(localPath.c_str())) {
            tarn::Trace(L"Install: %ls not fetched to %ls (error %lu)", url.c_str(), localPath.c_str(),
                        ::GetLastError());
            return false;
        }
        return true;
    }

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

    tarn::FetchOutcome FetchPinned(const std::wstring& url, std::wstring& localPath, HWND progressBar,
                                   const tarn::ExpectedFile& pinned) override
    {
        localPath.clear();
        int cancel = 0;
        const tarn::FetchOutcome outcome = tarn::FetchPinned(url, localPath, pinned, progressBar, &cancel);
        if (outcome != tarn::FetchOutcome::Stored) {
            tarn::Trace(L"Install: %ls not fetched to %ls", url.c_str(), localPath.c_str());
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

FetchOutcome KeepIfPinned(const std::wstring& path, const ExpectedFile& pinned)
{
    if (!MatchesPinnedFile(path, pinned)) {
        Trace(L"Install: %ls differs from the signed manifest", path.c_str());
        ::DeleteFileW(path.c_str());
        return FetchOutcome::Mismatch;
    }
    return FetchOutcome::Stored;
}

FetchOutcome PackageSource::FetchPinned(const std::wstring& url, std::wstring& localPath, HWND progressBar,
                                        const ExpectedFile& pinned)
{
    return Fetch(url, localPath, progressBar) ? KeepIfPinned(localPath, pinned) : FetchOutcome::Failed;
}

PackageSource& ServerPackageSource()
{
    static ServerSource source;
    return source;
}

}  // namespace tarn
