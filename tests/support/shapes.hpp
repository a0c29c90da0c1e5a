// Shape data for the tests: the bundled example tables, generated tables
// and covariates, and similarity transforms.  The independent computations
// to check results against are in reference.hpp.
#pragma once

#include "platform/value.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace quillan::test {

// A table of the bundled example data, read as the program reads it.
Matrix load_data(const std::string& name);

// Every row turned by `angle`, scaled by `scale` and moved by (dx, dy).
Matrix similar(const Matrix& x, double angle, double scale, double dx, double dy);

// Random test shapes of k landmarks: one mean shape per group, each specimen
// a copy of its group's mean perturbed by `spread`, then moved, turned and
// scaled at random; the trailing value is the root sum of squares of the
// specimen's coordinates.  Specimens with the same number in
// `group_of_specimen` share a mean.
Matrix make_shapes(const std::vector<int>& group_of_specimen, int k, unsigned seed, double spread = 0.05);
// n specimens of one group.
Matrix make_shapes(int n, int k, unsigned seed, double spread = 0.05);

// A normally distributed covariate, one value per specimen.
std::vector<double> random_covariate(std::size_t n, unsigned seed);

}  // namespace quillan::test
