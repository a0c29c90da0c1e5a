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

// A cell without a value: empty, or NA as R writes it.
bool missing_cell(const std::string& cell);
// Refuses a column with cells without a value, naming their specimens;
// `what` is "factor" or "covariate".
void require_values(const SpecimenTable& t, const Column& c, const std::string& what);
// Leaves out the specimens without a value in any of `used`, noting them in
// `steps`; refused when fewer than two specimens would be left.
void leave_out_missing(SpecimenTable& t, const std::vector<const Column*>& used, ImportSteps& steps);

}  // namespace quillan::io
