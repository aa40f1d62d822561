#include <windows.h>

#include <algorithm>

#include "config/store/cfg_reader.h"
#include "config/text/text_file.h"
#include "packing/build_folders.h"
#include "packing/release_files.h"
#include "packing/mode_steps.h"
#include "packing/release_modes.h"
#include "support/file_system.h"
#include "support/name_compare.h"
#include "support/text_format.h"
#include "support/trace.h"
#include "transfer/cab_extract.h"
#include "transfer/download_url.h"
#include "transfer/process_launch.h"
#include "transfer/server_layout.h"

namespace {

// One product of the image: where its packages lie and how they are named.
struct ImageProduct {
    const wchar_t* download;       // the product's download folder
    const wchar_t* list;           // its download list there
    const wchar_t* fixedPattern;   // package names without a list
    int fixedCount;
    const wchar_t* updatePattern;  // "<prefix>_Update_" of its update programs
};

// The packages to unpack: those the product's download list names, or
// without a list the fixed numbers that exist. A listed package that is
// missing is a failure, never a gap in the image.
std::vector<std::wstring> PackagesOf(const ImageProduct& product, tarn::PackingFailures& failed)
{
    const std::wstring folder = product.download;
    std::vector<std::wstring> packages;
    std::vector<std::wstring> lines;
    const std::wstring list = folder + L"\\" + product.list;
    if (FileExists(list.c_str()) && ReadArray(list.c_str(), lines)) {
        for (const std::wstring& line : lines) {
            if (!line.empty()) {
                packages.push_back(folder + L"\\" + line);
            }
        }
        if (packages.empty()) {
            failed.push_back({list, L"the download list names no package"});
        }
        // The updater is unpacked last, whatever its place in the list: its
        // files are newer than the packages' ones.
        std::stable_partition(packages.begin(), packages.end(), [](const std::wstring& path) {
            return !tarn::EqualsNoCase(tarn::FileNameOf(path), tarn::kUpdaterCabinetName);
        });
        return packages;
    }
    for (int n = 1; n <= product.fixedCount; ++n) {
        const std::wstring package = folder + L"\\" + tarn::FormatText(product.fixedPattern, n);
        if (FileExists(package.c_str())) {
            packages.push_back(package);
        }
    }
    packages.push_back(folder + L"\\" + tarn::kUpdaterCabinetName);
    return packages;
}

void Unpack(const std::vector<std::wstring>& packages, const std::wstring& target, tarn::PackingFailures& failed)
{
    for (const std::wstring& package : packages) {
        std::vector<std::wstring> unpacked;
        if (!ExtractCabinetToList(package.c_str(), target.c_str(), unpacked)) {
            failed.push_back({package, FileExists(package.c_str()) ? L"cannot be unpacked into " + target
                                                                   : std::wstring(L"listed but missing")});
        }
    }
}

// A copy the image can do without: a failure leaves a trace line and the
// mode goes on. Copies the image needs report their failure instead.
void CopyOptional(const std::wstring& source, const std::wstring& target)
{
    if (!CopyFileKeepAttributes(source.c_str(), target.c_str())) {
        tarn::Trace(L"CreateDataPack: %ls is not copied to %ls (error %lu)", source.c_str(), target.c_str(),
                    ::GetLastError());
    }
}

// Copies the newest update program "<pattern>NN.exe" (the last of an
// unbroken run from 00) with its record and description into `target`.
void CopyLatestUpdateProgram(const std::wstring& folder, const wchar_t* pattern, const std::wstring& target)
{
    std::wstring latest;
    for (int n = 0; n < 100; ++n) {
        const std::wstring candidate = folder + tarn::FormatText(L"\\%ls%02d", pattern, n);
        if (!FileExists((candidate + L".exe").c_str())) {
            break;
        }
        latest = candidate;
    }
    if (latest.empty()) {
        return;
    }
    // The starter, its file-info record and its text, when there is one.
    for (const std::wstring& source : {latest + L".exe", tarn::FileInfoNameForStem(latest), latest + L".txt"}) {
        if (!FileExists(source.c_str()) && !tarn::EndsWithNoCase(source, L".exe")) {
            continue;
        }
        CopyOptional(source, target + L"\\" + tarn::FileNameOf(source));
    }
}

// The installer settings of an image: it installs without questions.
void WriteSetupSettings(const std::wstring& target, tarn::PackingFailures& failed)
{
    const std::wstring path = target + L"\\Setup.cfg";
    CCfgReader settings(path);
    settings.SetValue(L"Settings", L"Country", L"Schweiz");
    settings.SetValue(L"Settings", L"LicenceAccepted", L"True");
    settings.SetValue(L"Settings", L"AutoInstall", L"True");
    if (!settings.Save()) {
        failed.push_back({path, tarn::FormatText(L"cannot be written (error %lu)", ::GetLastError())});
    }
}

// The product's packages unpacked into `target`, with its updater, its
// latest update program and its settings. Appends what failed.
void BuildProductImage(const ImageProduct& product, const std::wstring& target, tarn::PackingFailures& failed)
{
    if (!CreateFolderPath(target.c_str())) {
        failed.push_back({target, tarn::FormatText(L"cannot be created (error %lu)", ::GetLastError())});
        return;
    }
    const std::wstring folder = product.download;
    Unpack(PackagesOf(product, failed), target, failed);
    tarn::CopyWithRecord(folder + L"\\" + tarn::kUpdaterCabinetName, target, failed);
    const std::wstring update = target + L"\\Update_x64.exe";
    if (!RunAndWait(update.c_str(), L"x64")) {
        tarn::Trace(L"CreateDataPack: cannot run %ls", update.c_str());
    }
}

}  // namespace

namespace tarn {

int CreateMemoryStickData()
{
    PackingFailures failed;
    for (const wchar_t* name : {L"Gridwell", L"Lumara"}) {
        const std::wstring folder = std::wstring(build::kMemoryStickFolder) + name;
        if (!CreateFolderPath(folder.c_str())) {
            failed.push_back({folder, FormatText(L"cannot be created (error %lu)", ::GetLastError())});
        }
    }
    return Finish(failed);
}

int CreateDataPack()
{
    const std::wstring image = GetTempFolder() + L"\\Tarn_InstallData_x";
    const std::wstring data = image + L"\\Tarn_InstallData";
    PackingFailures failed;
    if (!CreateFolderPath(image.c_str()) || !EmptyFolder(image.c_str())) {
        return Finish({{image, FormatText(L"cannot be made empty (error %lu)", ::GetLastError())}});
    }

    const ImageProduct gridwell{build::kImageGridwellDownload, L"Tarn_Gridwell_2023_Download_List.txt",
                                L"Tarn_Gridwell_2023_(%d).cab", 11, L"Tarn_Gridwell_2023_Update_"};
    const std::wstring gridwellTarget = data + L"\\Tarn Gridwell 2023";
    BuildProductImage(gridwell, gridwellTarget, failed);
    const std::wstring extra = std::wstring(gridwell.download) + L"\\RODOvoVuviri.cab";
    for (const std::wstring& source : {extra, FileInfoNameFor(extra)}) {
        CopyOptional(source, gridwellTarget + L"\\" + FileNameOf(source));
    }
    CopyLatestUpdateProgram(gridwell.download, gridwell.updatePattern, gridwellTarget);
    WriteSetupSettings(gridwellTarget, failed);

    const ImageProduct corvin{build::kImageCorvinDownload, L"Tarn_Corvin_2023_App_Download_List.txt",
                              L"Tarn_Corvin_2023_%d.cab", 2, L"Tarn_Corvin_2023_Update_"};
    const std::wstring corvinTarget = data + L"\\Tarn Corvin 2023";
    const std::wstring addOns = corvinTarget + L"\\Tarn Corvin\\Tarn Corvin 2023\\Adds";
    if (!CreateFolderPath(addOns.c_str())) {
        failed.push_back({addOns, FormatText(L"cannot be created (error %lu)", ::GetLastError())});
    }
    BuildProductImage(corvin, corvinTarget, failed);
    CopyLatestUpdateProgram(corvin.download, corvin.updatePattern, corvinTarget);
    for (const wchar_t* installer : build::kPartnerInstallers) {
        const std::wstring name = FileNameOf(installer);
        if (!FileExists((addOns + L"\\" + name).c_str())) {
            continue;
        }
        std::wstring description = installer;
        description = description.substr(0, description.find_last_of(L'.')) + L".txt";
        CopyOptional(installer, addOns + L"\\" + name);
        CopyOptional(description, addOns + L"\\" + FileNameOf(description));
    }
    CopyOptional(corvinTarget + L"\\Data_X64\\DoAutodeskSetup.exe", addOns + L"\\InstallAddings.exe");
    WriteSetupSettings(corvinTarget, failed);
    if (!failed.empty()) {
        return Finish(failed);
    }

    // An earlier zip goes first: a zip that the tool fails to make must not
    // be published in its place.
    const std::wstring zip = image + L".zip";
    ::SetFileAttributesW(zip.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(zip.c_str());
    const std::wstring arguments = L"\"" + image + L"\" \"" + zip + L"\"";
    if (FileExists(zip.c_str()) || !RunAndWait(build::kZipFolderProgram, arguments.c_str()) ||
        !FileExists(zip.c_str())) {
        return Finish({{zip, std::wstring(L"not made by ") + build::kZipFolderProgram}});
    }
    std::wstring variableForm;
    std::wstring publish;
    CCfgReader::GetPathWithoutVars(variableForm, publish, build::kImagePublishFolder);
    // An unknown variable vanishes; the zip must not land in a drive's root.
    if (publish.empty() || publish[0] == L'\\' || publish.find(L'%') != std::wstring::npos) {
        return Finish({{build::kImagePublishFolder, L"names an unknown path variable"}});
    }
    // Copied beside the published zip, then moved over it: a failed copy
    // never leaves a part of a zip in its place.
    const std::wstring published = publish + L"\\Tarn_InstallData.zip";
    const std::wstring incoming = published + L".new";
    if (!CopyFileKeepAttributes(zip.c_str(), incoming.c_str()) ||
        !::MoveFileExW(incoming.c_str(), published.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = ::GetLastError();
        ::DeleteFileW(incoming.c_str());
        return Finish({{published, FormatText(L"cannot be published (error %lu)", error)}});
    }
    return 1;
}

}  // namespace tarn
