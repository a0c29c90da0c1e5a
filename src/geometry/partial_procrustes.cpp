#include "geometry/partial_procrustes.hpp"

#include "platform/error.hpp"
#include "platform/stop_request.hpp"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>

namespace quillan {

namespace {

template <int D>
using Rotation = Eigen::Matrix<double, D, D>;
template <int D>
using Point = Eigen::Matrix<double, 1, D>;

template <int D>
PointsOf<D> mean_of(const std::vector<PointsOf<D>>& x) {
    PointsOf<D> m = PointsOf<D>::Zero(x.front().rows(), D);
    for (const auto& c : x) m += c;
    return m / static_cast<double>(x.size());
}

// Scaled to unit centroid size without being moved: the mean of aligned
// configurations is already centred (up to rounding), and the iteration
// takes it as it is.
template <int D>
PointsOf<D> size_scaled(const PointsOf<D>& x) {
    const Point<D> c = x.colwise().mean();
    return x / std::sqrt((x.rowwise() - c).squaredNorm());
}

template <int D>
std::vector<PointsOf<D>> rotated_onto(const PointsOf<D>& m, const std::vector<PointsOf<D>>& x) {
    std::vector<PointsOf<D>> out;
    out.reserve(x.size());
    for (const auto& y : x) out.push_back(y * rotation_onto(m, y));
    return out;
}

// The principal axes of the mean: the rotation that puts its longest axis
// along x (and in space its second along y), with each axis pointing the
// way its own coordinate grows.  In space this may mirror the
// configurations, as gpagen's turn does.
template <int D>
Rotation<D> principal_axes(const PointsOf<D>& m) {
    const PointsOf<D> c = m.rowwise() - m.colwise().mean();
    Eigen::SelfAdjointEigenSolver<Rotation<D>> eig(c.transpose() * c);
    Rotation<D> rot;
    for (int i = 0; i < D; ++i) rot.col(i) = eig.eigenvectors().col(D - 1 - i);
    for (int i = 0; i < D; ++i)
        if (!(rot(i, i) > 0)) rot.col(i) = -rot.col(i);
    return rot;
}

// Projection onto the tangent space at the unit-size mean, as vectors of
// all x then all y coordinates.
template <int D>
std::vector<PointsOf<D>> projected(const std::vector<PointsOf<D>>& x) {
    const PointsOf<D> u = centre_and_scale(mean_of(x));
    std::vector<PointsOf<D>> out;
    out.reserve(x.size());
    for (const auto& y : x) {
        const double along = y.cwiseProduct(u).sum();
        out.push_back(y - along * u + u);
    }
    return out;
}

template <int D>
double summed_square_of_sum(const std::vector<PointsOf<D>>& x) {
    PointsOf<D> s = PointsOf<D>::Zero(x.front().rows(), D);
    for (const auto& c : x) s += c;
    return s.squaredNorm() / static_cast<double>(x.size());
}

template <int D>
void finish(PartialResultOf<D>& r, const PointsOf<D>& mean, const PartialOptions& options) {
    if (options.principal_axes) {
        const Rotation<D> rot = principal_axes(mean);
        for (auto& y : r.aligned) y = y * rot;
    }
    r.projected = projected(r.aligned);
    r.consensus = mean_of(r.projected);
}

template <int D>
void check_input(const std::vector<PointsOf<D>>& x) {
    if (x.size() < 2) throw QuillanError("A superimposition needs at least two specimens.");
    for (const auto& c : x)
        if (c.rows() != x.front().rows() || c.rows() < 3 || !c.allFinite())
            throw QuillanError("A superimposition needs configurations of the same three or more finite landmarks.");
}

// The kernel of the spline behind the bending energy at distance d, as
// gpagen takes it: d^2 log d in the plane, d in space.
template <int D>
double energy_kernel(double d) {
    if constexpr (D == 3) return d;
    return d > 0 ? d * d * std::log(d) : 0.0;
}

// The bending-energy matrix of the thin-plate spline on `ref`: the
// landmark block of the inverse of its spline matrix, as gpagen builds it.
template <int D>
Eigen::MatrixXd bending_energy_matrix(const PointsOf<D>& ref) {
    const Eigen::Index p = ref.rows();
    Eigen::MatrixXd l = Eigen::MatrixXd::Zero(p + D + 1, p + D + 1);
    for (Eigen::Index i = 0; i < p; ++i)
        for (Eigen::Index j = 0; j < p; ++j) l(i, j) = energy_kernel<D>((ref.row(i) - ref.row(j)).norm());
    for (Eigen::Index i = 0; i < p; ++i) {
        l(i, p) = l(p, i) = 1;
        for (Eigen::Index c = 0; c < D; ++c) l(i, p + 1 + c) = l(p + 1 + c, i) = ref(i, c);
    }
    Eigen::MatrixXd unit = Eigen::MatrixXd::Zero(p + D + 1, p);
    unit.topRows(p).setIdentity();
    return l.partialPivLu().solve(unit).topRows(p);
}

// Unit tangents of the sliders of one configuration: the direction from
// each slider's first neighbour to its second.  Rows of landmarks that do
// not slide (or whose neighbours coincide) stay zero.
template <int D>
PointsOf<D> tangents(const PointsOf<D>& y, const std::vector<Slider>& sliders) {
    PointsOf<D> t = PointsOf<D>::Zero(y.rows(), D);
    for (const auto& s : sliders) {
        const Point<D> d = y.row(s.after) - y.row(s.before);
        t.row(s.slider) = d / d.norm();
    }
    return t;
}

template <int D>
std::vector<Eigen::Index> sliding_rows(const PointsOf<D>& t) {
    std::vector<Eigen::Index> rows;
    for (Eigen::Index i = 0; i < t.rows(); ++i)
        if (t.row(i).squaredNorm() != 0) rows.push_back(i);
    return rows;
}

// The inner product of row `i` of `a` with row `j` of `b`, summed in
// coordinate order.
template <class A, class B>
double row_product(const A& a, Eigen::Index i, const B& b, Eigen::Index j) {
    double sum = a(i, 0) * b(j, 0);
    for (Eigen::Index c = 1; c < a.cols(); ++c) sum += a(i, c) * b(j, c);
    return sum;
}

// Slides along the tangents to the least bending energy of the deformation
// from `ref`: the displacement along each tangent solves the normal
// equations of the energy restricted to the tangent lines.
template <int D>
PointsOf<D> slide_by_energy(const PointsOf<D>& y, const PointsOf<D>& t, const PointsOf<D>& ref, const Eigen::MatrixXd& be) {
    const auto rows = sliding_rows(t);
    const Eigen::Index s = static_cast<Eigen::Index>(rows.size());
    if (s == 0) return y;
    const PointsOf<D> d = y - ref;
    const Eigen::MatrixXd bd = be * d;  // p x D
    Eigen::MatrixXd mid(s, s);
    Eigen::VectorXd rhs(s);
    for (Eigen::Index a = 0; a < s; ++a) {
        const Eigen::Index ia = rows[static_cast<std::size_t>(a)];
        rhs(a) = row_product(t, ia, bd, ia);
        for (Eigen::Index b = 0; b < s; ++b) {
            const Eigen::Index ib = rows[static_cast<std::size_t>(b)];
            mid(a, b) = be(ia, ib) * row_product(t, ia, t, ib);
        }
    }
    const Eigen::VectorXd c = mid.ldlt().solve(rhs);
    PointsOf<D> out = y;
    for (Eigen::Index a = 0; a < s; ++a)
        out.row(rows[static_cast<std::size_t>(a)]) -= c(a) * t.row(rows[static_cast<std::size_t>(a)]);
    return out;
}

// Slides each semilandmark to the foot of the perpendicular from its
// position on the mean to its tangent line.
template <int D>
PointsOf<D> slide_by_distance(const PointsOf<D>& y, const PointsOf<D>& t, const PointsOf<D>& ref) {
    PointsOf<D> out = y;
    for (Eigen::Index i = 0; i < y.rows(); ++i) {
        const double along = t.row(i).dot(y.row(i) - ref.row(i));
        out.row(i) -= along * t.row(i);
    }
    return out;
}

template <int D>
PointsOf<D> centred_scaled(const PointsOf<D>& x, double* size) {
    const Point<D> c = x.colwise().mean();
    const PointsOf<D> centred = x.rowwise() - c;
    const double cs = std::sqrt(centred.squaredNorm());
    if (size) *size = cs;
    return centred / cs;
}

// The farthest any landmark moved from `before` to `after`.
template <int D>
double movement(const std::vector<PointsOf<D>>& before, const std::vector<PointsOf<D>>& after) {
    double most = 0;
    for (std::size_t j = 0; j < before.size(); ++j) most = std::max(most, (after[j] - before[j]).rowwise().norm().maxCoeff());
    return most;
}

// Whether an iteration to the optimum is done: nothing moved by more than
// `settled`, or, close to it, rounding kept the movement from falling.
inline bool settled_at(const PartialOptions& options, double moved, double before) {
    return moved <= options.settled || (moved < 1e3 * options.settled && moved >= before);
}

// The rotations alone iterated to their optimum: every configuration turned
// onto the mean of all until none moves by more than `settled`.  The mean of
// configurations turned onto one of them depends on which one; the optimum
// does not.
template <int D>
void rotations_to_optimum(std::vector<PointsOf<D>>& x, const PartialOptions& options) {
    double before = INFINITY;
    for (int pass = 0; pass < 10000; ++pass) {
        std::vector<PointsOf<D>> next = rotated_onto(size_scaled(mean_of(x)), x);
        const double moved = movement(x, next);
        x = std::move(next);
        if (settled_at(options, moved, before)) return;
        before = moved;
    }
}

template <int D>
PartialResultOf<D> partial_fit(const std::vector<PointsOf<D>>& x, const PartialOptions& options) {
    check_input(x);
    PartialResultOf<D> r;
    const double n = static_cast<double>(x.size());
    const int max_iterations = options.to_optimum ? options.max_iterations : std::min(options.max_iterations, 4);
    std::vector<PointsOf<D>> ya;
    for (const auto& c : x) {
        double cs = 0;
        ya.push_back(centred_scaled(c, &cs));
        r.sizes.push_back(cs);
    }
    ya = rotated_onto(ya.front(), ya);
    PointsOf<D> m = mean_of(ya);
    double ss = n * (1 - m.squaredNorm());
    double q = ss;
    m = size_scaled(m);
    int iter = 1;
    bool settled = false;
    while (options.to_optimum || q > options.tolerance) {
        ++iter;
        std::vector<PointsOf<D>> next = rotated_onto(m, ya);
        const double moved = movement(ya, next), before = r.last_movement;
        r.last_movement = moved;
        ya = std::move(next);
        m = mean_of(ya);
        const double ss2 = n * (1 - m.squaredNorm());
        q = std::abs(ss - ss2);
        ss = ss2;
        m = size_scaled(m);
        if (options.to_optimum && iter > 2 && settled_at(options, moved, before)) {
            settled = true;
            break;
        }
        if (iter > max_iterations) break;
    }
    r.aligned = std::move(ya);
    r.iterations = iter;
    r.last_change = q;
    r.converged = options.to_optimum ? settled : q <= options.tolerance;
    finish(r, m, options);
    return r;
}

template <int D>
std::vector<PointsOf<D>> slid_once(const std::vector<PointsOf<D>>& x, const std::vector<Slider>& sliders, const PointsOf<D>& ref,
                                   SlideCriterion criterion) {
    std::vector<PointsOf<D>> out;
    out.reserve(x.size());
    Eigen::MatrixXd be;
    if (criterion == SlideCriterion::BendingEnergy) be = bending_energy_matrix(ref);
    for (const auto& y : x) {
        const PointsOf<D> t = tangents(y, sliders);
        out.push_back(criterion == SlideCriterion::BendingEnergy ? slide_by_energy(y, t, ref, be) : slide_by_distance(y, t, ref));
    }
    return out;
}

template <int D>
PartialResultOf<D> sliding_fit(const std::vector<PointsOf<D>>& x, const std::vector<Slider>& sliders,
                               const PartialOptions& options) {
    check_input(x);
    for (const auto& s : sliders)
        if (std::max({s.before, s.slider, s.after}) >= x.front().rows() || std::min({s.before, s.slider, s.after}) < 0)
            throw QuillanError("A slider names a landmark the configurations do not have.");
    PartialResultOf<D> r;
    std::vector<PointsOf<D>> slid;
    for (const auto& c : x) {
        double cs = 0;
        slid.push_back(centred_scaled(c, &cs));
        r.sizes.push_back(cs);
    }
    slid = rotated_onto(slid.front(), slid);
    if (options.to_optimum) rotations_to_optimum(slid, options);
    PointsOf<D> ref = mean_of(slid);
    double ss0 = summed_square_of_sum(slid);
    double q = ss0;
    int iter = 1;
    while (q > options.tolerance) {
        stop_point();
        ++iter;
        const std::vector<PointsOf<D>> moved = slid_once(slid, sliders, ref, options.criterion);
        const double ss = summed_square_of_sum(moved);
        std::vector<PointsOf<D>> next = rotated_onto(ref, moved);
        if (options.to_optimum) rotations_to_optimum(next, options);
        r.last_movement = movement(slid, next);
        slid = std::move(next);
        ref = size_scaled(mean_of(slid));
        q = std::abs(ss0 - ss);
        ss0 = ss;
        if (iter >= options.max_iterations) break;
    }
    r.aligned = std::move(slid);
    r.iterations = iter + 1;
    r.last_change = q;
    // gpagen's own test compares a sum over all specimens, which on real
    // outlines often keeps changing a little after the points have stopped
    // moving; points that no longer move have converged too.
    r.converged = q <= options.tolerance || r.last_movement <= options.tolerance;
    finish(r, ref, options);
    return r;
}

}  // namespace

Config centre_and_scale(const Config& x, double* size) { return centred_scaled(x, size); }
Config3 centre_and_scale(const Config3& x, double* size) { return centred_scaled(x, size); }

Eigen::Matrix2d rotation_onto(const Config& m, const Config& y) {
    const double a = m.col(0).dot(y.col(0)), b = m.col(0).dot(y.col(1));
    const double c = m.col(1).dot(y.col(0)), d = m.col(1).dot(y.col(1));
    const double r = std::hypot(a + d, c - b);
    Eigen::Matrix2d g = Eigen::Matrix2d::Identity();
    if (r == 0) return g;
    const double cosine = (a + d) / r, sine = (c - b) / r;
    g << cosine, sine, -sine, cosine;
    return g;
}

// From the singular value decomposition m'y = U S V' the rotation is V U',
// with the sign of U's last column turned when m'y has a negative
// determinant, so that no configuration is mirrored.
Eigen::Matrix3d rotation_onto(const Config3& m, const Config3& y) {
    const Eigen::Matrix3d my = m.transpose() * y;
    const Eigen::JacobiSVD<Eigen::Matrix3d> svd(my, Eigen::ComputeFullU | Eigen::ComputeFullV);
    Eigen::Matrix3d u = svd.matrixU();
    if (my.determinant() < 0) u.col(2) = -u.col(2);
    return svd.matrixV() * u.transpose();
}

PartialResult partial_procrustes(const std::vector<Config>& x, const PartialOptions& options) { return partial_fit(x, options); }
PartialResult3 partial_procrustes(const std::vector<Config3>& x, const PartialOptions& options) {
    return partial_fit(x, options);
}

PartialResult slide_semilandmarks(const std::vector<Config>& x, const std::vector<Slider>& sliders,
                                  const PartialOptions& options) {
    return sliding_fit(x, sliders, options);
}
PartialResult3 slide_semilandmarks(const std::vector<Config3>& x, const std::vector<Slider>& sliders,
                                   const PartialOptions& options) {
    return sliding_fit(x, sliders, options);
}

namespace {

template <int D>
Eigen::MatrixXd gpagen_table(const Eigen::MatrixXd& lm) {
    const Eigen::Index m = lm.rows(), k = (lm.cols() - 1) / D;
    std::vector<PointsOf<D>> x;
    for (Eigen::Index i = 0; i < m; ++i) {
        PointsOf<D> c(k, D);
        for (Eigen::Index j = 0; j < k; ++j)
            for (Eigen::Index a = 0; a < D; ++a) c(j, a) = lm(i, D * j + a);
        x.push_back(c);
    }
    const PartialResultOf<D> r = partial_procrustes(x);
    Eigen::MatrixXd out(m, D * k);
    for (Eigen::Index i = 0; i < m; ++i)
        for (Eigen::Index j = 0; j < k; ++j)
            for (Eigen::Index a = 0; a < D; ++a) out(i, D * j + a) = r.projected[static_cast<std::size_t>(i)](j, a);
    return out;
}

}  // namespace

Eigen::MatrixXd gpagen_coordinates(const Eigen::MatrixXd& landmarks, int dimensions) {
    return dimensions == 3 ? gpagen_table<3>(landmarks) : gpagen_table<2>(landmarks);
}

}  // namespace quillan
