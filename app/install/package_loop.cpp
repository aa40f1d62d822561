#include "app/install/package_loop.h"

#include <vector>

#include "app/install/install_result.h"
#include "app/install/package_source.h"
#include "app/install/unpack_queue.h"
#include "support/text_format.h"
#include "support/trace.h"
#include "transfer/cab_extract.h"
#include "transfer/proxy_login.h"
#include "transfer/release_manifest.h"

namespace {

constexpr int kTriesPerPackage = 10;

class PackageRun {
public:
    PackageRun(tarn::InstallView& view, const tarn::InstallInputs& inputs, tarn::DownloadStatus& status)
        : view_(view), inputs_(inputs), status_(status)
    {
    }

    // Downloads the package (or takes its verified copy) and hands it to
    // unpacking.
    void Handle(const tarn::PlannedPackage& package, const std::wstring& prefix,
                const tarn::ManifestPackage* signedPackage)
    {
        const std::wstring& url = package.url;
        std::wstring local = package.localPath;
        const tarn::ExpectedFile pinned = signedPackage != nullptr ? tarn::PinnedFile(*signedPackage) : tarn::ExpectedFile();
        if (status_.IsDownloaded(url)) {
            if (inputs_.source->IsCurrentCopy(url, local) &&
                (signedPackage == nullptr || tarn::MatchesPinnedFile(local, pinned))) {
                Unpack(url, local, prefix);
                return;
            }
            // Missing, from an earlier release, or changed since: fetched again.
            status_.SetDownloaded(url, false);
            status_.Save();
        }
        for (;;) {
            if (tarn::ProxyLoginRefused()) {
                tarn::Trace(L"Install: %ls not fetched: the proxy's login is missing", url.c_str());
                Note(tarn::InstallReason::ProxyLogin);
                return;
            }
            view_.SetStatusText(prefix + L"wird heruntergeladen...");
            const tarn::PackageFetch fetched = inputs_.source->FetchPackage(
                url, local, view_.ProgressBar(), signedPackage != nullptr ? &pinned : nullptr);
            if (fetched == tarn::PackageFetch::Mismatch) {
                tarn::Trace(L"Install: %ls differs from the signed manifest; it is not unpacked", url.c_str());
                Refuse();
                return;
            }
            if (fetched == tarn::PackageFetch::Fetched) {
                tarn::Trace(L"Install: %ls fetched and verified", url.c_str());
                retries_ = 0;
                status_.SetDownloaded(url, true);
                status_.Save();
                Unpack(url, local, prefix);
                return;
            }
            if (fetched == tarn::PackageFetch::DiskFull) {
                // The later packages go to the same folder: the run ends
                // here instead of fetching the same bytes again and again.
                tarn::Trace(L"Install: %ls does not fit the temporary folder's volume; the run ends incomplete",
                            url.c_str());
                ended_ = true;
                Note(tarn::InstallReason::DiskFull);
                return;
            }
            if (fetched == tarn::PackageFetch::GivenUp) {
                // The server's copy is damaged: no later package can make
                // this run complete, so it ends here.
                tarn::Trace(L"Install: %ls failed its record in every fetch; the run ends incomplete", url.c_str());
                ended_ = true;
                Note(tarn::InstallReason::DamagedPackage);
                return;
            }
            if (++retries_ >= kTriesPerPackage) {
                retries_ = 0;
                tarn::Trace(L"Install: %ls skipped after %d tries", url.c_str(), kTriesPerPackage);
                Note(inputs_.source->LastFailure());
                return;
            }
        }
    }

    // True once the run cannot complete: a package was given up, differed
    // from the signed manifest or did not fit the temporary folder.
    bool Ended() const { return ended_; }
    bool Refused() const { return reason_ == tarn::InstallReason::ReleaseRefused; }

    // A package that the signed manifest does not allow: the run ends, and
    // this is its reason whatever came before.
    void Refuse()
    {
        reason_ = tarn::InstallReason::ReleaseRefused;
        ended_ = true;
    }

    // Waits for the packages still unpacking and records their outcomes.
    void FinishUnpack() { Record(unpacking_.WaitForAll()); }

    tarn::InstallReason Reason() const { return reason_; }

private:
    // Hands the package to unpacking and returns: the next package downloads
    // while this one waits or unpacks.
    void Unpack(const std::wstring& url, const std::wstring& local, const std::wstring& prefix)
    {
        Record(unpacking_.TakeDone());
        view_.SetStatusText(prefix + L"wird entpackt...");
        unpacking_.Add(url, local, view_.InstallDataFolder());
    }

    // The status file marks an unpacked package; a failed one gives its cause.
    void Record(const std::vector<tarn::UnpackOutcome>& outcomes)
    {
        for (const tarn::UnpackOutcome& outcome : outcomes) {
            if (outcome.unpacked) {
                status_.SetUnpacked(outcome.url, true);
            } else {
                Keep(outcome.failure == tarn::CabExtractFailure::DiskFull ? tarn::InstallReason::DiskFull
                                                                         : tarn::InstallReason::DamagedPackage);
            }
        }
        if (!outcomes.empty()) {
            status_.Save();
        }
    }

    // The first cause stays: it is the one the user can act on first. The
    // packages still unpacking came first in the list, so their causes are
    // taken before this one.
    void Note(tarn::InstallReason reason)
    {
        FinishUnpack();
        Keep(reason);
    }

    void Keep(tarn::InstallReason reason)
    {
        if (reason_ == tarn::InstallReason::None) {
            reason_ = reason;
        }
    }

    tarn::InstallReason reason_ = tarn::InstallReason::None;
    tarn::InstallView& view_;
    const tarn::InstallInputs& inputs_;
    tarn::DownloadStatus& status_;
    int retries_ = 0;  // shared by all packages, as the tries in a row
    bool ended_ = false;
    tarn::UnpackQueue unpacking_;  // last: its destructor waits for the packages handed over
};

}  // namespace

namespace tarn {

std::wstring PackageStatusPrefix(size_t number, size_t count)
{
    return FormatText(L"Das %d. Datenpaket von %d ", static_cast<int>(number), static_cast<int>(count));
}

InstallReason RunPackageLoop(InstallView& view, const InstallInputs& inputs, DownloadStatus& status,
                             const InstallPlan& plan, const ReleaseManifest* manifest, std::wstring* refused)
{
    const size_t count = plan.packages.size();
    PackageRun run(view, inputs, status);
    for (size_t i = 0; i < count; ++i) {
        const PlannedPackage& package = plan.packages[i];
        const ManifestPackage* signedPackage =
            manifest != nullptr ? FindManifestPackage(*manifest, package.name) : nullptr;
        if (manifest != nullptr && signedPackage == nullptr) {
            run.Refuse();  // CheckRelease refuses such a list before the loop
        } else {
            run.Handle(package, PackageStatusPrefix(i + 1, count), signedPackage);
        }
        if (run.Ended()) {
            if (run.Refused() && refused != nullptr) {
                *refused = package.name;
            }
            break;
        }
    }
    run.FinishUnpack();
    return run.Reason();
}

}  // namespace tarn
