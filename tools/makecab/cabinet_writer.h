#pragma once
// Writes one cabinet from a plan: every listed file in one folder of data
// blocks (more folders only where the format's block count demands), MSZIP
// packed on several threads or stored, with names, file times and
// attributes. The cabinet is written under a temporary name beside its
// destination and renamed when complete, so a failure leaves no cabinet
// (and keeps a file that was already at the destination).

#include <cstdint>
#include <string>

#include "tools/makecab/directive_file.h"

namespace tarn::makecab {

struct PackFigures {
    uint32_t files = 0;
    uint32_t folders = 0;
    uint64_t unpackedBytes = 0;
    uint64_t cabinetBytes = 0;
};

// True when the cabinet of `plan` is complete at plan.cabinetPath. False
// with `error` saying why: a file that cannot be read or changed while it
// was packed, a name the format cannot hold, two files of one name, more
// content than MaxDiskSize (or the format) allows, a write that failed.
bool WriteCabinet(const CabinetPlan& plan, unsigned threads, PackFigures& figures, std::wstring& error);

}  // namespace tarn::makecab
