// What the pictures draw apart in the loaded table: the semilandmarks an
// import slid (joined along their curves) and the landmarks it estimated.
// Both belong to the imported table only: once other landmarks are loaded
// there is nothing to mark.
#pragma once

#include "figures/links.hpp"
#include "shell/shell.hpp"

namespace quillan {

LandmarkMarks landmark_marks(const Shell& shell);

}  // namespace quillan
