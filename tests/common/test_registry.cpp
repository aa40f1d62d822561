#include "common/test_registry.h"

#include <cstring>

namespace tarn::test {

namespace {

const wchar_t* RootName(HKEY root)
{
    if (root == HKEY_CURRENT_USER) {
        return L"HKEY_CURRENT_USER";
    }
    if (root == HKEY_LOCAL_MACHINE) {
        return L"HKEY_LOCAL_MACHINE";
    }
    if (root == HKEY_USERS) {
        return L"HKEY_USERS";
    }
    if (root == HKEY_CLASSES_ROOT) {
        return L"HKEY_CLASSES_ROOT";
    }
    return L"HKEY_CURRENT_CONFIG";
}

}  // namespace

RegistrySandbox::RegistrySandbox(HKEY root, bool is64) : root_(root), view_(is64 ? KEY_WOW64_64KEY : 0)
{
    static LONG counter = 0;
    for (int attempt = 0; attempt < 100 && key_ == nullptr; ++attempt) {
        const std::wstring candidate = L"Software\\TarnTests\\" + std::to_wstring(::GetCurrentProcessId()) +
                                       L"_" + std::to_wstring(::InterlockedIncrement(&counter));
        DWORD disposition = 0;
        HKEY key = nullptr;
        if (::RegCreateKeyExW(root_, candidate.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_, nullptr, &key,
                              &disposition) != ERROR_SUCCESS) {
            return;
        }
        if (disposition == REG_CREATED_NEW_KEY) {
            key_ = key;
            keyPath_ = candidate;
        } else {
            ::RegCloseKey(key);
        }
    }
}

RegistrySandbox::~RegistrySandbox()
{
    if (key_ == nullptr) {
        return;
    }
    ::RegCloseKey(key_);
    HKEY parent = nullptr;
    if (::RegOpenKeyExW(root_, L"Software\\TarnTests", 0, KEY_ALL_ACCESS | view_, &parent) == ERROR_SUCCESS) {
        const std::wstring leaf = keyPath_.substr(keyPath_.find_last_of(L'\\') + 1);
        ::RegDeleteTreeW(parent, leaf.c_str());
        ::RegDeleteKeyExW(parent, leaf.c_str(), view_, 0);
        ::RegCloseKey(parent);
    }
}

std::wstring RegistrySandbox::Path() const
{
    return std::wstring(RootName(root_)) + L"\\" + keyPath_;
}

bool RegistrySandbox::CreateSubkey(const std::wstring& subkey) const
{
    HKEY key = nullptr;
    if (::RegCreateKeyExW(key_, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_, nullptr, &key,
                          nullptr) != ERROR_SUCCESS) {
        return false;
    }
    ::RegCloseKey(key);
    return true;
}

bool RegistrySandbox::Set(const std::wstring& subkey, const wchar_t* name, DWORD type, const void* data,
                          DWORD bytes) const
{
    HKEY key = nullptr;
    if (::RegCreateKeyExW(key_, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_, nullptr, &key,
                          nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const bool ok =
        ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes) == ERROR_SUCCESS;
    ::RegCloseKey(key);
    return ok;
}

bool RegistrySandbox::SetText(const std::wstring& subkey, const wchar_t* name, const std::wstring& text,
                              DWORD type) const
{
    return Set(subkey, name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

bool RegistrySandbox::SetDword(const std::wstring& subkey, const wchar_t* name, DWORD value) const
{
    return Set(subkey, name, REG_DWORD, &value, sizeof(value));
}

bool RegistrySandbox::Get(const std::wstring& subkey, const wchar_t* name, DWORD& type,
                          std::vector<BYTE>& data) const
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(key_, subkey.c_str(), 0, KEY_READ | view_, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD size = 0;
    LSTATUS status = ::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        data.assign(size, 0);
        status = ::RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
        data.resize(size);
    }
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

namespace {

using NtQueryKeyFunction = LONG(WINAPI*)(HANDLE key, int informationClass, void* information, ULONG length,
                                         ULONG* resultLength);
using NtDeleteKeyFunction = LONG(WINAPI*)(HANDLE key);

template <class Function>
Function NtFunction(const char* name)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), name)));
}

// The native name of an open key ("\REGISTRY\User\...").
std::wstring NativeKeyName(HKEY key)
{
    constexpr int kKeyNameInformation = 3;
    auto query = NtFunction<NtQueryKeyFunction>("NtQueryKey");
    std::vector<BYTE> information(4096);
    ULONG length = 0;
    if (query == nullptr ||
        query(key, kKeyNameInformation, information.data(), static_cast<ULONG>(information.size()), &length) != 0) {
        return std::wstring();
    }
    ULONG bytes = 0;
    memcpy(&bytes, information.data(), sizeof(bytes));
    return std::wstring(reinterpret_cast<const wchar_t*>(information.data() + sizeof(ULONG)), bytes / sizeof(wchar_t));
}

}  // namespace

RegistryLink::RegistryLink(HKEY parent, const std::wstring& name, HKEY target) : parent_(parent), name_(name)
{
    const std::wstring targetName = NativeKeyName(target);
    if (targetName.empty()) {
        return;
    }
    HKEY link = nullptr;
    if (::RegCreateKeyExW(parent, name.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_CREATE_LINK,
                          nullptr, &link, nullptr) != ERROR_SUCCESS) {
        return;
    }
    created_ = true;
    ::RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(targetName.data()),
                     static_cast<DWORD>(targetName.size() * sizeof(wchar_t)));
    ::RegCloseKey(link);
}

RegistryLink::~RegistryLink()
{
    if (!created_) {
        return;
    }
    HKEY link = nullptr;
    if (::RegOpenKeyExW(parent_, name_.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, &link) == ERROR_SUCCESS) {
        if (auto remove = NtFunction<NtDeleteKeyFunction>("NtDeleteKey")) {
            remove(link);
        }
        ::RegCloseKey(link);
    }
}

SavedRegistryValue::SavedRegistryValue(HKEY root, const std::wstring& keyPath, const wchar_t* name)
    : root_(root), keyPath_(keyPath), name_(name ? name : L"")
{
    for (size_t end = 0; end != std::wstring::npos;) {
        end = keyPath.find(L'\\', end + 1);
        const std::wstring level = keyPath.substr(0, end);
        HKEY probe = nullptr;
        if (::RegOpenKeyExW(root, level.c_str(), 0, KEY_READ, &probe) != ERROR_SUCCESS) {
            createdFrom_ = level;
            break;
        }
        ::RegCloseKey(probe);
    }
    if (::RegCreateKeyExW(root, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr) !=
        ERROR_SUCCESS) {
        key_ = nullptr;
        return;
    }
    DWORD size = 0;
    if (::RegQueryValueExW(key_, name_.c_str(), nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
        data_.assign(size, 0);
        existed_ = ::RegQueryValueExW(key_, name_.c_str(), nullptr, &type_, data_.data(), &size) == ERROR_SUCCESS;
        data_.resize(size);
    }
}

SavedRegistryValue::~SavedRegistryValue()
{
    if (key_ == nullptr) {
        return;
    }
    if (existed_) {
        ::RegSetValueExW(key_, name_.c_str(), 0, type_, data_.data(), static_cast<DWORD>(data_.size()));
    } else {
        ::RegDeleteValueW(key_, name_.c_str());
    }
    ::RegCloseKey(key_);
    // Removes the created levels deepest first; a level that holds anything stays.
    for (std::wstring level = keyPath_; !createdFrom_.empty() && level.size() >= createdFrom_.size();) {
        HKEY probe = nullptr;
        DWORD values = 1;
        if (::RegOpenKeyExW(root_, level.c_str(), 0, KEY_READ, &probe) == ERROR_SUCCESS) {
            ::RegQueryInfoKeyW(probe, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                               nullptr, nullptr, nullptr);
            ::RegCloseKey(probe);
        }
        if (values != 0 || ::RegDeleteKeyW(root_, level.c_str()) != ERROR_SUCCESS) {
            break;
        }
        const size_t slash = level.find_last_of(L'\\');
        if (slash == std::wstring::npos) {
            break;
        }
        level.resize(slash);
    }
}

bool SavedRegistryValue::SetText(const std::wstring& text, DWORD type) const
{
    return key_ != nullptr &&
           ::RegSetValueExW(key_, name_.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool SavedRegistryValue::Remove() const
{
    if (key_ == nullptr) {
        return false;
    }
    const LSTATUS status = ::RegDeleteValueW(key_, name_.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

SavedEnvironmentVariable::SavedEnvironmentVariable(const wchar_t* name, const wchar_t* value) : name_(name)
{
    wchar_t buffer[32767];
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, 32767);
    existed_ = length > 0 || ::GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    value_.assign(buffer, length < 32767 ? length : 0);
    ::SetEnvironmentVariableW(name, value);
}

SavedEnvironmentVariable::~SavedEnvironmentVariable()
{
    ::SetEnvironmentVariableW(name_.c_str(), existed_ ? value_.c_str() : nullptr);
}

}  // namespace tarn::test
