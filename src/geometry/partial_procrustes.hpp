// The generalised partial Procrustes superimposition, with and without
// sliding semilandmarks, step for step as geomorph's gpagen computes it, so
// that its numbers can be held against geomorph's: every configuration
// centred and scaled to unit centroid size, rotated onto the first, then
// rotated onto the rescaled mean until the mean stops changing.  With
// sliders, each semilandmark slides along the tangent of its curve (the line
// through its two neighbours) to the position of least bending energy
// against the mean, or of least Procrustes distance from it, before every
// rotation.  The result is then projected onto the tangent space at the mean.
//
// Configurations are p x 2 matrices (p x 3 for landmarks in space), one
// landmark a row.  In space the rotations come from the singular value
// decomposition of the cross-products, reflections excluded, and the spline
// behind the bending energy has the kernel r instead of r^2 log r, as gpagen
// builds them.
#pragma once

#include <Eigen/Core>

#include <vector>

namespace quillan {

template <int D>
using PointsOf = Eigen::Matrix<double, Eigen::Dynamic, D>;
using Config = PointsOf<2>;
using Config3 = PointsOf<3>;  // landmarks in space

// A semilandmark and the two landmarks whose line gives its tangent
// (0-based landmark indexes).
struct Slider {
    int before = 0, slider = 0, after = 0;
};

enum class SlideCriterion { BendingEnergy, ProcrustesDistance };

struct PartialOptions {
    SlideCriterion criterion = SlideCriterion::BendingEnergy;
    int max_iterations = 10;  // gpagen's max.iter
    double tolerance = 1e-4;  // gpagen's tol: the change of the criterion at which it stops
    bool principal_axes = true;
    // Iterate the superimposition to its optimum instead of stopping at the
    // tolerance: until no landmark moves by more than `settled` (of unit
    // centroid size) in an iteration, or rounding keeps the movement from
    // falling further; without sliders within `max_iterations` (not gpagen's
    // limit of 4).  With sliders, the rotations between the sliding steps go
    // to their optimum, while the sliding steps stop as gpagen's do: sliding
    // along tangents that move with the points has no fixed point to reach
    // (on real outlines the points creep on by about 1e-4 an iteration after
    // a hundred), but each step then depends on the configurations alone.
    // Either way the result does not depend on their order.
    bool to_optimum = false;
    double settled = 1e-13;
};

template <int D>
struct PartialResultOf {
    std::vector<PointsOf<D>> aligned;    // superimposed (and slid), before the projection
    std::vector<PointsOf<D>> projected;  // projected onto the tangent space at the mean: gpagen's coords
    PointsOf<D> consensus;               // mean of the projected configurations
    std::vector<double> sizes;           // centroid sizes of the configurations as given
    int iterations = 0;                  // as gpagen counts them
    double last_change = 0;              // the change of the criterion in the last iteration
    double last_movement = 0;            // the farthest any landmark moved in the last iteration (unit centroid size)
    // Within the iterations allowed, the change fell to the tolerance, or
    // (with sliders) no landmark moved by more than the tolerance.
    bool converged = true;
};
using PartialResult = PartialResultOf<2>;
using PartialResult3 = PartialResultOf<3>;

// Without sliders: gpagen's superimposition of fixed landmarks (at most 4
// rotations onto the mean after the first, as gpagen allows).
PartialResult partial_procrustes(const std::vector<Config>& x, const PartialOptions& options = {});
PartialResult3 partial_procrustes(const std::vector<Config3>& x, const PartialOptions& options = {});
// With sliders (not empty).
PartialResult slide_semilandmarks(const std::vector<Config>& x, const std::vector<Slider>& sliders,
                                  const PartialOptions& options = {});
PartialResult3 slide_semilandmarks(const std::vector<Config3>& x, const std::vector<Slider>& sliders,
                                   const PartialOptions& options = {});

// Centre and unit centroid size; the size is returned through `size`.
Config centre_and_scale(const Config& x, double* size = nullptr);
Config3 centre_and_scale(const Config3& x, double* size = nullptr);
// The rotation (no reflection) of centred `y` onto centred `m` in the
// least-squares sense: y * rotation_onto(m, y) fits m.
Eigen::Matrix2d rotation_onto(const Config& m, const Config& y);
Eigen::Matrix3d rotation_onto(const Config3& m, const Config3& y);

// A landmark table (x1 y1 ... xk yk and its trailing value; x y z of each
// landmark in space) superimposed as gpagen superimposes fixed landmarks:
// the projected coordinates, one row a specimen, without the trailing value.
Eigen::MatrixXd gpagen_coordinates(const Eigen::MatrixXd& landmarks, int dimensions);

}  // namespace quillan
