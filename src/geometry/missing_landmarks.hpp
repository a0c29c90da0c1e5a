// Estimating landmarks that could not be placed, from the specimens that
// have them all, as geomorph's estimate.missing does:
//  - by a thin-plate spline from the reference (the mean of the complete
//    specimens superimposed, at their own sizes) onto the specimen's present
//    landmarks, through which the reference's points at the gaps are mapped;
//  - by multivariate regression of the missing coordinates on the present
//    ones over the complete specimens (superimposed on the reference), on
//    the leading singular axes of their cross-products.
// A missing landmark is a row of NaN.  In space the spline's kernel is r
// instead of r^2 log r, and the rotations exclude reflections, as there.
#pragma once

#include "geometry/partial_procrustes.hpp"

#include <functional>
#include <string>
#include <vector>

namespace quillan {

enum class EstimateMethod { ThinPlateSpline, Regression };

template <int D>
struct EstimationOf {
    // Every specimen in its own frame with its gaps filled; complete
    // specimens as given.
    std::vector<PointsOf<D>> filled;
    // The coordinates as the method computes them: for the spline every
    // point of each incomplete specimen mapped through it; for the
    // regression every specimen superimposed on the reference at its own size.
    std::vector<PointsOf<D>> working;
};
using Estimation = EstimationOf<2>;
using Estimation3 = EstimationOf<3>;

// The fewest present landmarks a specimen needs, and the fewest complete
// specimens the method needs for a specimen with `present` of `p` landmarks,
// in `dimensions` 2 or 3.
int fewest_present(EstimateMethod method, int dimensions = 2);
int fewest_complete(EstimateMethod method, int present, int p, int dimensions = 2);

// Refuses (QuillanError) what cannot be estimated, naming the specimen by
// `name`.  The reference is the complete specimens' superimposition by
// gpagen's steps, or, `to_optimum`, iterated to its optimum, so that the
// estimates do not depend on the order of the specimens.
Estimation estimate_missing(const std::vector<Config>& x, EstimateMethod method,
                            const std::function<std::string(std::size_t)>& name, bool to_optimum = false);
Estimation3 estimate_missing(const std::vector<Config3>& x, EstimateMethod method,
                             const std::function<std::string(std::size_t)>& name, bool to_optimum = false);

}  // namespace quillan
