#pragma once
// The end of every packing mode: the check of the cabinets it produced, the
// download list that names them, the starter copies beside them, and the
// one message that names what failed.

#include <string>
#include <vector>

// Checks every cabinet of `packages` (full paths, in list order): one that
// is missing or smaller than 1,000 bytes is named in a "Fehler bei" message
// and no list is written. Otherwise the names (after their last backslash),
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

// "Fehler bei", a line feed, then each item in double quotation marks and
// a line feed.
std::wstring FailureText(const std::vector<std::wstring>& items);

// Shows FailureText(items) (OK button only). Nothing for an empty list.
void ReportPackingFailure(const std::vector<std::wstring>& items);

}  // namespace tarn
