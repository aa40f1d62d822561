#pragma once
// What this program knows of the host CAD installation: the edition it runs
// in and the host release that is running. This is the least the path
// variables and folder functions need: no release is reported and the edition
// is neither of the two product editions. A fuller discovery of installed
// releases replaces the bodies, not the interface.

#include <string>
#include <string_view>

namespace tarn {

enum class HostEdition {
    Other,   // neither product edition
    Flinto,  // the Flinto edition (value-name suffix "FQ")
    Main,    // the main edition (value-name suffix "GQ")
};

// The edition of the running program.
HostEdition GetHostEdition();

// The suffix of edition-specific registry value names: "FQ", "GQ" or empty.
std::wstring_view EditionSuffix(HostEdition edition);

// The running host release: its registry key below the user and machine
// roots, and the full path of its executable.
struct HostRelease {
    std::wstring registryKey;
    std::wstring executablePath;
};

// True and the release when a host release is running; false otherwise.
bool GetRunningHostRelease(HostRelease& release);

// The edition-specific variant of a configuration environment variable or
// value name ("TarnGridwell_2023_CFG_L", "Config", ...); the name itself
// outside the product editions.
std::wstring EditionConfigName(std::wstring_view name);

}  // namespace tarn
