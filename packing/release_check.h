#pragma once
// The checks that a release must pass: the ones a packing mode runs on its
// staged release before it publishes, and the ones "VerifyRelease" runs on
// a published one. Every cabinet is read at most once (InspectCabinet).

#include <string>
#include <vector>

#include "packing/release_files.h"

namespace tarn {

// One download list of a download folder and the starter copies beside it.
struct ReleaseKind {
    const wchar_t* list;
    std::vector<const wchar_t*> starters;
};

// The download lists the packing modes write, with their starters.
const std::vector<ReleaseKind>& ReleaseKinds();

// Where a release's files are found: a file staged in `staged` (when given)
// takes the place of the published one in `live`. A staged file without a
// staged record loses the published record when it is published.
struct ReleaseView {
    std::wstring staged;
    std::wstring live;

    // The path the file will have its content from; empty when there is none.
    std::wstring Find(const std::wstring& name) const;
    // The record that will stand beside `name` once published; empty when none.
    std::wstring FindRecord(const std::wstring& name) const;
};

// Checks one cabinet against the record beside it: it opens, no entry
// leaves its folder, and the record states its size and checksum. Appends
// one failure per problem.
void CheckCabinetWithRecord(const std::wstring& cabinet, const std::wstring& record, PackingFailures& failed);

// Checks the lists named in `lists` (all ReleaseKinds lists found, when
// empty): every entry is present and passes CheckCabinetWithRecord, and the
// list's starters are present and identical with each other. Also fails
// when no list is found at all.
void CheckRelease(const ReleaseView& view, const std::vector<std::wstring>& lists, PackingFailures& failed);

// Checks the signed manifests "<list>.sig" of the lists CheckRelease finds
// against `keys` (PEM public keys): each is present, signed by one of them
// and made for its list; every listed package (all entries but the
// updater cabinet, which carries its own signature) is signed and every
// signed package listed; every package present has the manifest's size and
// SHA-256. Appends one failure per problem.
void CheckReleaseSignatures(const ReleaseView& view, const std::vector<std::string>& keys, PackingFailures& failed);

}  // namespace tarn
