#include "packing/download_list.h"

#include <windows.h>

#include "config/text/text_file.h"
#include "packing/release_signing.h"
#include "support/file_queries.h"
#include "support/file_system.h"
#include "support/message_box.h"
#include "support/name_compare.h"
#include "support/program_path.h"
#include "support/trace.h"

namespace {

const wchar_t kUpdaterCabinet[] = L"SetupUpdater_2023.cab";
const wchar_t kCaption[] = L"Tarnwerk AG";
const int64_t kSmallestPackage = 1000;

}  // namespace

namespace tarn {

std::wstring FailureText(const std::vector<std::wstring>& items)
{
    std::wstring text = L"Fehler bei\n";
    for (const std::wstring& item : items) {
        text += L"\"" + item + L"\"\n";
    }
    return text;
}

void ReportPackingFailure(const std::vector<std::wstring>& items)
{
    if (items.empty()) {
        return;
    }
    for (const std::wstring& item : items) {
        Trace(L"Packing failed at %ls", item.c_str());
    }
    ShowMessageBox(nullptr, FailureText(items), kCaption, MB_OK);
}

}  // namespace tarn

int WriteDownloadList(std::vector<std::wstring>& packages, const wchar_t* listPath)
{
    const std::vector<std::wstring> paths = packages;
    std::vector<std::wstring> failed;
    for (size_t i = packages.size(); i-- > 0;) {
        const int64_t size = tarn::GetFileSize64(packages[i].c_str());
        if (size < kSmallestPackage) {
            // Walked from the end: the message names them in list order.
            failed.insert(failed.begin(), packages[i]);
        }
        const size_t slash = packages[i].find_last_of(L'\\');
        if (slash == std::wstring::npos) {
            packages.erase(packages.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            packages[i] = packages[i].substr(slash + 1);
        }
    }
    if (!failed.empty()) {
        tarn::ReportPackingFailure(failed);
        return 0;
    }
    std::erase_if(packages, [](const std::wstring& name) { return name.empty(); });
    bool hasUpdater = false;
    for (const std::wstring& name : packages) {
        hasUpdater = hasUpdater || tarn::EqualsNoCase(name, kUpdaterCabinet);
    }
    if (!hasUpdater) {
        packages.push_back(kUpdaterCabinet);
    }
    const std::wstring list = listPath == nullptr ? std::wstring() : std::wstring(listPath);
    // Signed before anything is written: a release that cannot be signed
    // publishes no list.
    tarn::SignedRelease release;
    if (!list.empty() && !tarn::SignRelease(list, paths, release)) {
        tarn::ReportPackingFailure({tarn::ManifestPathFor(list)});
        return 0;
    }
    if (list.empty() || !WriteArray(list.c_str(), packages)) {
        tarn::Trace(L"WriteDownloadList: cannot write %ls (error %lu)", list.c_str(), ::GetLastError());
        tarn::ReportPackingFailure({list});
        return 0;
    }
    if (!tarn::PublishReleaseManifest(list, release)) {
        ::DeleteFileW(list.c_str());
        tarn::ReportPackingFailure({tarn::ManifestPathFor(list)});
        return 0;
    }
    return 1;
}

int PublishStarterCopy(const wchar_t* targetPath)
{
    const std::wstring starter = tarn::GetProgramFolder() + L"\\Tarn_Gridwell_2023.exe";
    if (targetPath == nullptr || !CopyFileKeepAttributes(starter.c_str(), targetPath)) {
        tarn::Trace(L"PublishStarterCopy: cannot copy %ls to %ls (error %lu)", starter.c_str(),
                    targetPath == nullptr ? L"" : targetPath, ::GetLastError());
        return 0;
    }
    return 1;
}
