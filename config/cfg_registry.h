#pragma once
// Where the settings store meets its registry and drawing back-ends.
//
// A store whose name is a registry path keeps its content in a registry key
// tree instead of a file. The store decides file or registry by the name
// alone (IsRegistryPath) and calls four private members of CCfgReader, all
// defined in config/cfg_registry.cpp:
//   LoadFromRegistry()    from Load, for a registry path. Appends the key
//                         tree's lines (headers and entries, settings-file
//                         syntax) to the empty m_Data, may record value types
//                         with SetValueType, and returns 1 when the key could
//                         be opened. Load then sets m_IsInit, m_IsRegistry
//                         (1, or 0x101 with the 64-bit view flag), m_Original
//                         and the indexes. 0: Load gives an initialised,
//                         empty store, as for a missing file, and reads no
//                         file of that name.
//   SaveToRegistry()      from Save, for a registry path, once the text is
//                         known to differ (or the save is forced). Writes the
//                         sections (GetSection without central, GetValueType)
//                         to the key; 1 when at least one section was written.
//                         Save then takes the text as saved; m_HasChanged is
//                         left as it is.
//   ConvertRegeditText()  from Load, for a file text starting with "REGEDIT4"
//                         (any letter case): returns the settings-file text to
//                         parse instead.
//   WriteToDrawing()      from Save before writing, when m_IsSavedInDrawing is
//                         1: hands the text to the host application; its
//                         result is not used, the file is written in any case.

#include <string_view>

namespace tarn {

// True when `name` starts, in any letter case, with "HKEY_CURRENT_USER\",
// "HKEY_CLASSES_ROOT\", "HKEY_LOCAL_MACHINE\", "HKEY_USERS\" or
// "HKEY_CURRENT_CONFIG\". Any other name, "HKEY_..." included, is a file name.
bool IsRegistryPath(std::wstring_view name);

}  // namespace tarn
