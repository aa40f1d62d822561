#pragma once
// Small functions over the Windows registry: registry paths such as
// "HKEY_LOCAL_MACHINE\Software\Tarnix" split into a root key and a key path,
// keys opened or created in either registry view, values read as text or
// written with the right byte size, subkeys listed, and the table of the
// user's shell folders. Failures are reported by the result (null, 0 or an
// empty text), never shown.

#include <windows.h>

#include <string>
#include <vector>

#include "support/unique_handle.h"

// Splits "ROOT\key\path" at its first backslash. Returns the predefined root
// key for the five root names (any letter case) with the root name and the
// key path (one trailing backslash removed) in the outputs; a path without
// backslash has an empty key path. Any other root name, or an empty path:
// null and both outputs empty.
HKEY SplitRegistryPath(const wchar_t* path, std::wstring& rootName, std::wstring& keyPath);

// Opens (or with `create` nonzero creates, with every missing key along the
// path) a key below `root` with `access`; creating adds KEY_WRITE. `is64`
// nonzero adds KEY_WOW64_64KEY. Null on any failure, with the status as the
// last error; the caller closes the key it gets.
HKEY OpenRegistryKey(HKEY root, const wchar_t* keyPath, int create = 0, int is64 = 0,
                     REGSAM access = KEY_READ);

// SplitRegistryPath followed by OpenRegistryKey. Null on any failure.
HKEY OpenRegistryPath(const wchar_t* path, int create = 0, int is64 = 0, REGSAM access = KEY_READ);

// Closes the held key, if any, and holds the newly opened one (null when the
// open failed). Does nothing at all when the key path is empty.
void ReopenRegistryKey(tarn::UniqueRegKey& held, HKEY root, const wchar_t* keyPath, int create = 0,
                       int is64 = 0, REGSAM access = KEY_READ);
void ReopenRegistryKey(tarn::UniqueRegKey& held, const wchar_t* path, int create = 0, int is64 = 0,
                       REGSAM access = KEY_READ);

// Reads a value as text: REG_SZ as stored, REG_EXPAND_SZ with environment
// variables expanded (as stored when that fails), REG_DWORD as signed
// decimal. An empty or null name reads the unnamed value. 1 on success; 0 with
// an empty text for a null key, a missing value or any other type.
int ReadRegistryText(HKEY key, const wchar_t* valueName, std::wstring& text);

// Opens the key of a registry path for reading and reads one value with
// ReadRegistryText. 1 when the value was read; 0 and an empty text otherwise.
int GetRegistryText(std::wstring& text, const wchar_t* path, const wchar_t* valueName, int is64 = 0);

// Appends the subkey names of a key to `subkeys`. Recursive: appends
// "root\key path\subkey" for each subkey and then, in turn, what the same
// procedure gives for each of them, down to kMaxRegistryDepth levels below
// the key. 1 when this key or a key below had a subkey; 0 when there was none
// or the key cannot be opened.
int ListRegistrySubkeys(const wchar_t* path, std::vector<std::wstring>& subkeys, int recursive = 0,
                        int is64 = 0);

// RegSetValueExW with the size rules of this program: for REG_SZ and
// REG_EXPAND_SZ the size is the text's, terminator included, whatever `size`
// says; for REG_MULTI_SZ `size` counts UTF-16 code units (terminators
// included); for every other type it counts bytes. Returns the status code.
LSTATUS SetRegistryValue(HKEY key, const wchar_t* valueName, DWORD type, const void* data, DWORD size);

// The user's shell folders from the "Shell Folders" key of the current user
// and then of the machine: names sorted without regard to case, paths
// parallel. Names of known folders get the known folder's current path.
// 1 when at least one folder was taken.
int GetShellFolders(std::vector<std::wstring>& names, std::vector<std::wstring>& paths);

// One shell folder by name (any letter case). "AppData" falls back to the
// environment variable AppData and then to the temporary folder. 1 when
// found; 0 and an empty path otherwise (always for an empty name).
int GetShellFolder(const wchar_t* name, std::wstring& path);

namespace tarn {

// Keys nest at most this many levels below a root. A tree that goes deeper
// does so through a symbolic link, which may lead back to a key above it:
// recursive readers stop here.
inline constexpr int kMaxRegistryDepth = 512;

// One registry value: its name, type and data, read whole.
struct RegistryValue {
    std::wstring name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// Reads the value at `index` of an open key, whatever the length of its name
// and data. ERROR_SUCCESS; ERROR_NO_MORE_ITEMS after the last value; any other
// status leaves `value` empty.
LSTATUS EnumRegistryValue(HKEY key, DWORD index, RegistryValue& value);

// Reads one value by name (null or empty: the unnamed value) whole, whatever
// its size. ERROR_SUCCESS, or the platform's status with `data` empty.
LSTATUS QueryRegistryValue(HKEY key, const wchar_t* name, DWORD& type, std::vector<BYTE>& data);

// Appends the names of the subkeys of an open key, in enumeration order.
void EnumRegistrySubkeys(HKEY key, std::vector<std::wstring>& names);

// String data up to its first terminator, or all of it when it has none.
std::wstring RegistryString(const std::vector<BYTE>& data);

}  // namespace tarn
