#pragma once
// How the download list and the data packages reach the temporary folder,
// and how a copy already there is checked against the server. The sequence
// asks this interface only; tests hand in a source of their own.

#include <windows.h>

#include <string>

#include "app/install/install_result.h"
#include "transfer/http_download.h"

namespace tarn {

// What fetching a data package came to.
enum class PackageFetch {
    Fetched,  // verified against its record and in the temporary folder
    Failed,   // not this time; another try may succeed
    GivenUp,  // not in this run: its whole body failed its record too often
    Mismatch, // the package or its record differs from the signed manifest; no file left
    DiskFull, // the temporary folder's volume is full: no later try of this run can help
};

class PackageSource {
public:
    virtual ~PackageSource() = default;

    // Fetches `url` (the download list) into the temporary folder under its
    // own name. True only when the fetch reported success and the file is
    // there; `localPath` then names it (it may be set on failure too).
    virtual bool Fetch(const std::wstring& url, std::wstring& localPath, HWND progressBar) = 0;

    // After a Fetch that returned false: why, as far as the source can tell
    // (a lost connection, a proxy that wants a login, a package that stays
    // damaged on the server, a full disk). The sequence shows it in its
    // warning and ends with it.
    virtual InstallReason LastFailure() const { return InstallReason::NoConnection; }

    // Fetches the data package `url` like Fetch; it is stored only when it
    // verifies against its record, which every package needs. With `pinned`
    // (a signed manifest's size and SHA-256, see PinToManifest) it must
    // match that too.
    virtual PackageFetch FetchPackage(const std::wstring& url, std::wstring& localPath, HWND progressBar,
                                      const ExpectedFile* pinned) = 0;

    // True when the file at `localPath` is the one the server's current
    // record for `url` describes (size and checksum). A missing file, a
    // missing record or any difference gives false.
    virtual bool IsCurrentCopy(const std::wstring& url, const std::wstring& localPath) = 0;
};

// True when the file at `path` has the size and SHA-256 that `pinned` gives.
bool MatchesPinnedFile(const std::wstring& path, const ExpectedFile& pinned);

// For a source that cannot check a package while it is written: Fetched
// when the file matches `pinned`; else Mismatch, traced, and the file
// deleted.
PackageFetch KeepIfPinned(const std::wstring& path, const ExpectedFile& pinned);

// The program's source: the download server over HTTP with all its passes.
PackageSource& ServerPackageSource();

}  // namespace tarn
