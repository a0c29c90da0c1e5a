// The thin-plate spline: the smoothest map of the plane (least bending
// energy) that takes each landmark of a source shape exactly onto the same
// landmark of a target shape.  Drawing a square grid through it shows where
// the shape stretches, shrinks and shears.
#pragma once

#include "figures/shapes.hpp"

#include <vector>

namespace quillan {

class ThinPlateSpline {
public:
    // Fails when the shapes differ in landmark count, have fewer than three
    // landmarks, or all source landmarks lie on one line (no affine part).
    ThinPlateSpline(const Shape2& source, const Shape2& target);
    Point2 operator()(Point2 p) const;
    // Bending energy of the map (zero for an affine target).
    double bending_energy() const { return energy_; }

private:
    Shape2 source_;
    Eigen::MatrixXd w_;              // k-by-2 kernel weights
    Eigen::Matrix<double, 3, 2> a_;  // affine part: 1, x, y
    double energy_ = 0;
};

// The deformation grid: `lines` lines in each direction across the source's
// bounds widened by `margin` of their size on each side (square cells),
// each line sampled at `samples` points and mapped through the spline.
struct DeformationGrid {
    std::vector<Shape2> lines;  // each a polyline
};
DeformationGrid deformation_grid(const ThinPlateSpline& spline, const Shape2& source, int lines = 20, int samples = 40,
                                 double margin = 0.1);

}  // namespace quillan
