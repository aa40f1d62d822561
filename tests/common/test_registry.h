#pragma once
// Registry sandboxes for tests: a key of the test's own, created on
// construction and removed with everything below it on destruction, and a
// guard that puts one existing value back as it was.

#include <windows.h>

#include <string>
#include <vector>

namespace tarn::test {

class RegistrySandbox {
public:
    // A fresh key "Software\TarnTests\<pid>_<n>" below `root` (the 64-bit
    // view when `is64`).
    explicit RegistrySandbox(HKEY root = HKEY_CURRENT_USER, bool is64 = false);
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    bool Valid() const { return key_ != nullptr; }
    HKEY Key() const { return key_; }
    HKEY Root() const { return root_; }
    // The key path below the root, and the full registry path "HKEY_...\...".
    const std::wstring& KeyPath() const { return keyPath_; }
    std::wstring Path() const;

    // Writes a value below the sandbox (`subkey` relative, empty for the
    // sandbox key itself); creates the subkey. False on failure.
    bool Set(const std::wstring& subkey, const wchar_t* name, DWORD type, const void* data, DWORD bytes) const;
    bool SetText(const std::wstring& subkey, const wchar_t* name, const std::wstring& text,
                 DWORD type = REG_SZ) const;
    bool SetDword(const std::wstring& subkey, const wchar_t* name, DWORD value) const;
    bool CreateSubkey(const std::wstring& subkey) const;

    // A value read back raw: false when missing.
    bool Get(const std::wstring& subkey, const wchar_t* name, DWORD& type, std::vector<BYTE>& data) const;

private:
    HKEY root_;
    REGSAM view_;
    std::wstring keyPath_;
    HKEY key_ = nullptr;
};

// A symbolic link `name` below `parent` that leads to `target` (the parent
// itself makes a loop). Removed as a link when destroyed, so declare it after
// the sandbox it lives in: removing the sandbox first would follow it.
class RegistryLink {
public:
    RegistryLink(HKEY parent, const std::wstring& name, HKEY target);
    ~RegistryLink();
    RegistryLink(const RegistryLink&) = delete;
    RegistryLink& operator=(const RegistryLink&) = delete;

    bool Valid() const { return created_; }

private:
    HKEY parent_;
    std::wstring name_;
    bool created_ = false;
};

// Holds one value of a key and restores it (or its absence) when destroyed;
// keys it had to create are removed again when they are empty by then.
class SavedRegistryValue {
public:
    SavedRegistryValue(HKEY root, const std::wstring& keyPath, const wchar_t* name);
    ~SavedRegistryValue();
    SavedRegistryValue(const SavedRegistryValue&) = delete;
    SavedRegistryValue& operator=(const SavedRegistryValue&) = delete;

    bool SetText(const std::wstring& text, DWORD type = REG_SZ) const;
    bool Remove() const;

private:
    HKEY root_;
    std::wstring createdFrom_;  // the first key of the path that did not exist
    std::wstring keyPath_;
    HKEY key_ = nullptr;
    std::wstring name_;
    bool existed_ = false;
    DWORD type_ = 0;
    std::vector<BYTE> data_;
};

// Sets or removes (null value) an environment variable and restores it when
// destroyed.
class SavedEnvironmentVariable {
public:
    SavedEnvironmentVariable(const wchar_t* name, const wchar_t* value);
    ~SavedEnvironmentVariable();
    SavedEnvironmentVariable(const SavedEnvironmentVariable&) = delete;
    SavedEnvironmentVariable& operator=(const SavedEnvironmentVariable&) = delete;

private:
    std::wstring name_;
    bool existed_ = false;
    std::wstring value_;
};

}  // namespace tarn::test
