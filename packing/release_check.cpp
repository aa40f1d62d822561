#include "packing/release_check.h"

#include <windows.h>

#include "config/text/file_compare.h"
#include "config/text/text_file.h"
#include "support/file_system.h"
#include "support/name_compare.h"
#include "support/safe_names.h"
#include "support/small_file.h"
#include "support/text_format.h"
#include "transfer/cab_extract.h"
#include "transfer/cab_inspect.h"
#include "transfer/cab_names.h"
#include "transfer/download_url.h"
#include "transfer/file_info.h"
#include "transfer/release_manifest.h"
#include "transfer/server_layout.h"

namespace {

constexpr size_t kManifestLimit = 1 << 20;

// Hexadecimal digits (ASCII) as wide text.
std::wstring HexText(const std::string& hex)
{
    return std::wstring(hex.begin(), hex.end());
}

bool Exists(const std::wstring& path)
{
    int isFolder = 0;
    return FileExists(path.c_str(), &isFolder) && !isFolder;
}

// A list entry must be a plain file name in the list's folder.
bool IsPlainName(const std::wstring& name)
{
    return name.find_first_of(L"\\/:") == std::wstring::npos && tarn::IsContainedName(name);
}

// The starters of one list are present and identical with each other.
void CheckStarters(const tarn::ReleaseView& view, const tarn::ReleaseKind& kind, tarn::PackingFailures& failed)
{
    std::wstring first;
    for (const wchar_t* name : kind.starters) {
        const std::wstring starter = view.Find(name);
        if (starter.empty()) {
            failed.push_back({view.live + L"\\" + name, L"the starter copy is missing"});
            continue;
        }
        int64_t order = -1;
        if (first.empty()) {
            first = starter;
        } else if (!CompareFiles(first.c_str(), starter.c_str(), order)) {
            failed.push_back({starter, L"the starter copy differs from " + first});
        }
    }
}

// Reads and verifies the manifest of `list`; false (with a failure) when
// it is missing, unreadable, malformed, not signed by a key or for another list.
bool ReadListManifest(const tarn::ReleaseView& view, const wchar_t* list, const std::vector<std::string>& keys,
                      tarn::ReleaseManifest& manifest, tarn::PackingFailures& failed)
{
    const std::wstring name = std::wstring(list) + L".sig";
    const std::wstring path = view.Find(name);
    std::string text;
    if (path.empty()) {
        failed.push_back({view.live + L"\\" + name, L"the signed manifest is missing"});
        return false;
    }
    if (!tarn::ReadSmallFile(path, kManifestLimit, text)) {
        failed.push_back({path, tarn::FormatText(L"the signed manifest cannot be read (error %lu)", ::GetLastError())});
        return false;
    }
    switch (tarn::ReadSignedManifest(text, keys, manifest)) {
    case tarn::ManifestCheck::Malformed:
        failed.push_back({path, L"the signed manifest is malformed"});
        return false;
    case tarn::ManifestCheck::BadSignature:
        failed.push_back({path, L"the signature verifies under no key of this program"});
        return false;
    default:
        break;
    }
    if (!tarn::EqualsNoCase(manifest.product, list)) {
        failed.push_back({path, L"the manifest is signed for " + manifest.product + L", not for " + list});
        return false;
    }
    return true;
}

// The package present at `file` has the size and SHA-256 the manifest signed.
void CheckSignedPackage(const std::wstring& file, const tarn::ManifestPackage& pinned, tarn::PackingFailures& failed)
{
    const tarn::CabinetFacts facts = tarn::InspectCabinet(file);
    if (facts.size < 0) {
        return;  // CheckRelease names why it cannot be read
    }
    if (facts.size != pinned.size) {
        failed.push_back({file, tarn::FormatText(L"the signed manifest states %lld bytes, the file has %lld",
                                                 static_cast<long long>(pinned.size),
                                                 static_cast<long long>(facts.size))});
    } else if (facts.sha256 != pinned.sha256) {
        failed.push_back({file, tarn::FormatText(L"the signed manifest states SHA-256 %ls, the file has %ls",
                                                 HexText(pinned.sha256).c_str(), HexText(facts.sha256).c_str())});
    }
}

}  // namespace

namespace tarn {

const std::vector<ReleaseKind>& ReleaseKinds()
{
    static const std::vector<ReleaseKind> kinds = {
        {L"Tarn_Gridwell_2023_Download_List.txt",
         {L"Tarn_Gridwell_2023.exe", L"Tarn_Gridwell_2023_Test.exe", L"Tarn_Gridwell_2023_App.exe",
          L"Tarn_Gridwell_2023_App_Test.exe"}},
        {L"Tarn_Corvin_2023_App_Download_List.txt", {L"Tarn_Corvin_2023_App.exe"}},
        {L"Tarn_Revit_VTs_2023_Download_List.txt", {L"Tarn_Videotrainings_2023.exe"}},
    };
    return kinds;
}

std::wstring ReleaseView::Find(const std::wstring& name) const
{
    for (const std::wstring* folder : {&staged, &live}) {
        if (!folder->empty() && Exists(*folder + L"\\" + name)) {
            return *folder + L"\\" + name;
        }
    }
    return std::wstring();
}

std::wstring ReleaseView::FindRecord(const std::wstring& name) const
{
    const std::wstring record = FileInfoNameFor(name);
    const bool stagedFile = !staged.empty() && Exists(staged + L"\\" + name);
    const std::wstring path = (stagedFile ? staged : live) + L"\\" + record;
    return !record.empty() && Exists(path) ? path : std::wstring();
}

void CheckCabinetWithRecord(const std::wstring& cabinet, const std::wstring& record, PackingFailures& failed)
{
    const CabinetFacts facts = InspectCabinet(cabinet);
    if (!facts.problem.empty()) {
        failed.push_back({cabinet, L"the cabinet does not open: " + facts.problem});
    }
    for (const CabinetEntry& entry : facts.entries) {
        if (!IsContainedName(cab::NormalizeEntryName(entry.name))) {
            failed.push_back({cabinet, L"the entry \"" + entry.name + L"\" leads outside its folder"});
        }
    }
    if (record.empty()) {
        failed.push_back({cabinet, L"the file-info record is missing"});
        return;
    }
    if (facts.size < 0) {
        return;
    }
    const ExpectedFile expected = ReadFileInfo(record);
    if (expected.size != facts.size) {
        failed.push_back({cabinet, FormatText(L"the record %ls states %lld bytes, the cabinet has %lld", record.c_str(),
                                              static_cast<long long>(expected.size),
                                              static_cast<long long>(facts.size))});
    } else if (expected.checksum != facts.checksum) {
        failed.push_back({cabinet, FormatText(L"the record %ls states checksum %ld, the cabinet has %ld",
                                              record.c_str(), static_cast<long>(static_cast<int32_t>(expected.checksum)),
                                              static_cast<long>(static_cast<int32_t>(facts.checksum)))});
    } else if (!expected.sha256.empty() && expected.sha256 != facts.sha256) {
        failed.push_back({cabinet, FormatText(L"the record %ls states SHA-256 %ls, the cabinet has %ls", record.c_str(),
                                              HexText(expected.sha256).c_str(), HexText(facts.sha256).c_str())});
    }
}

void CheckRelease(const ReleaseView& view, const std::vector<std::wstring>& lists, PackingFailures& failed)
{
    std::vector<std::wstring> checked;
    bool anyList = false;
    for (const ReleaseKind& kind : ReleaseKinds()) {
        bool wanted = lists.empty();
        for (const std::wstring& name : lists) {
            wanted = wanted || EqualsNoCase(name, kind.list);
        }
        const std::wstring list = view.Find(kind.list);
        if (!wanted || list.empty()) {
            continue;
        }
        anyList = true;
        std::vector<std::wstring> entries;
        if (!ReadArray(list.c_str(), entries)) {
            failed.push_back({list, FormatText(L"the download list cannot be read (error %lu)", ::GetLastError())});
            continue;
        }
        for (const std::wstring& entry : entries) {
            bool seen = false;
            const size_t at = LowerBoundNoCase(checked, entry, &seen);
            if (entry.empty() || seen) {
                continue;
            }
            checked.insert(checked.begin() + static_cast<std::ptrdiff_t>(at), entry);
            const std::wstring cabinet = IsPlainName(entry) ? view.Find(entry) : std::wstring();
            if (cabinet.empty()) {
                failed.push_back({view.live + L"\\" + entry, L"listed in " + list + L" but missing"});
                continue;
            }
            CheckCabinetWithRecord(cabinet, view.FindRecord(entry), failed);
        }
        CheckStarters(view, kind, failed);
    }
    if (!anyList) {
        failed.push_back({view.live, L"no download list found"});
    }
}

void CheckReleaseSignatures(const ReleaseView& view, const std::vector<std::string>& keys, PackingFailures& failed)
{
    for (const ReleaseKind& kind : ReleaseKinds()) {
        const std::wstring list = view.Find(kind.list);
        std::vector<std::wstring> entries;
        ReleaseManifest manifest;
        if (list.empty() || !ReadArray(list.c_str(), entries) ||
            !ReadListManifest(view, kind.list, keys, manifest, failed)) {
            continue;
        }
        const std::wstring manifestPath = view.Find(std::wstring(kind.list) + L".sig");
        for (const std::wstring& entry : entries) {
            if (entry.empty() || EqualsNoCase(entry, kUpdaterCabinetName)) {
                continue;
            }
            const ManifestPackage* pinned = FindManifestPackage(manifest, entry);
            const std::wstring file = IsPlainName(entry) ? view.Find(entry) : std::wstring();
            if (pinned == nullptr) {
                failed.push_back(
                    {view.live + L"\\" + entry, L"listed in " + list + L" but not signed in " + manifestPath});
            } else if (!file.empty()) {
                CheckSignedPackage(file, *pinned, failed);
            }
        }
        for (const ManifestPackage& package : manifest.packages) {
            bool listed = false;
            for (const std::wstring& entry : entries) {
                listed = listed || EqualsNoCase(entry, package.name);
            }
            if (!listed) {
                failed.push_back({manifestPath, L"signs " + package.name + L", which " + list + L" does not list"});
            }
        }
    }
}

}  // namespace tarn
