// The numbers of the shape analyses' pictures as the actions hand them
// over, from runs on the bundled data (with landmarks misplaced where a
// picture needs specimens to flag).
#pragma once

#include "analyses/toolkit/figure_data.hpp"
#include "support/fixtures.hpp"

#include <functional>
#include <string>

namespace quillan::test {

// The bundled plethodon table with the first landmark of each of `ids`
// moved `by` units, written into `dir`.
std::string misplaced_plethodon(const TempDir& dir, const std::vector<std::string>& ids, double by = 4);

// Runs `action` on `h` with a recorder and returns what it kept for its
// pictures (the run must report).
ToolkitFigures figures_of(Harness& h, const std::string& action);

// The figures of every shape analysis on real data, for the pictures' layout.
const std::vector<ToolkitFigures>& every_analysis_figure();

}  // namespace quillan::test
