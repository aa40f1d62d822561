#include "support/path_text.h"
#include "support/registry.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "support/environment.h"
#include "support/known_folders.h"
#include "support/name_compare.h"
#include "support/text_format.h"
#include "support/trace.h"

namespace {

struct RootName {
    const wchar_t* name;
    HKEY key;
};

const RootName kRoots[] = {
    {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},     {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},   {L"HKEY_USERS", HKEY_USERS},
    {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

const wchar_t kShellFoldersKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Registry key names are at most 255 characters; this leaves room to spare.
constexpr DWORD kKeyNameChars = 1040;

using tarn::IsEmptyText;

// One root's "Shell Folders" values merged into the sorted name table.
void AddShellFolders(HKEY root, std::vector<std::wstring>& names, std::vector<std::wstring>& paths)
{
    tarn::UniqueRegKey key(OpenRegistryKey(root, kShellFoldersKey));
    if (!key) {
        return;
    }
    tarn::RegistryValue value;
    for (DWORD index = 0;; ++index) {
        const LSTATUS status = tarn::EnumRegistryValue(key.Get(), index, value);
        if (status == ERROR_MORE_DATA) {
            continue;  // a value that keeps growing while it is read
        }
        if (status != ERROR_SUCCESS) {
            break;
        }
        if (value.name.size() <= 1 || value.data.size() <= 2 || value.name[0] == L'{' || value.name[0] == L'!') {
            continue;
        }
        if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) {
            continue;
        }
        const std::wstring& valueName = value.name;
        std::wstring folder;
        if (const tarn::KnownFolder* known = tarn::FindKnownFolder(valueName)) {
            folder = tarn::GetKnownFolderPath(*known->id);
        }
        if (folder.empty()) {
            folder = tarn::RegistryString(value.data);
        }
        bool found = false;
        const size_t at = tarn::LowerBoundNoCase(names, valueName, &found);
        if (found) {
            paths[at] = folder;
        } else {
            names.insert(names.begin() + static_cast<ptrdiff_t>(at), valueName);
            paths.insert(paths.begin() + static_cast<ptrdiff_t>(at), folder);
        }
    }
}

}  // namespace

namespace tarn {

std::wstring RegistryString(const std::vector<BYTE>& data)
{
    const size_t units = data.size() / sizeof(wchar_t);
    std::wstring text(units, L'\0');
    memcpy(text.data(), data.data(), units * sizeof(wchar_t));
    const size_t end = text.find(L'\0');
    if (end != std::wstring::npos) {
        text.resize(end);
    }
    return text;
}

LSTATUS QueryRegistryValue(HKEY key, const wchar_t* name, DWORD& type, std::vector<BYTE>& data)
{
    data.clear();
    DWORD size = 0;
    LSTATUS status = ::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    // The value may grow between the two calls: then size again and retry.
    for (int attempt = 0; attempt < 8 && status == ERROR_SUCCESS; ++attempt) {
        data.resize(size);
        DWORD offered = size;
        status = ::RegQueryValueExW(key, name, nullptr, &type, data.data(), &offered);
        if (status == ERROR_SUCCESS) {
            data.resize(offered);
            return ERROR_SUCCESS;
        }
        if (status == ERROR_MORE_DATA) {
            size = offered > size ? offered : size * 2 + 64;
            status = ERROR_SUCCESS;
        }
    }
    data.clear();
    return status == ERROR_SUCCESS ? ERROR_MORE_DATA : status;
}

LSTATUS EnumRegistryValue(HKEY key, DWORD index, RegistryValue& value)
{
    value.name.clear();
    value.type = REG_NONE;
    value.data.clear();
    // Value names are at most 16,383 characters; data is sized by what the
    // platform reports and grown while the value keeps growing.
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(16384);
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD nameChars = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        const LSTATUS status =
            ::RegEnumValueW(key, index, name.data(), &nameChars, nullptr, &type, data.data(), &size);
        if (status == ERROR_SUCCESS) {
            value.name.assign(name.data(), nameChars);
            value.type = type;
            value.data.assign(data.begin(), data.begin() + size);
            return ERROR_SUCCESS;
        }
        if (status != ERROR_MORE_DATA) {
            return status;
        }
        data.resize(std::max<size_t>(data.size() * 2, size));
    }
    return ERROR_MORE_DATA;
}

void EnumRegistrySubkeys(HKEY key, std::vector<std::wstring>& names)
{
    std::vector<wchar_t> name(kKeyNameChars);
    for (DWORD index = 0;; ++index) {
        DWORD nameChars = kKeyNameChars;
        if (::RegEnumKeyExW(key, index, name.data(), &nameChars, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            return;
        }
        names.emplace_back(name.data(), nameChars);
    }
}

}  // namespace tarn

HKEY SplitRegistryPath(const wchar_t* path, std::wstring& rootName, std::wstring& keyPath)
{
    rootName.clear();
    keyPath.clear();
    if (IsEmptyText(path)) {
        return nullptr;
    }
    const std::wstring_view text(path);
    const size_t slash = text.find(L'\\');
    const std::wstring_view root = text.substr(0, slash);
    for (const RootName& candidate : kRoots) {
        if (tarn::EqualsNoCase(root, candidate.name)) {
            rootName.assign(root);
            if (slash != std::wstring_view::npos) {
                keyPath.assign(text.substr(slash + 1));
                if (!keyPath.empty() && keyPath.back() == L'\\') {
                    keyPath.pop_back();
                }
            }
            return candidate.key;
        }
    }
    return nullptr;
}

HKEY OpenRegistryKey(HKEY root, const wchar_t* keyPath, int create, int is64, REGSAM access)
{
    if (root == nullptr) {
        return nullptr;
    }
    if (is64) {
        access |= KEY_WOW64_64KEY;
    }
    const wchar_t* subKey = keyPath ? keyPath : L"";
    HKEY key = nullptr;
    LSTATUS status;
    if (create) {
        status = ::RegCreateKeyExW(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access | KEY_WRITE,
                                   nullptr, &key, nullptr);
    } else {
        status = ::RegOpenKeyExW(root, subKey, 0, access, &key);
    }
    if (status == ERROR_SUCCESS) {
        return key;
    }
    // A missing key is an answer, not a failure; saving code reports its own
    // and finds the cause in the last error.
    if (!create && status != ERROR_FILE_NOT_FOUND) {
        tarn::Trace(L"registry key %ls cannot be opened (error %ld)", subKey, static_cast<long>(status));
    }
    ::SetLastError(static_cast<DWORD>(status));
    return nullptr;
}

HKEY OpenRegistryPath(const wchar_t* path, int create, int is64, REGSAM access)
{
    std::wstring rootName;
    std::wstring keyPath;
    HKEY root = SplitRegistryPath(path, rootName, keyPath);
    return OpenRegistryKey(root, keyPath.c_str(), create, is64, access);
}

void ReopenRegistryKey(tarn::UniqueRegKey& held, HKEY root, const wchar_t* keyPath, int create, int is64,
                       REGSAM access)
{
    if (IsEmptyText(keyPath)) {
        return;
    }
    held.Reset(OpenRegistryKey(root, keyPath, create, is64, access));
}

void ReopenRegistryKey(tarn::UniqueRegKey& held, const wchar_t* path, int create, int is64, REGSAM access)
{
    std::wstring rootName;
    std::wstring keyPath;
    HKEY root = SplitRegistryPath(path, rootName, keyPath);
    if (keyPath.empty()) {
        return;
    }
    held.Reset(OpenRegistryKey(root, keyPath.c_str(), create, is64, access));
}

int ReadRegistryText(HKEY key, const wchar_t* valueName, std::wstring& text)
{
    text.clear();
    if (key == nullptr) {
        return 0;
    }
    DWORD type = 0;
    std::vector<BYTE> data;
    if (tarn::QueryRegistryValue(key, IsEmptyText(valueName) ? nullptr : valueName, type, data) != ERROR_SUCCESS) {
        return 0;
    }
    switch (type) {
    case REG_SZ:
        text = tarn::RegistryString(data);
        return 1;
    case REG_EXPAND_SZ: {
        text = tarn::RegistryString(data);
        std::wstring expanded;
        if (tarn::ExpandEnvironmentText(text, expanded)) {
            text = std::move(expanded);
        }
        return 1;
    }
    case REG_DWORD: {
        if (data.size() < sizeof(DWORD)) {
            return 0;
        }
        int32_t number = 0;
        memcpy(&number, data.data(), sizeof(number));
        text = tarn::FormatText(L"%d", number);
        return 1;
    }
    default:
        return 0;
    }
}

int GetRegistryText(std::wstring& text, const wchar_t* path, const wchar_t* valueName, int is64)
{
    text.clear();
    if (IsEmptyText(path)) {
        return 0;
    }
    tarn::UniqueRegKey key(OpenRegistryPath(path, 0, is64));
    return ReadRegistryText(key.Get(), valueName, text);
}

namespace {

// ListRegistrySubkeys for a key `depth` levels below the one first asked for.
int ListSubkeys(const wchar_t* path, std::vector<std::wstring>& subkeys, int recursive, int is64, int depth)
{
    std::wstring rootName;
    std::wstring keyPath;
    HKEY root = SplitRegistryPath(path, rootName, keyPath);
    const size_t first = subkeys.size();
    {
        tarn::UniqueRegKey key(OpenRegistryKey(root, keyPath.c_str(), 0, is64));
        if (!key) {
            return 0;
        }
        std::vector<std::wstring> names;
        tarn::EnumRegistrySubkeys(key.Get(), names);
        for (std::wstring& subkey : names) {
            if (recursive) {
                subkey = rootName + L"\\" + (keyPath.empty() ? std::wstring() : keyPath + L"\\") + subkey;
            }
            subkeys.push_back(std::move(subkey));
        }
    }
    const size_t added = subkeys.size();
    if (recursive && depth < tarn::kMaxRegistryDepth) {
        for (size_t i = first; i < added; ++i) {
            const std::wstring child = subkeys[i];
            ListSubkeys(child.c_str(), subkeys, 1, is64, depth + 1);
        }
    }
    return added > first ? 1 : 0;
}

}  // namespace

int ListRegistrySubkeys(const wchar_t* path, std::vector<std::wstring>& subkeys, int recursive, int is64)
{
    return ListSubkeys(path, subkeys, recursive, is64, 1);
}

LSTATUS SetRegistryValue(HKEY key, const wchar_t* valueName, DWORD type, const void* data, DWORD size)
{
    if (key == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        const wchar_t* text = data ? static_cast<const wchar_t*>(data) : L"";
        const size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
        if (bytes > MAXDWORD) {
            return ERROR_INVALID_PARAMETER;
        }
        return ::RegSetValueExW(key, valueName, 0, type, reinterpret_cast<const BYTE*>(text),
                                static_cast<DWORD>(bytes));
    }
    if (type == REG_MULTI_SZ) {
        if (size > MAXDWORD / sizeof(wchar_t)) {
            return ERROR_INVALID_PARAMETER;
        }
        size *= sizeof(wchar_t);
    }
    if (data == nullptr && size != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    return ::RegSetValueExW(key, valueName, 0, type, static_cast<const BYTE*>(data), size);
}

int GetShellFolders(std::vector<std::wstring>& names, std::vector<std::wstring>& paths)
{
    names.clear();
    paths.clear();
    AddShellFolders(HKEY_CURRENT_USER, names, paths);
    AddShellFolders(HKEY_LOCAL_MACHINE, names, paths);
    return names.empty() ? 0 : 1;
}

int GetShellFolder(const wchar_t* name, std::wstring& path)
{
    path.clear();
    if (IsEmptyText(name)) {
        return 0;
    }
    std::vector<std::wstring> names;
    std::vector<std::wstring> paths;
    GetShellFolders(names, paths);
    bool found = false;
    const size_t at = tarn::LowerBoundNoCase(names, name, &found);
    if (found) {
        path = paths[at];
        return 1;
    }
    if (!tarn::EqualsNoCase(name, L"AppData")) {
        return 0;
    }
    if (tarn::GetEnvironmentText(L"AppData", path)) {
        return 1;
    }
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD tempLength = ::GetTempPathW(MAX_PATH + 1, temp);
    if (tempLength == 0 || tempLength > MAX_PATH) {
        return 0;
    }
    path.assign(temp, tempLength);
    return 1;
}
