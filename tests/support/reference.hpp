// Independent computations the tests check the program against.  They use a
// different route from the program's iterative superimposition: a group's full
// Procrustes mean is the dominant eigenvector of the complex sum of squares
// and products of its centred, unit-size configurations, and the group's sum
// of squared full Procrustes distances from it is n minus that eigenvalue.
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

// A normally distributed covariate, one value per specimen.
std::vector<double> random_covariate(std::size_t n, unsigned seed);

// Random test shapes: `groups` mean shapes of k landmarks, each specimen a
// perturbed copy of its group's mean, moved, turned and scaled at random.
Matrix make_shapes(const std::vector<int>& group_of_specimen, int k, unsigned seed, double spread = 0.05);

}  // namespace quillan::test
