#include "app/install/install_plan.h"

namespace {

// The Gridwell products leave all but the first package to the host.
bool HandlesFirstPackageOnly(int profile, bool hostPresent)
{
    return (profile == 0 || profile == 1) && hostPresent;
}

}  // namespace

namespace tarn {

std::vector<std::wstring> InstallPlan::PackageUrls() const
{
    std::vector<std::wstring> urls;
    for (const PlannedPackage& package : packages) {
        urls.push_back(package.url);
    }
    return urls;
}

InstallPlan MakeInstallPlan(const DownloadListEntries& entries, const ProductProfile& profile, bool hostPresent,
                            const std::wstring& tempFolder)
{
    InstallPlan plan;
    for (const std::wstring& name : entries.statusEntries) {
        plan.listedUrls.push_back(DownloadsUrl(profile.baseUrl, name));
    }
    const size_t count = HandlesFirstPackageOnly(profile.number, hostPresent)
                             ? std::min<size_t>(1, entries.packages.size())
                             : entries.packages.size();
    for (size_t i = 0; i < count; ++i) {
        const std::wstring& name = entries.packages[i];
        plan.packages.push_back({name, DownloadsUrl(profile.baseUrl, name), tempFolder + L"\\" + name});
    }
    return plan;
}

}  // namespace tarn
