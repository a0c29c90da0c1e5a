// The steps of an import between reading a file and building its landmark
// table: estimating the landmarks the file left out, and sliding the
// semilandmarks.  Both change only the coordinates of the table read, and
// note what they did in `steps`; a refusal leaves nothing imported.
#pragma once

#include "io/import.hpp"

namespace quillan::io {

// Gaps are refused, naming every specimen and landmark, unless the options
// ask for an estimate.
void fill_gaps(SpecimenTable& t, const ImportOptions& options, ImportSteps& steps);
// Slides the semilandmarks the options name (the file's curves, or a sliders
// file); the table keeps each specimen in its own frame.
void slide_curves(SpecimenTable& t, const ImportOptions& options, ImportSteps& steps);
// The sliders of a sliders file: three landmark numbers a line (before,
// slider, after), checked against `landmarks`.
std::vector<std::array<int, 3>> read_sliders(const std::string& path, int landmarks);

}  // namespace quillan::io
