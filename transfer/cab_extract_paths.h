#pragma once
// The two ways an extraction runs, behind ExtractCabinet: the own reader
// (stored and MSZIP cabinets) and the setup library (every cabinet the
// platform reads). Both fill the context's list and flags through the same
// CabTargets.

#include <string>

#include "transfer/cab_extract.h"

namespace tarn {

class CabTargets;

// What the own reader found when it looked at the cabinet.
enum class OwnReaderOutcome {
    Extracted,    // every announced entry is extracted
    Failed,       // damaged, refused or unwritten entries (traced)
    NotReadable,  // the cabinet cannot be opened, or uses a compression the reader does not know
};

// Extracts the context's cabinet with the own reader: the directory is read
// and every entry announced on the calling thread, the folders are decoded
// there too, and the files are written by two writer threads.
OwnReaderOutcome ExtractWithOwnReader(CabExtractContext& context, CabTargets& targets);

// Extracts the context's cabinet with the setup library, with the retry
// through a plainly named copy after a failed pass. True when a pass went
// through without error.
bool ExtractWithSetupLibrary(CabExtractContext& context, CabTargets& targets);

}  // namespace tarn
