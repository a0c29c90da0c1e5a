// Estimating landmarks that could not be placed, from the specimens that
// have them all, as geomorph's estimate.missing does:
//  - by a thin-plate spline from the reference (the mean of the complete
//    specimens superimposed, at their own sizes) onto the specimen's present
//    landmarks, through which the reference's points at the gaps are mapped;
//  - by multivariate regression of the missing coordinates on the present
//    ones over the complete specimens (superimposed on the reference), on
//    the leading singular axes of their cross-products.
// A missing landmark is a row of NaN.
#pragma once

#include "geometry/partial_procrustes.hpp"

#include <functional>
#include <string>
#include <vector>

namespace quillan {

enum class EstimateMethod { ThinPlateSpline, Regression };

struct Estimation {
    // Every specimen in its own frame with its gaps filled; complete
    // specimens as given.
    std::vector<Config> filled;
    // The coordinates as the method computes them: for the spline every
    // point of each incomplete specimen mapped through it; for the
    // regression every specimen superimposed on the reference at its own size.
    std::vector<Config> working;
};

// The fewest present landmarks a specimen needs, and the fewest complete
// specimens the method needs for a specimen with `present` of `p` landmarks.
int fewest_present(EstimateMethod method);
int fewest_complete(EstimateMethod method, int present, int p);

// Refuses (QuillanError) what cannot be estimated, naming the specimen by `name`.
Estimation estimate_missing(const std::vector<Config>& x, EstimateMethod method,
                            const std::function<std::string(std::size_t)>& name);

}  // namespace quillan
