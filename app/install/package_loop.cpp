#include "app/install/package_loop.h"

#include "app/install/package_source.h"
#include "transfer/release_manifest.h"
#include "support/text_format.h"
#include "support/trace.h"
#include "transfer/cab_extract.h"

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
            view_.SetStatusText(prefix + L"wird heruntergeladen...");
            const tarn::FetchOutcome outcome =
                signedPackage != nullptr ? inputs_.source->FetchPinned(url, local, view_.ProgressBar(), pinned)
                : inputs_.source->Fetch(url, local, view_.ProgressBar()) ? tarn::FetchOutcome::Stored
                                                                          : tarn::FetchOutcome::Failed;
            if (outcome == tarn::FetchOutcome::Mismatch) {
                tarn::Trace(L"Install: %ls differs from the signed manifest; it is not unpacked", url.c_str());
                mismatch_ = true;
                return false;
            }
            if (outcome == tarn::FetchOutcome::Stored) {
                retries_ = 0;
                status_.SetDownloaded(url, true);
                status_.Save();
                return Unpack(url, local, prefix);
            }
            if (++retries_ >= kTriesPerPackage) {
                retries_ = 0;
                tarn::Trace(L"Install: %ls skipped after %d tries", url.c_str(), kTriesPerPackage);
                return false;
            }
        }
    }

    // A package differed from the signed manifest: the run ends.
    bool Mismatch() const { return mismatch_; }
    void SetMismatch() { mismatch_ = true; }

private:
    bool Unpack(const std::wstring& url, const std::wstring& local, const std::wstring& prefix)
    {
        view_.SetStatusText(prefix + L"wird entpackt...");
        CabExtractContext context;
        const std::wstring folder = view_.InstallDataFolder();
        if (!ExtractCabinetTo(context, local.c_str(), folder.c_str())) {
            tarn::Trace(L"Install: %ls not completely unpacked into %ls (error %lu)", local.c_str(),
                        folder.c_str(), ::GetLastError());
            return false;
        }
        status_.SetUnpacked(url, true);
        status_.Save();
        return true;
    }

    tarn::InstallView& view_;
    const tarn::InstallInputs& inputs_;
    tarn::DownloadStatus& status_;
    int retries_ = 0;  // shared by all packages, as the tries in a row
    bool mismatch_ = false;
};

}  // namespace

namespace tarn {

std::wstring PackageStatusPrefix(size_t number, size_t count)
{
    return FormatText(L"Das %d. Datenpaket von %d ", static_cast<int>(number), static_cast<int>(count));
}

bool RunPackageLoop(InstallView& view, const InstallInputs& inputs, DownloadStatus& status,
                    const InstallPlan& plan, const ReleaseManifest* manifest, std::wstring* refused)
{
    const size_t count = plan.packages.size();
    PackageRun run(view, inputs, status);
    bool complete = true;
    for (size_t i = 0; i < count; ++i) {
        const PlannedPackage& package = plan.packages[i];
        const ManifestPackage* signedPackage =
            manifest != nullptr ? FindManifestPackage(*manifest, package.name) : nullptr;
        if (manifest != nullptr && signedPackage == nullptr) {
            run.SetMismatch();  // CheckRelease refuses such a list before the loop
        } else if (!run.Handle(package, PackageStatusPrefix(i + 1, count), signedPackage)) {
            complete = false;
        }
        if (run.Mismatch()) {
            if (refused != nullptr) {
                *refused = package.name;
            }
            return false;
        }
    }
    return complete;
}

}  // namespace tarn
