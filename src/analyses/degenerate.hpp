// Data that leave nothing to test.  A permutation test of such data still
// prints numbers (an explained sum of exactly 0 or of every bit of the
// variation, a percentage of rounding noise over rounding noise), and those
// numbers look like a finding.  These checks stop the action first, with a
// message that says why there is nothing to test; no report is produced.
#pragma once

#include "platform/value.hpp"

#include <string>

namespace quillan {

// At least three landmarks: two points (or one) have no shape once position,
// size and orientation are removed.  Widths that are not 2k+1 are left to
// the landmark table's own checks.
void require_shape_landmarks(const Matrix& data);

// The total sum of squared full Procrustes distances must stand clear of
// rounding noise.  Shapes of unit size differ by distances of order one, so
// a total below 1e-12 per specimen means the specimens all have one shape
// (identical, or the same shape at different sizes, places and turns).
void require_shape_variation(double total_ss, long long specimens);

// A grouping must have at least two groups, and not one group per specimen
// (then nothing is left within the groups to compare the groups with).
// `what` names the grouping as the messages show it, starting a sentence:
// "The group file", "The first grouping variable", ...
void require_testable_grouping(int groups, int specimens, const std::string& what, const std::string& unit = "group");

// At least `needed` specimens for `what` ("A modularity test", ...):
// fewer leave a statistic that is the same whatever the data.
void require_specimens(long long specimens, long long needed, const std::string& what);

// A block of shape coordinates (a module) must vary among the specimens by
// more than rounding noise, on the scale of require_shape_variation: its
// centred sum of squares at least 1e-12 per specimen.  `what` names it,
// starting a sentence ("Module 2").
void require_varying_block(double block_ss, long long specimens, const std::string& what);

// Every cell of a table of numbers finite; the first that is not is named
// by its row and column (1-based) of `what` ("the second block").
void require_finite_cells(const Eigen::MatrixXd& cells, const std::string& what);

}  // namespace quillan
