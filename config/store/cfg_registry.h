#pragma once
// Where the settings store meets its registry back-end: the test that tells a
// registry path from a file name. The back-end members themselves are private
// members of CCfgReader (config/store/cfg_reader.h).

#include <string_view>

namespace tarn {

// True when `name` starts, in any letter case, with "HKEY_CURRENT_USER\",
// "HKEY_CLASSES_ROOT\", "HKEY_LOCAL_MACHINE\", "HKEY_USERS\" or
// "HKEY_CURRENT_CONFIG\". Any other name, "HKEY_..." included, is a file name.
bool IsRegistryPath(std::wstring_view name);

}  // namespace tarn
