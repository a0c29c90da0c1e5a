// The shape geometry operations, as typed functions on matrices.
//
// A landmark table has one row per specimen: x1 y1 x2 y2 ... xk yk and one
// trailing value, 2k + 1 columns; or, for landmarks in space (`dimensions`
// 3), x1 y1 z1 ... xk yk zk and the trailing value, 3k + 1 columns.  The
// trailing value is never centred, scaled or rotated.  These functions are pure and thread-safe; they are what
// the named operations call and what small callers use.  The permutation
// tests use the prepared table of shape_table.hpp, which runs the very same
// arithmetic without building matrices, so both give identical numbers.
//
// Every function that superimposes (full_procrustes_fit, full_procrustes_distances, the two
// consensus procedures) checks its table first, as ShapeTable does: odd width
// of at least 5, finite coordinates, no specimen with all landmarks at one
// point.  Faults are reported as QuillanError with a text for the user.
#pragma once

#include "platform/value.hpp"

#include <cstddef>
#include <span>
#include <vector>

namespace quillan {

// The dimension of the shape space of k landmarks in the plane, 2k - 4: two
// coordinates per landmark, less two for position, one for size and one for
// orientation.  The F tests count their degrees of freedom in these units.
// A landmark table has 2k + 1 columns.  In space it is 3k - 7 (three
// coordinates, three for position, three for orientation, one for size) of
// a table of 3k + 1 columns.
inline double shape_df_per_unit(Eigen::Index table_columns, int dimensions = 2) {
    return static_cast<double>(table_columns) - (dimensions == 3 ? 8 : 5);
}

struct Centroid {
    double x = 0.0;
    double y = 0.0;
};

// Centroid of a configuration given as a vector of length L: the mean of the
// floor(L/2) landmarks (x at even, y at odd 0-based positions); a trailing
// odd element is ignored.  Throws when L < 2.
Centroid centroid_of(std::span<const double> x);

// Centroid size of each row of `x` (floor(cols/2) landmarks per row, the
// trailing column ignored): the square root of the summed squared distances
// of the landmarks from their centroid.  Throws when x has fewer than 2
// columns.  In space, floor(cols/3) landmarks of three coordinates.
Eigen::VectorXd centroid_sizes(const Matrix& x, int dimensions = 2);

// standardise_along_lines(data, t, tfixed): every coordinate column is moved along its
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
StandardSizeResult standardise_along_lines(const Matrix& data, const std::vector<double>& t, double tfixed, int dimensions = 2);

// full_procrustes_fit(x, xref): every row of x centred, scaled and then fitted onto
// the reference by a full Procrustes fit (rotation and scaling).  Only the
// first 2k elements of xref are read, as they are; they must be finite.
// The fit is the one complex factor sum(conj(z) w) / sum(|z|^2) of the full
// Procrustes fit of planar configurations as described in: I. L. Dryden and
// K. V. Mardia, "Statistical Shape Analysis", Wiley, 1998.
// In space (`dimensions` 3) the fit is the rotation without reflection and
// the scale that best fit each row onto the reference (space_run.hpp).
Matrix full_procrustes_fit(const Matrix& x, std::span<const double> xref, int dimensions = 2);
Matrix full_procrustes_fit(const Matrix& x, const Matrix& xref, int dimensions = 2);

// full_procrustes_distances(xref, x): n-by-2; column 1 each row's full Procrustes distance
// from xref (the Euclidean distance between its fit by full_procrustes_fit and xref),
// column 2 the row's trailing value.  For a reference of unit size this is
// the sine of the Procrustes angle, the full Procrustes distance of:
// D. G. Kendall, "Shape manifolds, Procrustean metrics, and complex
// projective spaces", Bull. London Math. Soc. 16 (1984) 81-121.
Matrix full_procrustes_distances(std::span<const double> xref, const Matrix& x, int dimensions = 2);
Matrix full_procrustes_distances(const Matrix& xref, const Matrix& x, int dimensions = 2);

// A consensus and the aligned table.  `y` is 1-by-(dk+1); `xpt` has the
// shape of the input and keeps its trailing column.  `passes` counts the
// passes of the iteration.
struct Consensus {
    Matrix y;
    Matrix xpt;
    std::size_t passes = 0;
};

// Generalised full Procrustes consensus, the iteration of: J. C. Gower,
// "Generalized Procrustes analysis", Psychometrika 40 (1975) 33-51, with
// full fits as in F. J. Rohlf and D. Slice, "Extensions of the Procrustes
// method for the optimal superimposition of landmarks", Systematic Zoology
// 39 (1990) 40-59.  Full fits onto the current
// reference until the squared change of the reference is at most
// 2^-26 k, then the consensus and the aligned rows are turned so that the
// consensus's axes are its principal axes (no turn when that angle is
// undefined), and y's last element is set to the marker 999.
//
// A table of one specimen is its own consensus: the iteration treats it like
// any table (the mean of one row is that row), so y is the specimen centred,
// scaled and turned to its principal axes, and the aligned row coincides with
// it.
//
// In space the same iteration runs with the fits of space_run.hpp, and the
// final turn is the smallest rotation that brings the consensus onto its
// principal axes.
Consensus full_procrustes_consensus(const Matrix& x, int dimensions = 2);

// Rotation-only consensus: every row keeps unit centroid size, the tolerance
// is 2^-26 / 20 and there is no final turn.  y's last element is the mean of
// the trailing column divided by the norm that scaled the consensus.  One
// specimen gives itself, centred and scaled.
Consensus rotation_only_consensus(const Matrix& x, int dimensions = 2);

// The rotation without reflection that best turns configuration `from` onto
// `onto` (k landmarks in space, 3k coordinates each), applied to n rows of
// 3k coordinates read from `rows` and written to `out`.
void turn_rows_in_space(const double* from, const double* onto, int k, const double* rows, std::size_t n, double* out);

}  // namespace quillan
