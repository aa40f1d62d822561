#include "packing/pack_excludes.h"

#include <algorithm>
#include <mutex>

#include "config/store/cfg_reader.h"
#include "config/text/text_file.h"
#include "packing/build_folders.h"
#include "support/name_compare.h"
#include "support/path_text.h"
#include "support/text_format.h"
#include "support/trace.h"
#include "transfer/download_url.h"
#include "transfer/server_layout.h"

namespace {

const int kProductYear = 2023;
const wchar_t kSection[] = L"Excludes";

std::mutex g_pathLock;
std::wstring g_configPath = tarn::build::kPackingConfig;
std::wstring g_packedListRecord = tarn::build::kPackedListRecord;

std::vector<std::wstring> DefaultExtensions()
{
    return {L".bak", L".tmp", L".sbr", L".pch", L".lib", L".wmv", L".pdb"};
}

std::vector<std::wstring> DefaultFiles()
{
    return {L".bak",
            L"Setup.cfg",
            L"!__Update_Version__!.txt",
            L"Thumbs.db",
            L"Touch.ini",
            tarn::kUpdaterCabinetName,
            L"TouchEX.exe",
            tarn::FormatText(L"%d_Setup.pdf", kProductYear - 1),
            tarn::FormatText(L"%d_Setup_App.pdf", kProductYear - 1)};
}

// Reads a list of the configuration; an empty one gets the defaults, which
// the store writes back when it goes. Sorted for lookups.
std::vector<std::wstring> ReadList(CCfgReader& config, const wchar_t* key, std::vector<std::wstring> defaults)
{
    std::vector<std::wstring> values;
    config.GetArrayValue(values, kSection, key);
    if (values.empty()) {
        values = std::move(defaults);
        config.SetArrayValue(kSection, key, values);
    }
    std::sort(values.begin(), values.end(),
              [](const std::wstring& a, const std::wstring& b) { return tarn::CompareNoCase(a, b) < 0; });
    return values;
}

bool Contains(const std::vector<std::wstring>& sorted, std::wstring_view name)
{
    bool found = false;
    tarn::LowerBoundNoCase(sorted, name, &found);
    return found;
}

}  // namespace

namespace tarn {

const std::wstring& PackingConfigPath()
{
    std::lock_guard<std::mutex> lock(g_pathLock);
    return g_configPath;
}

void SwitchPackingConfigDrive(wchar_t drive)
{
    std::lock_guard<std::mutex> lock(g_pathLock);
    if (!g_configPath.empty()) {
        g_configPath[0] = drive;
    }
}

void SetPackingConfigPathForTest(const std::wstring& path)
{
    std::lock_guard<std::mutex> lock(g_pathLock);
    g_configPath = path.empty() ? std::wstring(build::kPackingConfig) : path;
}

void SetPackedListRecordForTest(const std::wstring& path)
{
    std::lock_guard<std::mutex> lock(g_pathLock);
    g_packedListRecord = path.empty() ? std::wstring(build::kPackedListRecord) : path;
}

void ApplyFixedExcludes(std::vector<std::wstring>& files)
{
    static const wchar_t* const kExtensions[] = {L"bak", L"tmp", L"sbr", L"pch", L"lib", L"pdb"};
    static const wchar_t* const kNames[] = {L"Setup.cfg", L"Thumbs.db", L"Touch.ini", tarn::kUpdaterCabinetName,
                                            L"TouchEX.exe"};
    for (size_t i = files.size(); i-- > 0;) {
        const std::wstring name = tarn::FileNameOf(files[i]);
        const size_t dot = name.find_last_of(L'.');
        if (dot == std::wstring::npos) {
            continue;
        }
        const std::wstring_view extension = std::wstring_view(name).substr(dot + 1);
        bool drop = EndsWithNoCase(name, tarn::kFileInfoSuffix) || StartsWithNoCase(name, L"Tarn_Gridwell_2023_Memory_Stick");
        for (const wchar_t* excluded : kExtensions) {
            drop = drop || EqualsNoCase(extension, excluded);
        }
        for (const wchar_t* excluded : kNames) {
            drop = drop || EqualsNoCase(name, excluded);
        }
        if (drop) {
            files.erase(files.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
}

}  // namespace tarn

int ApplyPackingExcludes(std::vector<std::wstring>& files, const wchar_t* prefix)
{
    std::wstring recordPath;
    {
        std::lock_guard<std::mutex> lock(g_pathLock);
        recordPath = g_packedListRecord;
    }
    const std::wstring prefixText = prefix == nullptr ? std::wstring() : std::wstring(prefix);
    int removed = 0;
    {
        CCfgReader config(tarn::PackingConfigPath());
        const std::vector<std::wstring> extensions = ReadList(config, L"Extension", DefaultExtensions());
        const std::vector<std::wstring> names = ReadList(config, L"File", DefaultFiles());
        for (size_t i = files.size(); i-- > 0;) {
            const std::wstring name = tarn::FileNameOf(files[i]);
            const size_t dot = name.find_last_of(L'.');
            const std::wstring stem = dot == std::wstring::npos ? name : name.substr(0, dot);
            if (stem.empty()) {
                continue;  // ".bak" alone: no name, it stays
            }
            const std::wstring extension = dot == std::wstring::npos ? std::wstring() : name.substr(dot);
            const bool drop = !prefixText.empty() && tarn::StartsWithNoCase(name, prefixText);
            if (drop || (!extension.empty() && Contains(extensions, extension)) || Contains(names, name) ||
                tarn::EndsWithNoCase(name, tarn::kFileInfoSuffix)) {
                files.erase(files.begin() + static_cast<std::ptrdiff_t>(i));
                removed = 1;
            }
        }
        if (!config.Save()) {
            tarn::Trace(L"ApplyPackingExcludes: cannot write the default lists to %ls (error %lu)",
                        tarn::PackingConfigPath().c_str(), ::GetLastError());
        }
    }
    if (!WriteArray(recordPath.c_str(), files)) {
        tarn::Trace(L"ApplyPackingExcludes: cannot write the packed-list record %ls (error %lu)", recordPath.c_str(),
                    ::GetLastError());
    }
    return removed;
}
