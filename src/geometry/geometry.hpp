// The shape geometry operations, as typed functions on matrices.
//
// A landmark table has one row per specimen: x1 y1 x2 y2 ... xk yk and one
// trailing value, 2k + 1 columns.  The trailing value is never centred,
// scaled or rotated.  These functions are pure and thread-safe; they are what
// the named operations call and what small callers use.  The permutation
// tests use the prepared table of shape_table.hpp, which runs the very same
// arithmetic without building matrices, so both give identical numbers.
//
// Every function that superimposes (getfullpsup, fullpdist, the two
// consensus procedures) checks its table first, as ShapeTable does: odd width
// of at least 5, finite coordinates, no specimen with all landmarks at one
// point.  Faults are reported as QuillanError with a text for the user.
#pragma once

#include "platform/value.hpp"

#include <cstddef>
#include <span>
#include <vector>

namespace quillan {

struct Centroid {
    double x = 0.0;
    double y = 0.0;
};

// Centroid of a configuration given as a vector of length L: the mean of the
// floor(L/2) landmarks (x at even, y at odd 0-based positions); a trailing
// odd element is ignored.  Throws when L < 2.
Centroid centpos(std::span<const double> x);

// Centroid size of each row of `x` (floor(cols/2) landmarks per row, the
// trailing column ignored): the square root of the summed squared distances
// of the landmarks from their centroid.  Throws when x has fewer than 2
// columns.
Eigen::VectorXd centsize(const Matrix& x);

// standardsize(data, t, tfixed): every coordinate column is moved along its
// least-squares straight line against the covariate deviations t - tfixed to
// the value it would have at tfixed: y(i,j) = data(i,j) - slope_j (t_i - tfixed).
// The trailing column is copied.  `tvect` holds [slope, intercept] per
// coordinate column (2k rows).  Throws when the table is not of odd width,
// when t does not have one finite value per row, when tfixed is not finite,
// or when t has fewer than two distinct values (no line can be fitted).
struct StandardSizeResult {
    Matrix y;
    Matrix tvect;
};
StandardSizeResult standardsize(const Matrix& data, const std::vector<double>& t, double tfixed);

// getfullpsup(x, xref): every row of x centred, scaled and then fitted onto
// the reference by a full Procrustes fit (rotation and scaling).  Only the
// first 2k elements of xref are read, as they are; they must be finite.
Matrix getfullpsup(const Matrix& x, std::span<const double> xref);
Matrix getfullpsup(const Matrix& x, const Matrix& xref);

// fullpdist(xref, x): n-by-2; column 1 each row's full Procrustes distance
// from xref (the Euclidean distance between its fit by getfullpsup and xref),
// column 2 the row's trailing value.
Matrix fullpdist(std::span<const double> xref, const Matrix& x);
Matrix fullpdist(const Matrix& xref, const Matrix& x);

// A consensus and the aligned table.  `y` is 1-by-(2k+1); `xpt` has the
// shape of the input and keeps its trailing column.  `passes` counts the
// passes of the iteration.
struct Consensus {
    Matrix y;
    Matrix xpt;
    std::size_t passes = 0;
};

// Generalised full Procrustes consensus: full fits onto the current
// reference until the squared change of the reference is at most
// 2^-26 k, then the consensus and the aligned rows are turned so that the
// consensus's axes are its principal axes (no turn when that angle is
// undefined), and y's last element is set to the marker 999.
//
// A table of one specimen is its own consensus: the iteration treats it like
// any table (the mean of one row is that row), so y is the specimen centred,
// scaled and turned to its principal axes, and the aligned row coincides with
// it.
Consensus getconsensuspcafull(const Matrix& x);

// Rotation-only consensus: every row keeps unit centroid size, the tolerance
// is 2^-26 / 20 and there is no final turn.  y's last element is the mean of
// the trailing column divided by the norm that scaled the consensus.  One
// specimen gives itself, centred and scaled.
Consensus getconsensus(const Matrix& x);

}  // namespace quillan
