#include "support/registry.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "support/environment.h"
#include "support/known_folders.h"
#include "support/name_compare.h"
#include "support/text_format.h"

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
// Value names are at most 16,383 characters.
constexpr DWORD kValueNameChars = 16384;

bool IsEmpty(const wchar_t* text)
{
    return text == nullptr || text[0] == L'\0';
}

// String data as the registry holds it: up to the first terminator, or the
// whole data when it has none.
std::wstring TextFromData(const std::vector<BYTE>& data, DWORD size)
{
    const size_t units = size / sizeof(wchar_t);
    const auto* text = reinterpret_cast<const wchar_t*>(data.data());
    size_t length = 0;
    while (length < units && text[length] != L'\0') {
        ++length;
    }
    return std::wstring(text, length);
}

// Reads one value whole, whatever its size: the buffer is sized from what
// RegQueryValueExW reports and grown while the value keeps growing.
bool QueryValue(HKEY key, const wchar_t* name, DWORD& type, std::vector<BYTE>& data, DWORD& size)
{
    size = 0;
    LSTATUS status = ::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
            return false;
        }
        // Room for a terminator the stored data may lack.
        data.assign(static_cast<size_t>(size) + 2 * sizeof(wchar_t), 0);
        DWORD offered = size;
        status = ::RegQueryValueExW(key, name, nullptr, &type, data.data(), &offered);
        if (status == ERROR_SUCCESS) {
            size = offered;
            return true;
        }
        size = offered > size ? offered : size * 2 + 64;
    }
    return false;
}

// One root's "Shell Folders" values merged into the sorted name table.
void AddShellFolders(HKEY root, std::vector<std::wstring>& names, std::vector<std::wstring>& paths)
{
    tarn::UniqueRegKey key(OpenRegistryKey(root, kShellFoldersKey));
    if (!key) {
        return;
    }
    std::vector<wchar_t> name(kKeyNameChars);
    std::vector<BYTE> data(16384);
    int retries = 0;
    for (DWORD index = 0;;) {
        DWORD nameChars = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size() - sizeof(wchar_t));
        DWORD type = 0;
        const LSTATUS status =
            ::RegEnumValueW(key.Get(), index, name.data(), &nameChars, nullptr, &type, data.data(), &dataSize);
        if (status == ERROR_MORE_DATA) {
            // A name or data beyond the buffers: read the same index again with
            // room for both, and skip the value if that does not help.
            if (++retries <= 3) {
                name.resize(kValueNameChars);
                data.resize(std::max<size_t>(data.size() * 2, size_t{dataSize} + sizeof(wchar_t)));
            } else {
                retries = 0;
                ++index;
            }
            continue;
        }
        if (status != ERROR_SUCCESS) {
            break;
        }
        retries = 0;
        ++index;
        if (nameChars <= 1 || dataSize <= 2 || name[0] == L'{' || name[0] == L'!') {
            continue;
        }
        if (type != REG_SZ && type != REG_EXPAND_SZ) {
            continue;
        }
        const std::wstring valueName(name.data(), nameChars);
        std::wstring folder;
        if (const tarn::KnownFolder* known = tarn::FindKnownFolder(valueName)) {
            folder = tarn::GetKnownFolderPath(*known->id);
        }
        if (folder.empty()) {
            folder = TextFromData(data, dataSize);
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

HKEY SplitRegistryPath(const wchar_t* path, std::wstring& rootName, std::wstring& keyPath)
{
    rootName.clear();
    keyPath.clear();
    if (IsEmpty(path)) {
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
    return status == ERROR_SUCCESS ? key : nullptr;
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
    if (IsEmpty(keyPath)) {
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
    DWORD size = 0;
    std::vector<BYTE> data;
    if (!QueryValue(key, IsEmpty(valueName) ? nullptr : valueName, type, data, size)) {
        return 0;
    }
    switch (type) {
    case REG_SZ:
        text = TextFromData(data, size);
        return 1;
    case REG_EXPAND_SZ: {
        text = TextFromData(data, size);
        std::wstring expanded;
        if (tarn::ExpandEnvironmentText(text, expanded)) {
            text = std::move(expanded);
        }
        return 1;
    }
    case REG_DWORD: {
        if (size < sizeof(DWORD)) {
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
    if (IsEmpty(path)) {
        return 0;
    }
    tarn::UniqueRegKey key(OpenRegistryPath(path, 0, is64));
    return ReadRegistryText(key.Get(), valueName, text);
}

int ListRegistrySubkeys(const wchar_t* path, std::vector<std::wstring>& subkeys, int recursive, int is64)
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
        std::vector<wchar_t> name(kKeyNameChars);
        std::vector<wchar_t> keyClass(kKeyNameChars);
        for (DWORD index = 0;; ++index) {
            DWORD nameChars = kKeyNameChars;
            DWORD classChars = kKeyNameChars;
            if (::RegEnumKeyExW(key.Get(), index, name.data(), &nameChars, nullptr, keyClass.data(),
                                &classChars, nullptr) != ERROR_SUCCESS) {
                break;
            }
            std::wstring subkey(name.data(), nameChars);
            if (recursive) {
                subkey = rootName + L"\\" + (keyPath.empty() ? std::wstring() : keyPath + L"\\") + subkey;
            }
            subkeys.push_back(std::move(subkey));
        }
    }
    const size_t added = subkeys.size();
    if (recursive) {
        for (size_t i = first; i < added; ++i) {
            const std::wstring child = subkeys[i];
            ListRegistrySubkeys(child.c_str(), subkeys, 1, is64);
        }
    }
    return added > first ? 1 : 0;
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
    if (IsEmpty(name)) {
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
