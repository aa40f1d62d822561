#pragma once
// Where a release lives on the server, as the installer reads it and the
// packing modes publish it: the download list, the data packages and the
// updater cabinet below "<base URL>/Downloads/", the update tables below
// "<base URL>/Updates/".

#include <string>
#include <string_view>

namespace tarn {

// The updater cabinet of this release, published beside the packages and
// kept in a ready product's folder.
inline constexpr wchar_t kUpdaterCabinetName[] = L"SetupUpdater_2023.cab";

// "<base URL>/Downloads/<name>"; with an empty name the prefix of every
// package URL.
inline std::wstring DownloadsUrl(std::wstring_view baseUrl, std::wstring_view name)
{
    return std::wstring(baseUrl) + L"/Downloads/" + std::wstring(name);
}

// "<base URL>/Updates/<name>".
inline std::wstring UpdatesUrl(std::wstring_view baseUrl, std::wstring_view name)
{
    return std::wstring(baseUrl) + L"/Updates/" + std::wstring(name);
}

// "SetupUpdater_" with the base URL's last four characters (its release
// year) and ".cab".
inline std::wstring UpdaterCabinetName(std::wstring_view baseUrl)
{
    const std::wstring_view year = baseUrl.substr(baseUrl.size() >= 4 ? baseUrl.size() - 4 : 0);
    return L"SetupUpdater_" + std::wstring(year) + L".cab";
}

}  // namespace tarn
