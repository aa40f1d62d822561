#pragma once
// The end of every packing mode: the check of the cabinets it produced, the
// download list that names them, the starter copies beside them, and the
// one message that names what failed.

#include <string>
#include <vector>

// Checks every cabinet of `packages` (full paths, in list order): one that
// is missing or smaller than 1,000 bytes is named in a "Fehler bei" message
// (with its size as the cause) and no list is written. Otherwise the names (after their last backslash),
// followed by "SetupUpdater_2023.cab" unless one of them is it, are written
// to `listPath` as ANSI lines. With TARN_SIGNING_KEY set, the signed
// manifest of the packages goes beside it as "<list>.sig" (see
// release_signing.h); a release that cannot be signed writes no list.
// `packages` then holds those names. Returns
// the write's result: 0 also when the list cannot be written (message with
// the list's path).
int WriteDownloadList(std::vector<std::wstring>& packages, const wchar_t* listPath);

// Copies "Tarn_Gridwell_2023.exe" from the running program's folder to
// `targetPath`. Returns 1 when copied.
int PublishStarterCopy(const wchar_t* targetPath);

namespace tarn {

// What failed and why (with the error code where there is one).
struct PackingFailure {
    std::wstring path;
    std::wstring cause;
};
using PackingFailures = std::vector<PackingFailure>;

// "Fehler bei", a line feed, then each item's path in double quotation marks
// and a line feed, followed by its cause and a line feed when it has one.
std::wstring FailureText(const PackingFailures& items);

// One log line per item with its cause, then FailureText(items) in a message
// box (OK button only). Nothing for an empty list.
void ReportPackingFailure(const PackingFailures& items);

// The running program's "Tarn_Gridwell_2023.exe" that the starter copies are
// made from.
std::wstring StarterSource();

}  // namespace tarn
