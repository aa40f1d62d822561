#include "config/paths/folder_functions.h"

#include <windows.h>

#include <cwchar>

#include "config/store/cfg_reader.h"
#include "config/paths/host_environment.h"
#include "support/file_system.h"
#include "support/path_text.h"
#include "support/proc_address.h"
#include "support/environment.h"
#include "support/program_path.h"
#include "support/registry.h"
#include "support/text_format.h"
#include "support/unique_handle.h"

namespace {

const wchar_t kGridwellKeyFormat[] = L"Software\\Tarnix\\Tarn Gridwell %d";
const wchar_t kVertixKeyFormat[] = L"Software\\Tarnix\\Tarn Vertix %d";
const wchar_t kCorvinKeyFormat[] = L"Software\\Tarnix\\Tarn Corvin %d";
// The year is the number after the last blank of the product names
// "Tarn Gridwell 2023" and "Tarn Corvin 2023".
constexpr int kProductYear = 2023;

std::wstring ProductKey(const wchar_t* format, int year)
{
    return tarn::FormatText(format, year);
}

std::wstring ReadValue(HKEY root, const std::wstring& keyPath, const std::wstring& name)
{
    tarn::UniqueRegKey key(OpenRegistryKey(root, keyPath.c_str()));
    std::wstring text;
    ReadRegistryText(key.Get(), name.c_str(), text);
    return text;
}

// Environment references of a registry value expanded; the value as read when
// the expansion fails.
std::wstring Expanded(const std::wstring& value)
{
    std::wstring expanded;
    return tarn::ExpandEnvironmentText(value, expanded) ? expanded : value;
}

std::wstring EnvironmentValue(const wchar_t* name)
{
    std::wstring value;
    tarn::GetEnvironmentText(name, value);
    return value;
}

using tarn::WithoutTrailingBackslash;
using tarn::WithTrailingBackslash;

// Copies a folder into the caller's buffer or the function's own; a folder
// that does not fit is not found.
wchar_t* ToBuffer(const std::wstring& folder, wchar_t* buffer, wchar_t* ownBuffer)
{
    wchar_t* target = buffer ? buffer : ownBuffer;
    if (folder.size() >= MAX_PATH) {
        target[0] = L'\0';
    } else {
        wmemcpy(target, folder.c_str(), folder.size() + 1);
    }
    return target;
}

// What differs between the configuration folders of the two products.
struct ConfigDirNames {
    const wchar_t* environment;
    const wchar_t* productKeyFormat;
    const wchar_t* configValue;
    const wchar_t* subfolder;
    bool appDataFromShellFolders;
};

const ConfigDirNames kGridwellConfig = {L"TarnGridwell_2023_CFG_L", kGridwellKeyFormat, L"Config",
                                        L"Tarnix\\Tarn Gridwell 2023\\Config\\", false};
const ConfigDirNames kCorvinConfig = {L"TarnCorvin_2023_CFG_L", kCorvinKeyFormat, L"ConfigR",
                                      L"Tarnix\\Tarn Corvin 2023\\Config\\", true};

std::wstring ConfigDir(const ConfigDirNames& names)
{
    const std::wstring environment = tarn::EditionConfigName(names.environment);
    const std::wstring key = ProductKey(names.productKeyFormat, kProductYear);

    std::wstring folder = EnvironmentValue(environment.c_str());
    if (!folder.empty()) {
        return WithTrailingBackslash(folder);
    }
    folder = ReadValue(HKEY_CURRENT_USER, key, tarn::EditionConfigName(names.configValue));
    if (!folder.empty()) {
        folder = WithTrailingBackslash(folder);
        // Later calls of the process take it from the environment.
        ::SetEnvironmentVariableW(environment.c_str(), folder.c_str());
        return folder;
    }
    folder = ReadValue(HKEY_CURRENT_USER, key, L"");
    if (!folder.empty()) {
        return WithTrailingBackslash(folder) + L"Config\\";
    }
    const std::wstring_view suffix = tarn::EditionSuffix(tarn::GetHostEdition());
    if (!suffix.empty()) {
        folder = ReadValue(HKEY_LOCAL_MACHINE, key, L"AppData_" + std::wstring(suffix));
    }
    if (folder.empty()) {
        folder = ReadValue(HKEY_LOCAL_MACHINE, key, L"AppData");
    }
    if (!folder.empty()) {
        return WithTrailingBackslash(Expanded(folder)) + L"Config\\";
    }
    if (names.appDataFromShellFolders) {
        GetShellFolder(L"AppData", folder);
    } else {
        folder = EnvironmentValue(L"AppData");
    }
    if (!folder.empty()) {
        return WithTrailingBackslash(folder) + names.subfolder;
    }
    const std::wstring programFolder = tarn::GetProgramFolder();
    return programFolder.empty() ? std::wstring() : WithTrailingBackslash(programFolder) + L"Config\\";
}

// The shared configuration folders: the variable, else the machine key's
// value, else the per-user folder; what is found is put into the variable,
// so later calls of the process take it from there.
std::wstring SharedConfigFolder(const wchar_t* environmentName, const wchar_t* valueName)
{
    const std::wstring environment = tarn::EditionConfigName(environmentName);
    std::wstring folder = EnvironmentValue(environment.c_str());
    if (!folder.empty()) {
        return WithTrailingBackslash(folder);
    }
    folder = ReadValue(HKEY_LOCAL_MACHINE, ProductKey(kGridwellKeyFormat, kProductYear),
                       tarn::EditionConfigName(valueName));
    folder = folder.empty() ? ConfigDir(kGridwellConfig) : WithTrailingBackslash(folder);
    if (!folder.empty()) {
        ::SetEnvironmentVariableW(environment.c_str(), folder.c_str());
    }
    return folder;
}

// The table of entry points that CfgR.dll hands out; its second entry reads
// one value of a settings file: (file, section, name, 260-character output),
// 1 for success.
using CfgReadValueFunction = int (*)(const wchar_t* file, const wchar_t* section, const wchar_t* name,
                                     wchar_t* output);
using GetExportsObjectFunction = long long (*)();

// The module looked for only where the program's own installation puts it;
// a bare name would let the search order pick up a planted copy.
std::wstring FindCfgModule()
{
    std::vector<std::wstring> candidates;
    const std::wstring programFolder = tarn::GetProgramFolder();
    if (!programFolder.empty()) {
        candidates.push_back(programFolder + L"\\CfgR.dll");
        candidates.push_back(programFolder + L"\\Data_x64\\CfgR.dll");
    }
    const std::wstring installFolder = ReadValue(HKEY_LOCAL_MACHINE, ProductKey(kGridwellKeyFormat, kProductYear),
                                                 L"InstallDir");
    if (!installFolder.empty()) {
        candidates.push_back(WithTrailingBackslash(installFolder) + L"CfgR.dll");
    }
    for (const std::wstring& candidate : candidates) {
        // Only full paths: a relative one ("C:folder" included) would again
        // depend on the current folder.
        const bool fullPath = candidate.rfind(L"\\\\", 0) == 0 ||
                              (candidate.size() > 2 && candidate[1] == L':' && candidate[2] == L'\\');
        if (fullPath && FileExists(candidate.c_str())) {
            return candidate;
        }
    }
    return std::wstring();
}

// Asks CfgR.dll: 1 with the value, 0 when it finds nothing, -1 when the module
// cannot be loaded or lacks its entry points.
int ReadThroughCfgModule(const std::wstring& module, const std::wstring& folderFile, const wchar_t* name,
                          std::wstring& value)
{
    tarn::UniqueModule library(::LoadLibraryExW(module.c_str(), nullptr,
                                                LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS));
    if (!library) {
        return -1;
    }
    auto getExports = reinterpret_cast<GetExportsObjectFunction>(
        reinterpret_cast<void*>(GetProcAddressLogged(library.Get(), "?GetExportsObject@@YA_JXZ")));
    if (getExports == nullptr) {
        return -1;
    }
    const auto* table = reinterpret_cast<void* const*>(static_cast<intptr_t>(getExports()));
    if (table == nullptr || table[1] == nullptr) {
        return -1;
    }
    auto readValue = reinterpret_cast<CfgReadValueFunction>(table[1]);
    wchar_t output[MAX_PATH] = {};
    if (readValue(folderFile.c_str(), L"Ordner", name, output) != 1) {
        return 0;
    }
    output[MAX_PATH - 1] = L'\0';
    value = output;
    return 1;
}

}  // namespace

namespace tarn {

std::wstring DirValue(const wchar_t* name)
{
    if (name == nullptr || name[0] == L'\0') {
        return std::wstring();
    }
    const std::wstring configFolder = LocalConfigDir(false);
    if (configFolder.empty()) {
        return std::wstring();
    }
    const std::wstring folderFile = configFolder + L"Ordner.ini";
    std::wstring value;
    const std::wstring module = FindCfgModule();
    const int answer = module.empty() ? -1 : ReadThroughCfgModule(module, folderFile, name, value);
    if (answer >= 0) {
        return answer == 1 ? value : std::wstring();
    }
    // No usable module: the folder file is read with the settings store.
    CCfgReader folderValues(folderFile);
    folderValues.GetValue(value, L"Ordner", name);
    return value;
}

std::wstring GetUserAppDataDir(int year)
{
    const std::wstring key = ProductKey(year > 2016 ? kGridwellKeyFormat : kVertixKeyFormat, year);
    const std::wstring editionName = L"AppData_" + std::wstring(EditionSuffix(GetHostEdition()));
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        std::wstring folder = ReadValue(root, key, L"AppData");
        if (folder.empty()) {
            folder = ReadValue(root, key, editionName);
        }
        if (!folder.empty()) {
            return Expanded(folder);
        }
    }
    std::wstring appData;
    if (!GetShellFolder(L"AppData", appData)) {
        return std::wstring();
    }
    return WithoutTrailingBackslash(appData) + FormatText(L"\\Tarnix\\Tarn Gridwell %d", year);
}

std::wstring CentralAppDir(int year, bool secondProduct)
{
    const wchar_t* format = secondProduct ? kCorvinKeyFormat : year > 2016 ? kGridwellKeyFormat : kVertixKeyFormat;
    const std::wstring key = ProductKey(format, year);
    const wchar_t* name = GetHostEdition() == HostEdition::Flinto ? L"InstallDir_FQ" : L"InstallDir";
    std::wstring folder = ReadValue(HKEY_LOCAL_MACHINE, key, name);
    if (folder.empty()) {
        folder = ReadValue(HKEY_LOCAL_MACHINE, key, L"");
    }
    return folder;
}

std::wstring LocalAppDir(int year)
{
    const std::wstring key = ProductKey(kGridwellKeyFormat, year);
    std::wstring folder = ReadValue(HKEY_LOCAL_MACHINE, key, L"AppData");
    if (folder.empty()) {
        folder = ReadValue(HKEY_LOCAL_MACHINE, key, L"AppData_GQ");
    }
    if (!folder.empty()) {
        return Expanded(folder);
    }
    const std::wstring appData = EnvironmentValue(L"AppData");
    if (appData.empty()) {
        return std::wstring();
    }
    return WithoutTrailingBackslash(appData) + FormatText(L"\\Tarnix\\Tarn Gridwell %d", year);
}

std::wstring LocalRAppDir(int year)
{
    const std::wstring folder = ReadValue(HKEY_LOCAL_MACHINE, ProductKey(kCorvinKeyFormat, year), L"AppData");
    if (!folder.empty()) {
        return Expanded(folder);
    }
    const std::wstring appData = EnvironmentValue(L"AppData");
    if (appData.empty()) {
        return std::wstring();
    }
    return WithTrailingBackslash(appData) + FormatText(L"Tarnix\\Tarn Corvin %d", year);
}

std::wstring LocalConfigDir(bool secondProduct)
{
    return ConfigDir(secondProduct ? kCorvinConfig : kGridwellConfig);
}

std::wstring SharedConfigDir(SharedConfig which)
{
    return which == SharedConfig::Central ? SharedConfigFolder(L"TarnGridwell_2023_CFG_C", L"Config")
                                          : SharedConfigFolder(L"TarnGridwell_2023_CFG", L"ConfigCfg");
}

wchar_t* GetSharedConfigDir(wchar_t* buffer)
{
    static wchar_t own[MAX_PATH];
    return ToBuffer(SharedConfigDir(SharedConfig::Cfg), buffer, own);
}

wchar_t* GetCentralConfigDir(wchar_t* buffer)
{
    static wchar_t own[MAX_PATH];
    return ToBuffer(SharedConfigDir(SharedConfig::Central), buffer, own);
}

}  // namespace tarn

wchar_t* GetCentralAppDir(wchar_t* buffer)
{
    return GetCentralAppDir(buffer, kProductYear);
}

wchar_t* GetCentralAppDir(wchar_t* buffer, int year)
{
    static wchar_t own[MAX_PATH];
    return ToBuffer(tarn::CentralAppDir(year), buffer, own);
}

wchar_t* GetCentralRAppDir(wchar_t* buffer, int year)
{
    static wchar_t own[MAX_PATH];
    return ToBuffer(tarn::CentralAppDir(year, true), buffer, own);
}

wchar_t* GetLocalAppDir(wchar_t* buffer)
{
    return GetLocalAppDir(buffer, kProductYear);
}

wchar_t* GetLocalAppDir(wchar_t* buffer, int year)
{
    static wchar_t own[MAX_PATH];
    return ToBuffer(tarn::LocalAppDir(year), buffer, own);
}

wchar_t* GetLocalRAppDir(wchar_t* buffer)
{
    return GetLocalRAppDir(buffer, kProductYear);
}

wchar_t* GetLocalRAppDir(wchar_t* buffer, int year)
{
    static wchar_t own[MAX_PATH];
    return ToBuffer(tarn::LocalRAppDir(year), buffer, own);
}

wchar_t* GetLocalConfigDir(wchar_t* buffer)
{
    static wchar_t own[MAX_PATH];
    return ToBuffer(tarn::LocalConfigDir(false), buffer, own);
}

wchar_t* GetLocalRConfigDir(wchar_t* buffer)
{
    static wchar_t own[MAX_PATH];
    return ToBuffer(tarn::LocalConfigDir(true), buffer, own);
}

wchar_t* GetDirValue(const wchar_t* name, wchar_t* buffer)
{
    static wchar_t own[MAX_PATH];
    return ToBuffer(tarn::DirValue(name), buffer, own);
}
