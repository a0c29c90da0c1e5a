// What the pictures draw apart in the loaded table: the semilandmarks an
// import slid (joined along their curves) and the landmarks it estimated.
// Both belong to the imported table only: once other landmarks are loaded
// there is nothing to mark.  The same holds for the file's own wireframe.
#pragma once

#include "figures/links.hpp"
#include "shell/runner.hpp"

namespace quillan {

LandmarkMarks landmark_marks(const Runner& shell);
// The links the imported file gives itself (a morphologika [wireframe]),
// while its landmarks are the ones loaded; empty otherwise.
Links imported_wireframe(const Runner& shell);

}  // namespace quillan
