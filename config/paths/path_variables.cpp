#include "config/paths/path_variables.h"

#include "config/store/cfg_reader.h"
#include "config/store/cfg_syntax.h"
#include "config/paths/folder_functions.h"
#include "support/known_folders.h"
#include "support/name_compare.h"
#include "support/path_text.h"
#include "support/registry.h"
#include "support/text_format.h"
#include "support/unique_handle.h"

namespace tarn {

namespace {

std::wstring Percent(std::wstring_view name)
{
    return L"%" + std::wstring(name) + L"%";
}

// A value read from a registry path; empty when missing.
std::wstring PathValue(const std::wstring& keyPath, const wchar_t* name)
{
    std::wstring text;
    GetRegistryText(text, keyPath.c_str(), name);
    return text;
}

std::wstring KeyValue(HKEY key, const wchar_t* name)
{
    std::wstring text;
    ReadRegistryText(key, name, text);
    return text;
}

}  // namespace

bool PathVariableTable::Add(std::wstring_view name, std::wstring_view value)
{
    bool found = false;
    const size_t at = LowerBoundNoCase(names_, name, &found);
    if (found) {
        return false;
    }
    names_.insert(names_.begin() + static_cast<ptrdiff_t>(at), std::wstring(name));
    values_.insert(values_.begin() + static_cast<ptrdiff_t>(at), std::wstring(value));
    return true;
}

const std::wstring* PathVariableTable::Find(std::wstring_view name) const
{
    bool found = false;
    const size_t at = LowerBoundNoCase(names_, name, &found);
    return found ? &values_[at] : nullptr;
}

void PathVariableTable::AddEnvironment(const wchar_t* block)
{
    if (block == nullptr) {
        return;
    }
    for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
        const std::wstring_view text(entry);
        const size_t equals = text.find(L'=');
        if (equals == std::wstring_view::npos) {
            continue;
        }
        const std::wstring_view name = cfg::Strip(text.substr(0, equals));
        const std::wstring_view value = cfg::Strip(text.substr(equals + 1));
        if (!name.empty() && !value.empty()) {
            Add(Percent(name), WithoutTrailingBackslash(value));
        }
    }
}

void PathVariableTable::AddDerivedNames()
{
    if (const std::wstring* programData = Find(L"%ProgramData%")) {
        Add(L"%Common Appdata%", std::wstring(*programData));
    }
    const std::wstring* commonFiles = Find(L"%CommonProgramFiles(x86)%");
    if (commonFiles == nullptr) {
        commonFiles = Find(L"%CommonProgramFiles%");
    }
    if (commonFiles) {
        Add(L"%CommonFilesDirX86%", std::wstring(*commonFiles));
    }
}

void PathVariableTable::AddKnownFolders(const std::function<std::wstring(const GUID&)>& lookup)
{
    for (const KnownFolder& folder : KnownFolders()) {
        const std::wstring path = lookup(*folder.id);
        if (!path.empty()) {
            Add(Percent(folder.name), path);
        }
    }
}

void PathVariableTable::AddMainProduct(const std::wstring& productKey)
{
    std::wstring folder = PathValue(productKey, L"InstallDir");
    if (folder.empty()) {
        folder = PathValue(productKey, L"InstallDir_GQ");
    }
    if (folder.empty()) {
        return;
    }
    folder = WithoutTrailingBackslash(folder);
    Add(L"%TarnGridwell_2023%", folder);
    Add(L"%TarnGridwell_HELP%", folder + L"\\Help");
}

void PathVariableTable::AddUserDataFolder(const std::wstring& folder)
{
    if (!folder.empty()) {
        Add(L"%TarnGridwell_2023_U%", WithoutTrailingBackslash(folder));
    }
}

void PathVariableTable::AddHostCadFolders(const std::wstring& versionKey)
{
    std::wstring key = versionKey;
    {
        UniqueRegKey user(OpenRegistryKey(HKEY_CURRENT_USER, key.c_str()));
        if (user) {
            const std::wstring current = KeyValue(user.Get(), L"CurVer");
            if (current.empty()) {
                return;
            }
            key += L"\\" + current;
        }
    }
    struct Source {
        HKEY root;
        const wchar_t* names[4];
    };
    const Source sources[] = {
        {HKEY_CURRENT_USER, {L"LocalRootFolder", L"RoamableRootFolder", L"AllUsersFolder", L"PublicFolder"}},
        {HKEY_LOCAL_MACHINE, {L"Location", L"AllUsersRootFolder", nullptr, nullptr}},
    };
    for (const Source& source : sources) {
        UniqueRegKey opened(OpenRegistryKey(source.root, key.c_str()));
        for (const wchar_t* name : source.names) {
            if (name == nullptr || !opened) {
                continue;
            }
            const std::wstring value = KeyValue(opened.Get(), name);
            if (!value.empty()) {
                Add(FormatText(L"%%AutoCAD_%ls%%", name), WithoutTrailingBackslash(value));
            }
        }
    }
}

void PathVariableTable::AddSecondProduct(const std::wstring& productKey)
{
    const std::wstring folder = PathValue(productKey, L"InstallDir");
    if (!folder.empty()) {
        Add(L"%TarnCorvin_2023%", WithoutTrailingBackslash(folder));
    }
    const std::wstring data = PathValue(productKey, L"AppData");
    if (!data.empty()) {
        Add(L"%TarnCorvin_2023_U%", WithoutTrailingBackslash(data));
    } else if (const std::wstring* appData = Find(L"%APPDATA%")) {
        Add(L"%TarnCorvin_2023_U%", *appData + L"\\Tarnix\\Tarn Corvin 2023");
    }
}

void PathVariableTable::KeepFoldersOnly()
{
    static const wchar_t* const kExcluded[] = {L"%LOGONSERVER%", L"%HOMEDRIVE%", L"%HOMEPATH%", L"%SYSTEMDRIVE%"};
    std::vector<std::wstring> names;
    std::vector<std::wstring> values;
    for (size_t i = 0; i < names_.size(); ++i) {
        const std::wstring& name = names_[i];
        const std::wstring& value = values_[i];
        bool keep = name.size() > 3 && name.find_first_of(L"{}") == std::wstring::npos &&
                    value.size() > 3 && value.find(L'\\') != std::wstring::npos;
        for (const wchar_t* excluded : kExcluded) {
            keep = keep && !EqualsNoCase(name, excluded);
        }
        if (keep) {
            names.push_back(name);
            values.push_back(value);
        }
    }
    names_ = std::move(names);
    values_ = std::move(values);
}

void PathVariableTable::AddHostRelease(const HostRelease& release)
{
    if (release.executablePath.find(L'\\') != std::wstring::npos) {
        Add(L"%ACINSTALLFOLDER%", FolderOf(release.executablePath));
    }
    if (release.registryKey.empty()) {
        return;
    }
    UniqueRegKey key(OpenRegistryKey(HKEY_CURRENT_USER, release.registryKey.c_str()));
    if (!key) {
        return;
    }
    const std::pair<const wchar_t*, const wchar_t*> values[] = {
        {L"AllUsersFolder", L"%ACALLUSERSFOLDER%"},
        {L"AutodeskSharedFolder", L"%ACAUTODESKSHAREDFOLDER%"},
        {L"LocalRootFolder", L"%ACLOCALROOTFOLDER%"},
        {L"RoamableRootFolder", L"%ACROAMINGROOTFOLDER%"},
    };
    for (const auto& [valueName, variable] : values) {
        const std::wstring value = KeyValue(key.Get(), valueName);
        if (!value.empty()) {
            Add(variable, WithoutTrailingBackslash(value));
        }
    }
}

void PathVariableTable::ExpandReferences()
{
    std::vector<std::wstring> expanded = values_;
    for (size_t i = 0; i < values_.size(); ++i) {
        if (values_[i].find(L'%') != std::wstring::npos) {
            std::wstring value;
            if (Expand(values_[i], value)) {
                expanded[i] = std::move(value);
            }
        }
    }
    values_ = std::move(expanded);
}

bool PathVariableTable::Expand(std::wstring_view text, std::wstring& expanded) const
{
    expanded.clear();
    if (text.size() > kMaxExpandedPath) {
        return false;
    }
    std::wstring result(text);
    size_t scan = 0;
    for (;;) {
        const size_t open = result.find(L'%', scan);
        if (open == std::wstring::npos) {
            break;
        }
        const size_t close = result.find(L'%', open + 1);
        if (close == std::wstring::npos) {
            break;
        }
        // "%%" names nothing and is never defined.
        const std::wstring* value =
            close == open + 1 ? nullptr : Find(std::wstring_view(result).substr(open, close - open + 1));
        if (value == nullptr) {
            result.erase(open, close - open + 1);
            scan = open;
            continue;
        }
        if (result.size() - (close - open + 1) + value->size() > kMaxExpandedPath) {
            return false;
        }
        result.replace(open, close - open + 1, *value);
        scan = open + value->size();
    }
    expanded = std::move(result);
    return true;
}

std::wstring PathVariableTable::VariableForm(std::wstring_view expanded) const
{
    const bool quoted = !expanded.empty() && expanded.front() == L'"';
    const std::wstring_view path = quoted ? expanded.substr(1) : expanded;
    size_t best = names_.size();
    for (size_t i = 0; i < names_.size(); ++i) {
        const std::wstring& value = values_[i];
        // Names are in sorted order: among equal lengths the first one stays.
        if (value.empty() || (best < names_.size() && value.size() <= values_[best].size())) {
            continue;
        }
        if (StartsWithNoCase(path, value)) {
            best = i;
        }
    }
    if (best == names_.size()) {
        return std::wstring(expanded);
    }
    return (quoted ? L"\"" : L"") + names_[best] + std::wstring(path.substr(values_[best].size()));
}

PathVariableTable BuildPathVariables(const PathVariableSources& sources)
{
    PathVariableTable table;
    if (sources.environment) {
        table.AddEnvironment(sources.environment);
    } else {
        wchar_t* block = ::GetEnvironmentStringsW();
        table.AddEnvironment(block);
        if (block) {
            ::FreeEnvironmentStringsW(block);
        }
    }
    table.AddDerivedNames();
    table.AddKnownFolders(sources.knownFolder ? sources.knownFolder : GetKnownFolderPath);
    table.AddMainProduct(sources.mainProductKey);
    table.AddUserDataFolder(sources.userDataFolder ? sources.userDataFolder() : GetUserAppDataDir(2023));
    table.AddHostCadFolders(sources.hostCadVersionKey);
    table.AddSecondProduct(sources.secondProductKey);
    table.KeepFoldersOnly();
    HostRelease release;
    if (sources.hostRelease ? sources.hostRelease(release) : GetRunningHostRelease(release)) {
        table.AddHostRelease(release);
    }
    table.ExpandReferences();
    return table;
}

const PathVariableTable& GetPathVariables()
{
    static const PathVariableTable table = BuildPathVariables(PathVariableSources{});
    return table;
}

}  // namespace tarn

int ExpandPathVariables(std::wstring& variableForm, std::wstring& expandedPath, const wchar_t* text, int mode)
{
    static_cast<void>(mode);
    variableForm.clear();
    expandedPath.clear();
    if (tarn::IsEmptyText(text)) {
        return 0;
    }
    const tarn::PathVariableTable& table = tarn::GetPathVariables();
    if (!table.Expand(text, expandedPath)) {
        return 0;
    }
    variableForm = table.VariableForm(expandedPath);
    return 1;
}

int CCfgReader::GetPathWithoutVars(std::wstring& variableForm, std::wstring& expandedPath, const wchar_t* path,
                                   int mode)
{
    if (tarn::IsEmptyText(path)) {
        expandedPath.clear();
        return 0;
    }
    if (wcschr(path, L'%') == nullptr) {
        expandedPath = path;
        return 1;
    }
    return ExpandPathVariables(variableForm, expandedPath, path, mode);
}

int ExpandValue(std::wstring& value, int toVariableForm)
{
    const auto convert = [toVariableForm](const std::wstring& element) {
        std::wstring variableForm;
        std::wstring expanded;
        if (!ExpandPathVariables(variableForm, expanded, element.c_str())) {
            return element;
        }
        return toVariableForm ? variableForm : expanded;
    };
    if (value.find(L';') == std::wstring::npos) {
        if (value.empty()) {
            return 0;
        }
        value = convert(value);
        return 1;
    }
    const bool hasDrive = value.size() >= 3 && ((value[0] >= L'A' && value[0] <= L'Z') ||
                                                (value[0] >= L'a' && value[0] <= L'z')) &&
                          value[1] == L':' && value[2] == L'\\';
    const bool startsLikePath = value.rfind(L"\\\\", 0) == 0 || value[0] == L'%' || hasDrive;
    if (value.size() <= 5 || !startsLikePath) {
        return 0;
    }
    std::wstring result;
    size_t start = 0;
    for (;;) {
        const size_t end = value.find(L';', start);
        result += convert(value.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos) {
            break;
        }
        result += L';';
        start = end + 1;
    }
    value = std::move(result);
    return 1;
}
