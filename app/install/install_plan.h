#pragma once
// The install plan: what one run of the installer does with each entry of
// the download list, worked out once from the list, the product profile and
// the host check. The status file, the unpacking record and the package loop
// all read it; nothing later decides again which packages exist.

#include <string>
#include <vector>

#include "app/install/download_list.h"
#include "app/profile/product_profile.h"

namespace tarn {

struct PlannedPackage {
    std::wstring name;       // as listed
    std::wstring url;        // below the base URL's "Downloads" folder
    std::wstring localPath;  // the copy in the temporary folder
};

struct InstallPlan {
    // Every listed file's URL, in list order: each has a status entry.
    std::vector<std::wstring> listedUrls;
    // The packages this run downloads and unpacks, in list order.
    std::vector<PlannedPackage> packages;

    std::vector<std::wstring> PackageUrls() const;
};

// The plan for a download list's entries. Only the first package is handled
// for the Gridwell products when the host is present (the host brings the
// rest); `tempFolder` has no trailing backslash.
InstallPlan MakeInstallPlan(const DownloadListEntries& entries, const ProductProfile& profile, bool hostPresent,
                            const std::wstring& tempFolder);

}  // namespace tarn
