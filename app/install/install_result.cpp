#include "app/install/install_result.h"

#include <windows.h>

namespace tarn {

namespace {

struct ReasonRow {
    InstallReason reason;
    const wchar_t* name;
    const wchar_t* text;
};

const ReasonRow kReasons[] = {
    {InstallReason::None, L"none", L""},
    {InstallReason::NoConnection, L"no-connection", L"Grund: Keine Verbindung zum Server."},
    {InstallReason::ProxyLogin, L"proxy-login", L"Grund: Der Proxy-Server verlangt eine Anmeldung."},
    {InstallReason::DamagedPackage, L"damaged-package", L"Grund: Ein Datenpaket ist auf dem Server besch\u00e4digt."},
    {InstallReason::DamagedList, L"damaged-list", L"Grund: Die Download-Liste auf dem Server ist besch\u00e4digt."},
    {InstallReason::ReleaseRefused, L"release-refused",
     L"Grund: Die Produktdaten stimmen nicht mit ihrer Signatur \u00fcberein."},
    {InstallReason::DiskFull, L"disk-full", L"Grund: Der Datentr\u00e4ger ist voll."},
    {InstallReason::FolderNotCreated, L"folder-not-created",
     L"Grund: Der Installationsordner kann nicht angelegt werden."},
    {InstallReason::NoSetup, L"no-setup", L"Grund: Die Datenpakete enthalten kein Setup."},
    {InstallReason::SetupNotStarted, L"setup-not-started", L"Grund: Das Setup kann nicht gestartet werden."},
    {InstallReason::Unexpected, L"unexpected", L"Grund: Ein unerwarteter Fehler ist aufgetreten."},
};

const ReasonRow& RowOf(InstallReason reason)
{
    for (const ReasonRow& row : kReasons) {
        if (row.reason == reason) {
            return row;
        }
    }
    return kReasons[0];
}

}  // namespace

std::wstring InstallReasonText(InstallReason reason)
{
    return RowOf(reason).text;
}

const wchar_t* InstallReasonName(InstallReason reason)
{
    return RowOf(reason).name;
}

int InstallExitCode(const InstallResult& result)
{
    if (result.outcome == InstallOutcome::SetupRunning) {
        return kExitAlreadyRunning;
    }
    return result.SetupStarted() ? kExitSetupStarted : kExitIncomplete;
}

}  // namespace tarn
