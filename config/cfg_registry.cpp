// The settings store's registry and drawing back-ends (see cfg_registry.h).
// The registry back-end completes LoadFromRegistry, SaveToRegistry,
// ConvertRegeditText and WriteToDrawing here; until then a registry store
// behaves like a missing file on load, saving it reports 0 (the change stays
// pending), export texts are parsed as they are and nothing reaches a drawing.

#include "config/cfg_registry.h"

#include "config/cfg_reader.h"
#include "support/name_compare.h"

namespace tarn {

bool IsRegistryPath(std::wstring_view name)
{
    static constexpr std::wstring_view kRoots[] = {
        L"HKEY_CURRENT_USER\\", L"HKEY_CLASSES_ROOT\\", L"HKEY_LOCAL_MACHINE\\",
        L"HKEY_USERS\\",        L"HKEY_CURRENT_CONFIG\\",
    };
    for (const std::wstring_view root : kRoots) {
        if (StartsWithNoCase(name, root)) {
            return true;
        }
    }
    return false;
}

}  // namespace tarn

int CCfgReader::LoadFromRegistry()
{
    return 0;
}

int CCfgReader::SaveToRegistry()
{
    return 0;
}

std::wstring CCfgReader::ConvertRegeditText(std::wstring_view text)
{
    return std::wstring(text);
}

int CCfgReader::WriteToDrawing()
{
    return 0;
}
