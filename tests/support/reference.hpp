// Independent computations the tests check the program against, each by a
// route of its own:
//  - the `reference_*` sums: a group's full Procrustes mean is the dominant
//    eigenvector of the complex sum of squares and products of its centred,
//    unit-size configurations, and the group's sum of squared full Procrustes
//    distances from it is n minus that eigenvalue (agreement to rounding);
//  - `sin2_distance`: the squared full Procrustes distance from its closed
//    form, 1 - |sum conj(z) w|^2 / (|z|^2 |w|^2) for centred z, w, in complex
//    arithmetic (agreement to rounding);
//  - `literal`: the consensus and distances written the plain way, row by
//    row, operation for operation as the program documents its arithmetic
//    (agreement to the last bit, so a fast path that computes anything else,
//    or stops on another tolerance, shows up).
#pragma once

#include "platform/value.hpp"

#include <complex>
#include <vector>

namespace quillan::test {

using Config = std::vector<std::complex<double>>;

// Sum of squared full Procrustes distances of the rows from their own full
// Procrustes mean.
double reference_ss(const Matrix& data, const std::vector<Eigen::Index>& rows);
double reference_total(const Matrix& data);
// Within-group sum under a code vector (groups in any order; the sum does not depend on it).
double reference_within(const Matrix& data, const Codes& codes);

// Unexplained sums of the slope models by plain regression: each group's
// procrustes_residuals residuals against its covariate less the group's mean, each
// coordinate column by the closed form Syy - Sxy^2 / Sxx (Syy when the
// covariate has one value: the column's sum about its mean).  Different
// slopes: one line per group; common slope: one line through all groups'
// residuals pooled, each group's residuals first turned (in complex
// arithmetic) by the rotation that best fits its consensus onto rotation_only_consensus
// of the whole table.
double reference_different_slopes(const Matrix& data, const Codes& codes, const std::vector<double>& cov);
double reference_common_slope(const Matrix& data, const Codes& codes, const std::vector<double>& cov);

// The squared full Procrustes distance between two rows of k landmarks.
double sin2_distance(const double* a, const double* b, int k);

namespace literal {

struct Result {
    std::vector<double> y;
    Matrix xpt;
    int passes = 0;
};

// full_procrustes_consensus.  With two_sweeps, each fit divides by the
// square of the centroid size measured about the centroid in a second sweep
// (the textbook form) instead of the program's one-sweep reciprocal.
Result pcafull(Matrix x, bool two_sweeps = false);
// full_procrustes_distances, column 1.
std::vector<double> full_procrustes_distances(const std::vector<double>& ref, Matrix x, bool two_sweeps = false);
// Sum of squared distances of a table from its own consensus.
double ss(const Matrix& x, bool two_sweeps = false);

}  // namespace literal

}  // namespace quillan::test
