#include "packing/release_files.h"

#include <windows.h>

#include "config/text/text_file.h"
#include "packing/release_signing.h"
#include "support/file_queries.h"
#include "support/file_system.h"
#include "support/message_box.h"
#include "support/name_compare.h"
#include "support/program_path.h"
#include "support/text_format.h"
#include "support/trace.h"
#include "transfer/server_layout.h"

namespace {

const wchar_t kCaption[] = L"Tarnwerk AG";
const int64_t kSmallestPackage = 1000;

}  // namespace

namespace tarn {

std::wstring FailureText(const PackingFailures& items)
{
    std::wstring text = L"Fehler bei\n";
    for (const PackingFailure& item : items) {
        text += L"\"" + item.path + L"\"\n";
        if (!item.cause.empty()) {
            text += item.cause + L"\n";
        }
    }
    return text;
}

void ReportPackingFailure(const PackingFailures& items)
{
    if (items.empty()) {
        return;
    }
    for (const PackingFailure& item : items) {
        Trace(L"Packing failed at %ls: %ls", item.path.c_str(), item.cause.c_str());
    }
    ShowMessageBox(nullptr, FailureText(items), kCaption, MB_OK);
}

std::wstring StarterSource()
{
    return GetProgramFolder() + L"\\Tarn_Gridwell_2023.exe";
}

}  // namespace tarn

int WriteDownloadList(std::vector<std::wstring>& packages, const wchar_t* listPath)
{
    tarn::PackingFailures failed;
    const std::vector<std::wstring> paths = packages;
    for (size_t i = packages.size(); i-- > 0;) {
        const int64_t size = tarn::GetFileSize64(packages[i].c_str());
        if (size < kSmallestPackage) {
            // Walked from the end: the message names them from the last.
            failed.push_back({packages[i], size < 0 ? tarn::FormatText(L"missing (error %lu)", ::GetLastError())
                                                    : tarn::FormatText(L"only %lld bytes", static_cast<long long>(size))});
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
        hasUpdater = hasUpdater || tarn::EqualsNoCase(name, tarn::kUpdaterCabinetName);
    }
    if (!hasUpdater) {
        packages.push_back(tarn::kUpdaterCabinetName);
    }
    const std::wstring list = listPath == nullptr ? std::wstring() : std::wstring(listPath);
    // Signed before anything is written: a release that cannot be signed
    // publishes no list.
    tarn::SignedRelease release;
    if (!list.empty() && !tarn::SignRelease(list, paths, release)) {
        tarn::ReportPackingFailure({{tarn::ManifestPathFor(list), L"cannot be signed (see the log)"}});
        return 0;
    }
    if (list.empty() || !WriteArray(list.c_str(), packages)) {
        tarn::ReportPackingFailure({{list, tarn::FormatText(L"cannot be written (error %lu)", ::GetLastError())}});
        return 0;
    }
    if (!tarn::PublishReleaseManifest(list, release)) {
        ::DeleteFileW(list.c_str());
        tarn::ReportPackingFailure({{tarn::ManifestPathFor(list), L"cannot be written (see the log)"}});
        return 0;
    }
    return 1;
}

int PublishStarterCopy(const wchar_t* targetPath)
{
    const std::wstring starter = tarn::StarterSource();
    if (targetPath == nullptr || !CopyFileKeepAttributes(starter.c_str(), targetPath)) {
        tarn::Trace(L"PublishStarterCopy: cannot copy %ls to %ls (error %lu)", starter.c_str(),
                    targetPath == nullptr ? L"" : targetPath, ::GetLastError());
        return 0;
    }
    return 1;
}
