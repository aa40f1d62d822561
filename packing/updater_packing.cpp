#include <windows.h>

#include "packing/build_folders.h"
#include "packing/download_list.h"
#include "packing/mode_steps.h"
#include "packing/pack_excludes.h"
#include "packing/release_modes.h"
#include "support/file_system.h"
#include "support/message_box.h"
#include "support/name_compare.h"
#include "support/trace.h"
#include "transfer/cab_create.h"
#include "transfer/download_url.h"
#include "transfer/server_layout.h"

namespace {

void ReportCreationProblem(const std::wstring& path)
{
    tarn::Trace(L"PackCorvinUpdate: problem with %ls (error %lu)", path.c_str(), ::GetLastError());
    tarn::ShowMessageBox(nullptr, L"Problem beim Erstellen von \"" + path + L"\"", L"Tarnwerk AG", MB_OK);
}

}  // namespace

namespace tarn {

int MakeNullUpdate()
{
    ShowMessageBox(nullptr, L"MakeNullUpdate", L"MakeNullUpdate", MB_OK);

    const std::wstring source = build::kGridwellSource;
    int isFolder = 0;
    if (!FileExists(source.c_str(), &isFolder) || !isFolder) {
        ReportPackingFailure({source});
        return 0;
    }
    std::vector<std::wstring> files{source + L"\\!__Update_Version__!.txt"};
    for (const wchar_t* part : {L"\\Data", L"\\Data_X64"}) {
        std::vector<std::wstring> below;
        ListFiles((source + part).c_str(), below);
        files.insert(files.end(), below.begin(), below.end());
    }
    std::erase_if(files, [](const std::wstring& path) {
        const std::wstring name = FileNameOf(path);
        return EqualsNoCase(name, L"vcredist_x64.exe") || EqualsNoCase(name, L"vcredist_x86.exe");
    });

    const std::wstring cabinet = build::kNullUpdaterCabinet;
    const std::wstring marker = StampVersionMarker(source);
    const int made = !marker.empty() && CreateFolderOfFile(cabinet.c_str()) &&
                     MakeCabinet(source.c_str(), cabinet.c_str(), &files);
    // The marker belongs to the cabinet only, never to the source tree.
    if (!marker.empty() && !::DeleteFileW(marker.c_str())) {
        Trace(L"MakeNullUpdate: cannot delete the version marker %ls (error %lu)", marker.c_str(), ::GetLastError());
    }
    if (!made) {
        ReportPackingFailure({marker.empty() ? source + L"\\!__Update_Version__!.txt" : cabinet});
        return 0;
    }
    std::vector<std::wstring> failed;
    for (const wchar_t* folder : build::kUpdaterDownloadFolders) {
        CopyWithRecord(cabinet, folder, failed);
    }
    ReportPackingFailure(failed);
    return failed.empty() ? 1 : 0;
}

int PackCorvinUpdate()
{
    SwitchPackingConfigDrive(L'M');
    const std::wstring source = build::kCorvinUpdateSource;
    std::vector<std::wstring> files;
    if (!ListSourceFiles(source, files) || StampVersionMarker(source).empty()) {
        ReportPackingFailure({source});
        return 0;
    }
    ListFiles(source.c_str(), files);  // the marker may be new
    TouchFiles(files);

    const std::wstring resources = build::kCorvinUpdateResources;
    const std::wstring info = source + L"\\UpdateInfo.txt";
    const std::wstring infoTarget = resources + L"\\UpdateInfo.txt";
    if (FileExists(info.c_str()) && !CopyFileKeepAttributes(info.c_str(), infoTarget.c_str())) {
        ReportCreationProblem(infoTarget);
        return 0;
    }
    const std::wstring batch = source + L"\\MakeIt.bat";
    std::erase_if(files, [&](const std::wstring& path) { return EqualsNoCase(path, batch) || EqualsNoCase(path, info); });

    // Made aside first, so that a failed run leaves the old cabinet.
    const std::wstring target = resources + L"\\" + kUpdaterCabinetName;
    const std::wstring temporary = GetUniqueTempFile(L".cab", 0);
    const int made = !temporary.empty() && MakeCabinet(source.c_str(), temporary.c_str(), &files);
    const int copied = made && CopyFileKeepAttributes(temporary.c_str(), target.c_str());
    if (!temporary.empty()) {
        ::DeleteFileW(temporary.c_str());
        ::DeleteFileW(FileInfoNameFor(temporary).c_str());
    }
    if (!copied) {
        ReportCreationProblem(target);
        return 0;
    }
    return 1;
}

}  // namespace tarn
