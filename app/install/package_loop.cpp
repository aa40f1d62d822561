#include "app/install/package_loop.h"

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

    // True when the package was downloaded (or taken from its verified copy)
    // and unpacked completely.
    bool Handle(const tarn::PlannedPackage& package, const std::wstring& prefix,
                const tarn::ManifestPackage* signedPackage)
    {
        const std::wstring& url = package.url;
        std::wstring local = package.localPath;
        const tarn::ExpectedFile pinned = signedPackage != nullptr ? tarn::PinnedFile(*signedPackage) : tarn::ExpectedFile();
        if (status_.IsDownloaded(url)) {
            if (inputs_.source->IsCurrentCopy(url, local) &&
                (signedPackage == nullptr || tarn::MatchesPinnedFile(local, pinned))) {
                return Unpack(url, local, prefix);
            }
            // Missing, from an earlier release, or changed since: fetched again.
            status_.SetDownloaded(url, false);
            status_.Save();
        }
        for (;;) {
            if (tarn::ProxyLoginRefused()) {
                tarn::Trace(L"Install: %ls not fetched: the proxy's login is missing", url.c_str());
                Note(tarn::InstallReason::ProxyLogin);
                return false;
            }
            view_.SetStatusText(prefix + L"wird heruntergeladen...");
            const tarn::PackageFetch fetched = inputs_.source->FetchPackage(
                url, local, view_.ProgressBar(), signedPackage != nullptr ? &pinned : nullptr);
            if (fetched == tarn::PackageFetch::Mismatch) {
                tarn::Trace(L"Install: %ls differs from the signed manifest; it is not unpacked", url.c_str());
                Refuse();
                return false;
            }
            if (fetched == tarn::PackageFetch::Fetched) {
                retries_ = 0;
                status_.SetDownloaded(url, true);
                status_.Save();
                return Unpack(url, local, prefix);
            }
            if (fetched == tarn::PackageFetch::GivenUp) {
                // The server's copy is damaged: no later package can make
                // this run complete, so it ends here.
                tarn::Trace(L"Install: %ls failed its record in every fetch; the run ends incomplete", url.c_str());
                ended_ = true;
                Note(tarn::InstallReason::DamagedPackage);
                return false;
            }
            if (++retries_ >= kTriesPerPackage) {
                retries_ = 0;
                tarn::Trace(L"Install: %ls skipped after %d tries", url.c_str(), kTriesPerPackage);
                Note(inputs_.source->LastFailure());
                return false;
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

private:
    bool Unpack(const std::wstring& url, const std::wstring& local, const std::wstring& prefix)
    {
        view_.SetStatusText(prefix + L"wird entpackt...");
        CabExtractContext context;
        const std::wstring folder = view_.InstallDataFolder();
        const bool extracted = ExtractCabinetTo(context, local.c_str(), folder.c_str()) != 0;
        if (!extracted && !OnlyRunningSetupLeft(context)) {
            // The extraction traced its cause.
            Note(context.m_Failure == tarn::CabExtractFailure::DiskFull ? tarn::InstallReason::DiskFull
                                                                        : tarn::InstallReason::DamagedPackage);
            return false;
        }
        status_.SetUnpacked(url, true);
        status_.Save();
        return true;
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

    // The first cause stays: it is the one the user can act on first.
    void Note(tarn::InstallReason reason)
    {
        if (reason_ == tarn::InstallReason::None) {
            reason_ = reason;
        }
    }

public:
    tarn::InstallReason Reason() const { return reason_; }

private:
    tarn::InstallReason reason_ = tarn::InstallReason::None;
    tarn::InstallView& view_;
    const tarn::InstallInputs& inputs_;
    tarn::DownloadStatus& status_;
    int retries_ = 0;  // shared by all packages, as the tries in a row
    bool ended_ = false;
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
    return run.Reason();
}

}  // namespace tarn
