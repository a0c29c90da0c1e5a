// Principal components of the aligned shapes.
//
// Each aligned configuration minus the consensus is projected onto the plane
// tangent to the shape space at the consensus (the consensus scaled to unit
// size is the plane's normal), which linearises the shape differences; the
// components are the eigenvectors of the covariance of those coordinates.
#pragma once

#include "figures/shapes.hpp"

#include <vector>

namespace quillan {

// t_i = (I - u u') (x_i - c), u = c / |c|, for every aligned row x_i.
Matrix tangent_coordinates(const Superimposition& s);

struct PcaResult {
    Eigen::RowVectorXd mean;    // mean of the tangent coordinates (about zero)
    Eigen::VectorXd variances;  // per component, largest first
    Eigen::VectorXd percent;    // percent of the total variance per component
    Matrix directions;          // dk-by-m: unit directions as columns
    Matrix scores;              // n-by-m
    int components() const { return static_cast<int>(variances.size()); }
};

// Components of the rows of `x` (n-by-p), at most min(n - 1, p) of them,
// keeping only those with a variance above rounding.  Each direction's sign
// is fixed so that its largest element is positive, so the same data always
// give the same picture.  Fails when there are fewer than two rows.
PcaResult principal_components(const Matrix& x);

// The shape at `score` along component `pc` (0-based): the consensus plus
// the mean tangent coordinates plus score times the direction, as a row of
// dk coordinates.
Eigen::RowVectorXd shape_along_component(const Superimposition& s, const PcaResult& pca, int pc, double score);

}  // namespace quillan
