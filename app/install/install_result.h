#pragma once
// How a run of the download-and-install sequence ended, as the sequence
// returns it: start-up turns it into the exit code, the warning box into its
// reason line. The package loop and the package sources report the cause of
// a failure here; nobody reads causes out of the log.

#include <string>

#include "support/file_queries.h"

namespace tarn {

enum class InstallOutcome {
    SetupStarted,      // the product's setup was started
    NotReady,          // the server product list marks the product as not ready (refused)
    NoProduct,         // the generic profile: no product to install
    SetupRunning,      // the setup an earlier run started still runs; it is not started again
    Incomplete,        // the install ended incomplete; `reason` tells why
};

// Why an install ended incomplete. The sources of packages and the steps of
// the sequence set the first one they meet; later ones do not replace it.
enum class InstallReason {
    None,
    NoConnection,      // the server could not be reached (or answered with errors)
    ProxyLogin,        // the proxy wants a login
    DamagedPackage,    // a package stayed damaged on the server
    DamagedList,       // the download list on the server is not to be trusted
    ReleaseRefused,    // the release's signature, manifest or a package does not pass
    DiskFull,          // a write failed for lack of space
    FolderNotCreated,  // the installation data folder could not be created or secured
    NoSetup,           // the unpacked packages hold no "Setup.exe"
    SetupNotStarted,   // "Setup.exe" is there but could not be started
    Unexpected,        // an unexpected error ended the sequence
};

struct InstallResult {
    InstallOutcome outcome = InstallOutcome::Incomplete;
    InstallReason reason = InstallReason::None;

    static InstallResult Started() { return {InstallOutcome::SetupStarted, InstallReason::None}; }
    static InstallResult Failed(InstallReason why) { return {InstallOutcome::Incomplete, why}; }
    bool SetupStarted() const { return outcome == InstallOutcome::SetupStarted; }
};

// The reason as one line for the user ("Grund: ..."); empty for None.
std::wstring InstallReasonText(InstallReason reason);

// A short name for the log ("no-connection", ...).
const wchar_t* InstallReasonName(InstallReason reason);

// The exit codes the default mode ends with, as deployment tools read them.
inline constexpr int kExitSetupStarted = 0;
inline constexpr int kExitCancelled = 1602;
inline constexpr int kExitIncomplete = 1603;
inline constexpr int kExitAlreadyRunning = 1618;

// 0 for a started setup, 1618 for a setup that still runs from an earlier
// start, 1603 for every other end (the generic profile included: nothing was
// installed).
int InstallExitCode(const InstallResult& result);

}  // namespace tarn
