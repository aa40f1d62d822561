// libFuzzer target: the own cabinet reader's directory parsing and folder
// decoding on arbitrary bytes, with the extraction's name rules. Besides the
// sanitizers, it checks that every entry handed out has a name that stays
// below the target folder (by an independent resolution of the path), and
// that each entry's content arrives in order, within its declared size,
// and ends exactly once (complete or failed).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/safe_names.h"
#include "transfer/cab_format.h"
#include "transfer/cab_names.h"
#include "transfer/cab_reader.h"

namespace {

void Violation(const char* what, size_t entry)
{
    std::fprintf(stderr, "oracle violation: %s (entry %zu)\n", what, entry);
    std::abort();
}

wchar_t Upper(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c;
}

// Resolves the name as the platform would below a folder (separators,
// trailing dots and blanks trimmed, "." and ".." applied, devices in any
// folder) and tells whether it stays a plain file below it.
bool ResolvesBelow(const std::wstring& name)
{
    if (name.empty() || name[0] == L'\\' || name[0] == L'/' || name.find(L':') != std::wstring::npos) {
        return false;
    }
    int depth = 0;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of(L"\\/", start);
        if (end == std::wstring::npos) {
            end = name.size();
        }
        std::wstring part = name.substr(start, end - start);
        while (!part.empty() && (part.back() == L'.' || part.back() == L' ')) {
            part.pop_back();
        }
        if (part.empty()) {
            return false;  // ".", "..", "..." and blanks all climb or stay
        }
        std::wstring base = part.substr(0, part.find(L'.'));
        while (!base.empty() && base.back() == L' ') {
            base.pop_back();
        }
        for (wchar_t& c : base) {
            c = Upper(c);
        }
        if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
            base == L"CONOUT$" || (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
                                   ((base[3] >= L'0' && base[3] <= L'9') || base[3] == 0xB9 || base[3] == 0xB2 ||
                                    base[3] == 0xB3))) {
            return false;
        }
        ++depth;
        start = end + 1;
    }
    return depth > 0;
}

class CheckingSink : public tarn::cab::EntrySink {
public:
    CheckingSink(const tarn::cab::CabDirectory& directory, const std::vector<bool>& wanted)
        : directory_(directory), wanted_(wanted), received_(directory.entries.size(), 0),
          state_(directory.entries.size(), kWaiting)
    {
    }

    void Piece(size_t entry, const unsigned char* data, size_t size, bool first, bool last) override
    {
        if (entry >= wanted_.size() || !wanted_[entry]) {
            Violation("piece for an entry not asked for", entry);
        }
        if (state_[entry] == kEnded || (first != (state_[entry] == kWaiting))) {
            Violation("piece out of order", entry);
        }
        if (size > 0 && data == nullptr) {
            Violation("piece without data", entry);
        }
        received_[entry] += size;
        const uint64_t declared = directory_.entries[entry].size;
        if (received_[entry] > declared || (last != (received_[entry] == declared))) {
            Violation("content beyond or short of the declared size", entry);
        }
        // Touch every byte, so that the sanitizers see reads of bad memory.
        unsigned sum = 0;
        for (size_t i = 0; i < size; ++i) {
            sum += data[i];
        }
        sink_ += sum;
        state_[entry] = last ? kEnded : kStarted;
    }

    void Fail(size_t entry, const std::string& problem) override
    {
        if (entry >= wanted_.size() || !wanted_[entry] || state_[entry] == kEnded || problem.empty()) {
            Violation("failure for an entry not open", entry);
        }
        state_[entry] = kEnded;
    }

    void CheckAllEnded() const
    {
        for (size_t entry = 0; entry < state_.size(); ++entry) {
            if (wanted_[entry] && state_[entry] != kEnded) {
                Violation("entry neither completed nor failed", entry);
            }
        }
    }

    unsigned sink_ = 0;

private:
    enum State { kWaiting, kStarted, kEnded };
    const tarn::cab::CabDirectory& directory_;
    const std::vector<bool>& wanted_;
    std::vector<uint64_t> received_;
    std::vector<State> state_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    tarn::cab::MemorySource source(data, size);
    tarn::cab::CabDirectory directory;
    std::string problem;
    if (!tarn::cab::ReadDirectory(source, directory, problem)) {
        return 0;
    }
    // The entries the extraction would ask for: names that pass its rules.
    std::vector<bool> wanted(directory.entries.size(), false);
    for (size_t i = 0; i < directory.entries.size(); ++i) {
        const tarn::cab::CabEntry& entry = directory.entries[i];
        const std::wstring name = tarn::cab::NormalizeEntryName(
            tarn::cab::DecodeName(entry.name, (entry.attributes & tarn::cab::kAttributeNameIsUtf8) != 0));
        if (!tarn::IsContainedName(name) || entry.folder >= tarn::cab::kFirstContinuedFolder) {
            continue;
        }
        if (!ResolvesBelow(name)) {
            Violation("a name the rules pass leaves the target folder", i);
        }
        wanted[i] = true;
    }
    CheckingSink sink(directory, wanted);
    // Two threads: the parallel decoding of stand-alone blocks runs too.
    tarn::cab::UnpackEntries(source, directory, wanted, sink, 2, problem);
    sink.CheckAllEnded();
    return 0;
}
