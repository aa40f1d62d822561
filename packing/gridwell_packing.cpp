#include <deque>

#include "packing/build_folders.h"
#include "packing/cabinet_groups.h"
#include "packing/release_files.h"
#include "packing/mode_steps.h"
#include "packing/pack_excludes.h"
#include "packing/release_modes.h"
#include "support/file_system.h"
#include "support/name_compare.h"
#include "support/text_format.h"
#include "transfer/cab_create.h"
#include "transfer/cab_jobs.h"
#include "transfer/download_url.h"

namespace {

const int kMaxQxCabinets = 49;

// True for "QX(k).cab" with k from 1 to 49, in any letter case.
bool IsQxCabinetName(const std::wstring& name)
{
    for (int k = 1; k <= kMaxQxCabinets; ++k) {
        if (tarn::EqualsNoCase(name, tarn::FormatText(L"QX(%d).cab", k))) {
            return true;
        }
    }
    return false;
}

std::wstring GridwellPackage(int number)
{
    return tarn::FormatText(L"%ls\\Tarn_Gridwell_2023_(%d).cab", tarn::build::kGridwellDownload, number);
}

std::wstring QxCabinet(int number)
{
    return tarn::FormatText(L"%ls\\QX(%d).cab", tarn::build::kQxTarget, number);
}

}  // namespace

namespace tarn {

int PackGridwell(bool quick)
{
    const std::wstring source = build::kGridwellSource;
    const std::wstring download = build::kGridwellDownload;
    std::vector<std::wstring> files;
    if (!ListSourceFiles(source, files)) {
        ReportPackingFailure({source});
        return 0;
    }
    if (!CreateFolderPath(download.c_str())) {
        ReportPackingFailure({download});
        return 0;
    }
    const CTempTouchFiles touched(files);  // identical times in every build; restored at the end
    ApplyPackingExcludes(files, download.c_str());

    // The QX cabinets travel in packages of their own, numbered from 2 in
    // the list's order. Their file lists must outlive the jobs.
    std::deque<std::vector<std::wstring>> carried;
    std::vector<std::wstring> packages;
    std::vector<std::wstring> failed;
    CabinetJobList jobs;
    int number = 2;
    for (size_t i = 0; i < files.size();) {
        if (!IsQxCabinetName(FileNameOf(files[i]))) {
            ++i;
            continue;
        }
        const std::wstring carrier = GridwellPackage(number++);
        if (!quick) {
            carried.push_back({files[i]});
            if (!StartCabinetJob(jobs, source.c_str(), carrier.c_str(), &carried.back())) {
                failed.push_back(carrier);
            }
        }
        packages.push_back(carrier);
        files.erase(files.begin() + static_cast<std::ptrdiff_t>(i));
    }
    const std::wstring mainPackage = GridwellPackage(1);
    packages.insert(packages.begin(), mainPackage);
    if (!StartCabinetJob(jobs, source.c_str(), mainPackage.c_str(), &files)) {
        failed.push_back(mainPackage);
    }
    WaitForCabinetJobs(jobs, &failed);
    if (!failed.empty()) {
        ReportPackingFailure(failed);
        return 0;
    }
    const std::wstring list = download + L"\\Tarn_Gridwell_2023_Download_List.txt";
    if (!WriteDownloadList(packages, list.c_str())) {
        return 0;
    }
    // One program serves all four names: it knows its product by its name.
    for (const wchar_t* name : {L"\\Tarn_Gridwell_2023.exe", L"\\Tarn_Gridwell_2023_Test.exe",
                                L"\\Tarn_Gridwell_2023_App.exe", L"\\Tarn_Gridwell_2023_App_Test.exe"}) {
        const std::wstring starter = download + name;
        if (!PublishStarterCopy(starter.c_str())) {
            failed.push_back(starter);
        }
    }
    ReportPackingFailure(failed);
    return failed.empty() ? 1 : 0;
}

int PackQxPackage()
{
    const std::wstring source = build::kQxSource;
    int isFolder = 0;
    if (!FileExists(source.c_str(), &isFolder) || !isFolder) {
        ReportPackingFailure({source});
        return 0;
    }
    const std::wstring setup = source + L"\\QXSetup.exe";
    if (!CopyFileKeepAttributes(build::kQxSetupBuild, setup.c_str())) {
        ReportPackingFailure({build::kQxSetupBuild});
        return 0;
    }
    std::vector<std::wstring> files;
    CabinetGroups groups;
    std::vector<std::wstring> failed;
    if (!ListSourceFiles(source, files) || !SplitQxPackage(files, groups, &failed) || groups.empty()) {
        failed.insert(failed.begin(), source);
        ReportPackingFailure(failed);
        return 0;
    }
    for (size_t i = groups.size(); i-- > 0;) {
        const std::wstring cabinet = QxCabinet(static_cast<int>(i) + 1);
        if (!MakeCabinet(source.c_str(), cabinet.c_str(), &groups[i])) {
            failed.push_back(cabinet);
        }
    }
    if (!failed.empty()) {
        ReportPackingFailure(failed);
        return 0;
    }
    // Cabinets of an earlier, larger split would be carried along: they go
    // once the new set is complete.
    for (int k = static_cast<int>(groups.size()) + 1; k <= kMaxQxCabinets; ++k) {
        const std::wstring stale = QxCabinet(k);
        ::DeleteFileW(stale.c_str());
        ::DeleteFileW(FileInfoNameFor(stale).c_str());
    }
    return 1;
}

int PackAll()
{
    return PackQxPackage() && PackGridwell(false) ? 1 : 0;
}

}  // namespace tarn
