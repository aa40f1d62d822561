#pragma once
// Whether the host CAD application's 2023 release is installed. The
// installer skips the host's own update download when it is, and for the
// Gridwell products then handles only the first data package.

namespace tarn {

// The test the installer asks; tests hand in one of their own.
class HostPresence {
public:
    virtual ~HostPresence() = default;
    virtual bool IsHostPresent() const = 0;
};

// The installed release as its registry keys tell: below the machine root,
// the host's version key (its "CurVer" value naming the current subkey when
// there is one) holds a non-empty "Location" or "AllUsersRootFolder".
const HostPresence& InstalledHost();

}  // namespace tarn
