#include "app/install/package_loop.h"

#include <memory>
#include <thread>

#include "app/install/install_result.h"
#include "app/install/package_source.h"
#include "app/install/running_program.h"
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

    ~PackageRun()
    {
        if (unpacking_) {
            unpacking_->thread.join();
        }
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

    // True once the run cannot complete: a package was given up or differed
    // from the signed manifest.
    bool Ended() const { return ended_; }
    bool Refused() const { return reason_ == tarn::InstallReason::ReleaseRefused; }

    // A package that the signed manifest does not allow: the run ends, and
    // this is its reason whatever came before.
    void Refuse()
    {
        reason_ = tarn::InstallReason::ReleaseRefused;
        ended_ = true;
    }

    // Waits for the package being unpacked and records its result: the
    // status file marks it unpacked, or its cause is noted.
    void FinishUnpack()
    {
        if (!unpacking_) {
            return;
        }
        unpacking_->thread.join();
        const std::unique_ptr<Unpacking> done = std::move(unpacking_);
        if (!done->extracted) {
            // The extraction traced its cause.
            Keep(done->context.m_Failure == tarn::CabExtractFailure::DiskFull ? tarn::InstallReason::DiskFull
                                                                              : tarn::InstallReason::DamagedPackage);
            return;
        }
        status_.SetUnpacked(done->url, true);
        status_.Save();
    }

    tarn::InstallReason Reason() const { return reason_; }

private:
    // Hands the package to the unpacking thread and returns: the next
    // package downloads while this one unpacks. The package before it is
    // waited for first, so packages unpack one at a time in list order.
    void Unpack(const std::wstring& url, const std::wstring& local, const std::wstring& prefix)
    {
        FinishUnpack();
        view_.SetStatusText(prefix + L"wird entpackt...");
        unpacking_ = std::make_unique<Unpacking>();
        unpacking_->url = url;
        unpacking_->thread = std::thread([job = unpacking_.get(), local, folder = view_.InstallDataFolder()] {
            job->extracted = ExtractCabinetTo(job->context, local.c_str(), folder.c_str()) != 0;
            if (job->extracted) {
                tarn::Trace(L"Install: %ls unpacked (%zu files)", local.c_str(), job->context.m_Extracted.size());
            } else {
                job->extracted = OnlyRunningSetupLeft(job->context);
            }
        });
    }

    // The setup that an earlier run started and that still runs cannot be
    // replaced; the rest of the package is there, so the package counts as
    // unpacked (the sequence then says that the setup runs).
    static bool OnlyRunningSetupLeft(const CabExtractContext& context)
    {
        const std::wstring setup = context.m_TargetFolder + L"Setup.exe";
        if (!tarn::OnlyFileNotWritten(context, setup) || !tarn::IsProgramRunning(setup)) {
            return false;
        }
        tarn::Trace(L"Install: %ls still runs and was left as it is; the rest of %ls is unpacked", setup.c_str(),
                    context.m_CabinetPath.c_str());
        return true;
    }

    struct Unpacking {
        std::wstring url;
        CabExtractContext context;
        bool extracted = false;
        std::thread thread;
    };

    // The first cause stays: it is the one the user can act on first. The
    // package unpacking meanwhile came first in the list, so its cause is
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
    std::unique_ptr<Unpacking> unpacking_;  // the package unpacking meanwhile
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
