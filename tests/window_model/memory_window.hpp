// A main window built in memory with the controls the actions address: the
// batch front end and the tests run every action against it.
#pragma once

#include "analyses/analysis_params.hpp"
#include "window_model/memory_gui.hpp"

namespace quillan {

// The initial permutation count shown in the permutation box.
inline constexpr const char* kDefaultPermutations = "999";

// Creates a window with "FileBox", "PermBox", "CovBox" and "ResultsBox".
Handle build_memory_window(MemoryGui& gui);

}  // namespace quillan
