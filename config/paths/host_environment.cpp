#include "config/paths/host_environment.h"

namespace tarn {

HostEdition GetHostEdition()
{
    return HostEdition::Other;
}

std::wstring_view EditionSuffix(HostEdition edition)
{
    switch (edition) {
    case HostEdition::Flinto:
        return L"FQ";
    case HostEdition::Main:
        return L"GQ";
    default:
        return L"";
    }
}

bool GetRunningHostRelease(HostRelease& release)
{
    release = HostRelease{};
    return false;
}

std::wstring EditionConfigName(std::wstring_view name)
{
    return std::wstring(name);
}

}  // namespace tarn
