#include "app/install/host_presence.h"

#include <windows.h>

#include <string>

#include "config/paths/path_variables.h"
#include "support/registry.h"
#include "support/unique_handle.h"

namespace {

bool HasFolderValue(HKEY key)
{
    for (const wchar_t* name : {L"Location", L"AllUsersRootFolder"}) {
        std::wstring folder;
        if (ReadRegistryText(key, name, folder) && !folder.empty()) {
            return true;
        }
    }
    return false;
}

class RegistryHost : public tarn::HostPresence {
public:
    bool IsHostPresent() const override
    {
        // The same version key the path variables read the host's folders from.
        const std::wstring versionKey = tarn::PathVariableSources{}.hostCadVersionKey;
        tarn::UniqueRegKey key(OpenRegistryKey(HKEY_LOCAL_MACHINE, versionKey.c_str(), 0, 1));
        if (!key) {
            return false;
        }
        std::wstring current;
        if (ReadRegistryText(key.Get(), L"CurVer", current) && !current.empty()) {
            const std::wstring subkey = versionKey + L"\\" + current;
            tarn::UniqueRegKey release(OpenRegistryKey(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, 1));
            if (release && HasFolderValue(release.Get())) {
                return true;
            }
        }
        return HasFolderValue(key.Get());
    }
};

}  // namespace

namespace tarn {

const HostPresence& InstalledHost()
{
    static const RegistryHost host;
    return host;
}

}  // namespace tarn
