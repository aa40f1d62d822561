#pragma once
// Path variables: "%Temp%\x", "%Desktop%\Tarnix_Software.txt" and the folder
// values of the folder file "Ordner.ini". A reference is the text from a '%'
// to the next '%' (a lone '%' is plain text, "%%" names nothing); names are
// compared without regard to case. The process-wide table is built once, on
// first use, from the environment, the known folders, the products' and the
// host CAD application's registry keys; later changes are not seen.

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "config/paths/host_environment.h"

// Expands the variables of `text` into `expandedPath` and gives its variable
// form in `variableForm`, with the process-wide table. `mode` is 0 (no other
// mode exists). 1 after expanding; 0 with both outputs empty for an empty or
// null text, or one beyond the supported length.
int ExpandPathVariables(std::wstring& variableForm, std::wstring& expandedPath, const wchar_t* text, int mode = 0);

// Converts a value of the folder file: to its expanded form for reading, or
// with `toVariableForm` nonzero to its variable form for writing. A value
// holding ';' is a list, converted element by element when it is longer than
// 5 characters and starts with "\\", a drive and ":\", or '%', and left as it
// is otherwise. Returns 1 when the value was converted, 0 when left alone.
int ExpandValue(std::wstring& value, int toVariableForm = 0);

namespace tarn {

// Longest text the expansion works on, and longest result it gives.
inline constexpr size_t kMaxExpandedPath = 65535;

// Names with their percent signs ("%TEMP%"), sorted as names are, with their
// values. The first value given for a name wins.
class PathVariableTable {
public:
    // Adds a variable unless the name is already present; `name` includes the
    // percent signs. True when added.
    bool Add(std::wstring_view name, std::wstring_view value);
    // The value of a name (percent signs included), or null.
    const std::wstring* Find(std::wstring_view name) const;
    const std::vector<std::wstring>& Names() const { return names_; }
    const std::vector<std::wstring>& Values() const { return values_; }

    // The sources, in the order the process-wide table uses them. Values from
    // the environment and the registry lose one trailing backslash.
    // An environment block as GetEnvironmentStringsW gives it ("a=b\0c=d\0\0").
    void AddEnvironment(const wchar_t* block);
    // "%Common Appdata%" and "%CommonFilesDirX86%" from the environment's names.
    void AddDerivedNames();
    // Every known folder under its name, where `lookup` gives a path.
    void AddKnownFolders(const std::function<std::wstring(const GUID&)>& lookup);
    // "%TarnGridwell_2023%" and "%TarnGridwell_HELP%" from the main product's
    // key (a registry path).
    void AddMainProduct(const std::wstring& productKey);
    // "%TarnGridwell_2023_U%".
    void AddUserDataFolder(const std::wstring& folder);
    // "%AutoCAD_<value>%" from the host's version key (below both roots, the
    // user's "CurVer" value naming the current subkey).
    void AddHostCadFolders(const std::wstring& versionKey);
    // "%TarnCorvin_2023%" and "%TarnCorvin_2023_U%" from the second product's key.
    void AddSecondProduct(const std::wstring& productKey);
    // Keeps only folders: names longer than 3 characters without braces and
    // other than the logon, home and system-drive names, values longer than 3
    // characters holding a backslash.
    void KeepFoldersOnly();
    // The running host release's folders (not filtered).
    void AddHostRelease(const HostRelease& release);
    // Replaces the references inside every value once, by the values as they
    // were before this step.
    void ExpandReferences();

    // Replaces each reference by its value (unknown ones vanish), without
    // scanning inserted values again. False and an empty result when the text
    // or the result is longer than kMaxExpandedPath.
    bool Expand(std::wstring_view text, std::wstring& expanded) const;
    // The variable form of an expanded path: the longest value that starts the
    // path (letter case ignored; after a leading '"' when there is one)
    // replaced by its name. Of equal lengths the name that sorts first wins.
    // The test is textual: "C:\Folder2" starts with the value "C:\Folder".
    std::wstring VariableForm(std::wstring_view expanded) const;

private:
    std::vector<std::wstring> names_;
    std::vector<std::wstring> values_;
};

// Where the process-wide table comes from; tests point the registry sources
// at keys of their own and replace the rest.
struct PathVariableSources {
    const wchar_t* environment = nullptr;  // null: the process environment
    std::function<std::wstring(const GUID&)> knownFolder;  // empty: the shell's known folders
    std::wstring mainProductKey = L"HKEY_LOCAL_MACHINE\\Software\\Tarnix\\Tarn Gridwell 2023";
    std::function<std::wstring()> userDataFolder;  // empty: GetUserAppDataDir(2023)
    std::wstring hostCadVersionKey = L"Software\\Autodesk\\AutoCAD\\R24.2";
    std::wstring secondProductKey = L"HKEY_LOCAL_MACHINE\\Software\\Tarnix\\Tarn Corvin 2023";
    std::function<bool(HostRelease&)> hostRelease;  // empty: GetRunningHostRelease
};

// A table built from the sources, in their fixed order.
PathVariableTable BuildPathVariables(const PathVariableSources& sources);

// The process-wide table, built with the default sources on first use.
const PathVariableTable& GetPathVariables();

}  // namespace tarn
