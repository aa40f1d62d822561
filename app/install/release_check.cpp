#include "app/install/release_check.h"

#include <windows.h>

#include "support/name_compare.h"
#include "support/registry.h"
#include "support/text_format.h"
#include "support/trace.h"
#include "support/unique_handle.h"

namespace {

const wchar_t kSerialValue[] = L"ReleaseSerial";

tarn::ReleaseVerdict Refuse(std::wstring reason)
{
    tarn::ReleaseVerdict verdict;
    verdict.reason = std::move(reason);
    return verdict;
}

bool Listed(const std::vector<std::wstring>& names, const std::wstring& name)
{
    for (const std::wstring& listed : names) {
        if (tarn::EqualsNoCase(listed, name)) {
            return true;
        }
    }
    return false;
}

}  // namespace

namespace tarn {

std::wstring ReleaseSerialKeyPath(const std::wstring& settingsKey)
{
    return L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwerk\\" + settingsKey;
}

uint64_t ReadAcceptedSerial(const std::wstring& keyPath)
{
    const UniqueRegKey key(OpenRegistryPath(keyPath.c_str(), 0, 1, KEY_READ));
    uint64_t serial = 0;
    DWORD type = 0;
    DWORD size = sizeof(serial);
    if (!key || ::RegQueryValueExW(key.Get(), kSerialValue, nullptr, &type, reinterpret_cast<BYTE*>(&serial),
                                   &size) != ERROR_SUCCESS ||
        type != REG_QWORD || size != sizeof(serial)) {
        return 0;
    }
    return serial;
}

bool RecordAcceptedSerial(const std::wstring& keyPath, uint64_t serial)
{
    if (serial <= ReadAcceptedSerial(keyPath)) {
        return true;
    }
    const UniqueRegKey key(OpenRegistryPath(keyPath.c_str(), 1, 1, KEY_READ | KEY_WRITE));
    const LSTATUS status =
        key ? SetRegistryValue(key.Get(), kSerialValue, REG_QWORD, &serial, sizeof(serial)) : ERROR_ACCESS_DENIED;
    if (status != ERROR_SUCCESS) {
        Trace(L"Release: the serial %llu is not recorded at %ls (error %ld)", static_cast<unsigned long long>(serial),
              keyPath.c_str(), static_cast<long>(status));
        return false;
    }
    return true;
}

ReleaseVerdict CheckRelease(const std::string* manifestText, const std::vector<std::string>& keys,
                            const std::wstring& listName, const DownloadListEntries& entries,
                            uint64_t acceptedSerial)
{
    if (manifestText == nullptr) {
        Trace(L"Release: no signed manifest %ls.sig on the server; nothing is installed", listName.c_str());
        return Refuse(L"Die Signatur der Produktdaten fehlt.");
    }
    ReleaseVerdict verdict;
    switch (ReadSignedManifest(*manifestText, keys, verdict.manifest)) {
    case ManifestCheck::Malformed:
        Trace(L"Release: the manifest %ls.sig is malformed; nothing is installed", listName.c_str());
        return Refuse(L"Die Signatur der Produktdaten ist ung\u00fcltig.");
    case ManifestCheck::BadSignature:
        Trace(L"Release: the manifest %ls.sig is signed by no key of this program; nothing is installed",
              listName.c_str());
        return Refuse(L"Die Signatur der Produktdaten ist ung\u00fcltig.");
    default:
        break;
    }
    const ReleaseManifest& manifest = verdict.manifest;
    if (!EqualsNoCase(manifest.product, listName)) {
        Trace(L"Release: the manifest is signed for %ls, not for %ls; nothing is installed",
              manifest.product.c_str(), listName.c_str());
        return Refuse(L"Die Signatur geh\u00f6rt zu einem anderen Produkt.");
    }
    for (const std::wstring& package : entries.packages) {
        if (FindManifestPackage(manifest, package) == nullptr) {
            Trace(L"Release: %ls is listed but not signed; nothing is installed", package.c_str());
            return Refuse(L"Die Downloadliste stimmt nicht mit der signierten Liste \u00fcberein.");
        }
    }
    for (const ManifestPackage& package : manifest.packages) {
        if (!Listed(entries.statusEntries, package.name)) {
            Trace(L"Release: %ls is signed but not listed; nothing is installed", package.name.c_str());
            return Refuse(L"Die Downloadliste stimmt nicht mit der signierten Liste \u00fcberein.");
        }
    }
    if (manifest.serial < acceptedSerial) {
        Trace(L"Release: serial %llu is older than %llu, accepted before on this computer; nothing is installed",
              static_cast<unsigned long long>(manifest.serial), static_cast<unsigned long long>(acceptedSerial));
        return Refuse(L"Die angebotenen Produktdaten sind \u00e4lter als die bereits installierten.");
    }
    verdict.accepted = true;
    return verdict;
}

std::wstring PackageMismatchReason(const std::wstring& name)
{
    return FormatText(L"Das Datenpaket %ls stimmt nicht mit der signierten Liste \u00fcberein.", name.c_str());
}

}  // namespace tarn
