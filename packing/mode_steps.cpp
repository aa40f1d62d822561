#include "packing/mode_steps.h"

#include <windows.h>

#include "config/store/cfg_reader.h"
#include "packing/release_signing.h"
#include "support/file_system.h"
#include "support/text_format.h"
#include "support/trace.h"
#include "transfer/cab_create.h"
#include "transfer/download_url.h"

namespace tarn {

void NameCaseTwins(const std::vector<std::wstring>& twins, PackingFailures& failed)
{
    for (size_t i = 0; i + 1 < twins.size(); i += 2) {
        failed.push_back({twins[i + 1], L"its name differs only in letter case from " + twins[i] +
                                            L": a cabinet unpacked on Windows would keep one of them"});
    }
}

bool ListSourceFiles(const std::wstring& folder, std::vector<std::wstring>& files, PackingFailures& failed)
{
    files.clear();
    int isFolder = 0;
    std::vector<std::wstring> twins;
    if (!FileExists(folder.c_str(), &isFolder) || !isFolder || !ListFilesNamingTwins(folder.c_str(), files, twins)) {
        Trace(L"Packing: the source folder %ls is missing or holds no file (error %lu)", folder.c_str(),
              ::GetLastError());
        failed.push_back({folder, L"the source folder is missing or holds no file"});
        files.clear();
        return false;
    }
    NameCaseTwins(twins, failed);
    return twins.empty();
}

std::wstring StampVersionMarker(const std::wstring& folder)
{
    const std::wstring marker = folder + L"\\!__Update_Version__!.txt";
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    const std::wstring stamp = FormatText(L"%04u.%02u.%02u_%02u:%02u:%02u", now.wYear, now.wMonth, now.wDay,
                                          now.wHour, now.wMinute, now.wSecond);
    CCfgReader config(marker);
    if (!config.SetValue(L"Settings", L"UpdateCreateTime", stamp) || !config.Save()) {
        Trace(L"Packing: cannot stamp the version marker %ls (error %lu)", marker.c_str(), ::GetLastError());
        return std::wstring();
    }
    return marker;
}

void CopyWithRecord(const std::wstring& file, const std::wstring& folder, PackingFailures& failed)
{
    const std::wstring manifest = ManifestPathFor(file);
    for (const std::wstring& source : {file, FileInfoNameFor(file), manifest}) {
        const std::wstring target = folder + L"\\" + FileNameOf(source);
        if (source == manifest && !FileExists(source.c_str())) {
            ::DeleteFileW(target.c_str());  // an unsigned file takes no old signature along
            continue;
        }
        if (!CopyFileKeepAttributes(source.c_str(), target.c_str())) {
            failed.push_back({target, FormatText(L"cannot copy %ls there (error %lu)", source.c_str(), ::GetLastError())});
        }
    }
}

bool NamesCarried(const std::vector<std::wstring>& files, PackingFailures& failed)
{
    const size_t before = failed.size();
    for (const std::wstring& file : files) {
        if (!FindNameOutsideCodePage({file}).empty()) {
            failed.push_back({file, L"its name cannot be written in the directive file's ANSI code page"});
        }
    }
    return failed.size() == before;
}

int Finish(const PackingFailures& failed)
{
    ReportPackingFailure(failed);
    return failed.empty() ? 1 : 0;
}

void StageStarterCopy(const std::wstring& target, const std::wstring& published, PackingFailures& failed)
{
    if (!PublishStarterCopy(target.c_str())) {
        failed.push_back({published, FormatText(L"cannot copy %ls there (error %lu)", StarterSource().c_str(),
                                                ::GetLastError())});
    }
}

}  // namespace tarn
