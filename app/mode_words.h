#pragma once
// The table of the build and test modes: each word with the mode it runs.

#include <span>

#include "app/command_line.h"

namespace tarn {

// In the order in which the words are checked.
std::span<const ModeWord> ModeWords();

}  // namespace tarn
