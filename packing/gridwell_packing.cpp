#include <windows.h>

#include <deque>

#include "packing/build_folders.h"
#include "packing/cabinet_groups.h"
#include "packing/release_files.h"
#include "packing/mode_steps.h"
#include "packing/pack_excludes.h"
#include "packing/release_check.h"
#include "packing/release_modes.h"
#include "packing/release_stage.h"
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
    return tarn::FormatText(L"Tarn_Gridwell_2023_(%d).cab", number);
}

std::wstring QxCabinet(int number)
{
    return tarn::FormatText(L"QX(%d).cab", number);
}

const wchar_t kGridwellList[] = L"Tarn_Gridwell_2023_Download_List.txt";

}  // namespace

namespace tarn {

int PackGridwell(bool quick)
{
    const std::wstring source = build::kGridwellSource;
    const std::wstring download = build::kGridwellDownload;
    std::vector<std::wstring> files;
    PackingFailures failed;
    if (!ListSourceFiles(source, files, failed)) {
        return Finish(failed);
    }
    ReleaseStage stage(download, L"PackGridwell");
    if (!stage.Open(failed)) {
        return Finish(failed);
    }
    const CTempTouchFiles touched(files, stage.TouchJournal());  // identical times in every build; restored at the end
    ApplyPackingExcludes(files, download.c_str());
    if (!NamesCarried(files, failed)) {
        return Finish(failed);
    }

    // The QX cabinets travel in packages of their own, numbered from 2 in
    // the list's order. Their file lists must outlive the jobs.
    std::deque<std::vector<std::wstring>> carried;
    std::vector<std::wstring> packages;
    CabinetJobList jobs;
    int number = 2;
    for (size_t i = 0; i < files.size();) {
        if (!IsQxCabinetName(FileNameOf(files[i]))) {
            ++i;
            continue;
        }
        const std::wstring carrier = GridwellPackage(number++);
        if (quick) {
            packages.push_back(stage.Live(carrier));  // made by an earlier run
        } else {
            carried.push_back({files[i]});
            packages.push_back(stage.Staged(carrier));
            if (!StartCabinetJob(jobs, source.c_str(), packages.back().c_str(), &carried.back())) {
                failed.push_back({stage.Live(carrier), L"no thread could be started to make it"});
            }
        }
        files.erase(files.begin() + static_cast<std::ptrdiff_t>(i));
    }
    const std::wstring mainPackage = GridwellPackage(1);
    packages.insert(packages.begin(), stage.Staged(mainPackage));
    if (!StartCabinetJob(jobs, source.c_str(), packages.front().c_str(), &files)) {
        failed.push_back({stage.Live(mainPackage), L"no thread could be started to make it"});
    }
    std::vector<std::wstring> notMade;
    std::vector<std::wstring> causes;
    WaitForCabinetJobs(jobs, &notMade, &causes);
    for (size_t i = 0; i < notMade.size(); ++i) {
        failed.push_back({stage.Live(FileNameOf(notMade[i])), causes[i]});
    }
    if (!failed.empty()) {
        return Finish(failed);
    }
    if (!WriteDownloadList(packages, stage.Staged(kGridwellList).c_str())) {
        return 0;
    }
    // One program serves all four names: it knows its product by its name.
    const ReleaseKind& kind = ReleaseKinds().front();
    for (const wchar_t* name : kind.starters) {
        StageStarterCopy(stage.Staged(name), stage.Live(name), failed);
    }
    if (failed.empty()) {
        stage.CheckAndPublish({kGridwellList}, RetiredEntries(download, kGridwellList, packages), failed);
    }
    return Finish(failed);
}

int PackQxPackage()
{
    const std::wstring source = build::kQxSource;
    int isFolder = 0;
    if (!FileExists(source.c_str(), &isFolder) || !isFolder) {
        return Finish({{source, FormatText(L"the source folder is missing (error %lu)", ::GetLastError())}});
    }
    const std::wstring setup = source + L"\\QXSetup.exe";
    if (!CopyFileKeepAttributes(build::kQxSetupBuild, setup.c_str())) {
        return Finish({{build::kQxSetupBuild, FormatText(L"cannot copy it to %ls (error %lu)", setup.c_str(),
                                                          ::GetLastError())}});
    }
    std::vector<std::wstring> files;
    CabinetGroups groups;
    std::vector<std::wstring> problems;
    PackingFailures failed;
    if (!ListSourceFiles(source, files, failed)) {
        return Finish(failed);
    }
    if (!SplitQxPackage(files, groups, &problems) || groups.empty()) {
        failed.push_back({source, L"the source folder holds files that cannot be packed"});
        for (const std::wstring& problem : problems) {
            failed.push_back({problem, L"missing, or too large for a cabinet"});
        }
        return Finish(failed);
    }
    // The staging folder lies beside the Gridwell tree, never inside it.
    ReleaseStage stage(build::kQxTarget, L"PackOEM", std::wstring(build::kGridwellSource) + L".PackOEM.staging");
    if (!NamesCarried(files, failed) || !stage.Open(failed)) {
        return Finish(failed);
    }
    for (size_t i = groups.size(); i-- > 0;) {
        const std::wstring cabinet = QxCabinet(static_cast<int>(i) + 1);
        std::wstring cause;
        if (!MakeCabinetExplained(source.c_str(), stage.Staged(cabinet).c_str(), &groups[i], cause)) {
            failed.push_back({stage.Live(cabinet), cause});
        }
    }
    // Cabinets of an earlier, larger split would be carried along: they go
    // when the new set is published.
    std::vector<std::wstring> stale;
    for (int k = static_cast<int>(groups.size()) + 1; k <= kMaxQxCabinets; ++k) {
        if (FileExists(stage.Live(QxCabinet(k)).c_str())) {
            stale.push_back(QxCabinet(k));
        }
    }
    if (failed.empty()) {
        stage.CheckAndPublish({}, stale, failed);
    }
    return Finish(failed);
}

int PackAll()
{
    return PackQxPackage() && PackGridwell(false) ? 1 : 0;
}

}  // namespace tarn
