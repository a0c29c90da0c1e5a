#include "geometry/partial_procrustes.hpp"

#include "platform/error.hpp"
#include "platform/stop_request.hpp"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>

namespace quillan {

namespace {

Config mean_of(const std::vector<Config>& x) {
    Config m = Config::Zero(x.front().rows(), 2);
    for (const auto& c : x) m += c;
    return m / static_cast<double>(x.size());
}

// Scaled to unit centroid size without being moved: the mean of aligned
// configurations is already centred (up to rounding), and the iteration
// takes it as it is.
Config size_scaled(const Config& x) {
    const Eigen::RowVector2d c = x.colwise().mean();
    return x / std::sqrt((x.rowwise() - c).squaredNorm());
}

std::vector<Config> rotated_onto(const Config& m, const std::vector<Config>& x) {
    std::vector<Config> out;
    out.reserve(x.size());
    for (const auto& y : x) out.push_back(y * rotation_onto(m, y));
    return out;
}

// The principal axes of the mean: the rotation that puts its longest axis
// along x, with each axis pointing the way its own coordinate grows.
Eigen::Matrix2d principal_axes(const Config& m) {
    const Config c = m.rowwise() - m.colwise().mean();
    Eigen::SelfAdjointEigenSolver<Eigen::Matrix2d> eig(c.transpose() * c);
    Eigen::Matrix2d rot;
    rot.col(0) = eig.eigenvectors().col(1);
    rot.col(1) = eig.eigenvectors().col(0);
    for (int i = 0; i < 2; ++i)
        if (!(rot(i, i) > 0)) rot.col(i) = -rot.col(i);
    return rot;
}

// Projection onto the tangent space at the unit-size mean, as vectors of
// all x then all y coordinates.
std::vector<Config> projected(const std::vector<Config>& x) {
    const Config u = centre_and_scale(mean_of(x));
    std::vector<Config> out;
    out.reserve(x.size());
    for (const auto& y : x) {
        const double along = y.cwiseProduct(u).sum();
        out.push_back(y - along * u + u);
    }
    return out;
}

double summed_square_of_sum(const std::vector<Config>& x) {
    Config s = Config::Zero(x.front().rows(), 2);
    for (const auto& c : x) s += c;
    return s.squaredNorm() / static_cast<double>(x.size());
}

void finish(PartialResult& r, const Config& mean, const PartialOptions& options) {
    if (options.principal_axes) {
        const Eigen::Matrix2d rot = principal_axes(mean);
        for (auto& y : r.aligned) y = y * rot;
    }
    r.projected = projected(r.aligned);
    r.consensus = mean_of(r.projected);
}

void check_input(const std::vector<Config>& x) {
    if (x.size() < 2) throw QuillanError("A superimposition needs at least two specimens.");
    for (const auto& c : x)
        if (c.rows() != x.front().rows() || c.rows() < 3 || !c.allFinite())
            throw QuillanError("A superimposition needs configurations of the same three or more finite landmarks.");
}

// The bending-energy matrix of the thin-plate spline on `ref`: the
// landmark block of the inverse of its spline matrix, with r^2 log r as the
// kernel, as gpagen builds it.
Eigen::MatrixXd bending_energy_matrix(const Config& ref) {
    const Eigen::Index p = ref.rows();
    Eigen::MatrixXd l = Eigen::MatrixXd::Zero(p + 3, p + 3);
    for (Eigen::Index i = 0; i < p; ++i)
        for (Eigen::Index j = 0; j < p; ++j) {
            const double d = (ref.row(i) - ref.row(j)).norm();
            l(i, j) = d > 0 ? d * d * std::log(d) : 0.0;
        }
    for (Eigen::Index i = 0; i < p; ++i) {
        l(i, p) = l(p, i) = 1;
        l(i, p + 1) = l(p + 1, i) = ref(i, 0);
        l(i, p + 2) = l(p + 2, i) = ref(i, 1);
    }
    Eigen::MatrixXd unit = Eigen::MatrixXd::Zero(p + 3, p);
    unit.topRows(p).setIdentity();
    return l.partialPivLu().solve(unit).topRows(p);
}

// Unit tangents of the sliders of one configuration: the direction from
// each slider's first neighbour to its second.  Rows of landmarks that do
// not slide (or whose neighbours coincide) stay zero.
Config tangents(const Config& y, const std::vector<Slider>& sliders) {
    Config t = Config::Zero(y.rows(), 2);
    for (const auto& s : sliders) {
        const Eigen::RowVector2d d = y.row(s.after) - y.row(s.before);
        t.row(s.slider) = d / d.norm();
    }
    return t;
}

std::vector<Eigen::Index> sliding_rows(const Config& t) {
    std::vector<Eigen::Index> rows;
    for (Eigen::Index i = 0; i < t.rows(); ++i)
        if (t.row(i).squaredNorm() != 0) rows.push_back(i);
    return rows;
}

// Slides along the tangents to the least bending energy of the deformation
// from `ref`: the displacement along each tangent solves the normal
// equations of the energy restricted to the tangent lines.
Config slide_by_energy(const Config& y, const Config& t, const Config& ref, const Eigen::MatrixXd& be) {
    const auto rows = sliding_rows(t);
    const Eigen::Index s = static_cast<Eigen::Index>(rows.size());
    if (s == 0) return y;
    const Config d = y - ref;
    const Eigen::MatrixXd bd = be * d;  // p x 2
    Eigen::MatrixXd mid(s, s);
    Eigen::VectorXd rhs(s);
    for (Eigen::Index a = 0; a < s; ++a) {
        const Eigen::Index ia = rows[static_cast<std::size_t>(a)];
        rhs(a) = t(ia, 0) * bd(ia, 0) + t(ia, 1) * bd(ia, 1);
        for (Eigen::Index b = 0; b < s; ++b) {
            const Eigen::Index ib = rows[static_cast<std::size_t>(b)];
            mid(a, b) = be(ia, ib) * (t(ia, 0) * t(ib, 0) + t(ia, 1) * t(ib, 1));
        }
    }
    const Eigen::VectorXd c = mid.ldlt().solve(rhs);
    Config out = y;
    for (Eigen::Index a = 0; a < s; ++a)
        out.row(rows[static_cast<std::size_t>(a)]) -= c(a) * t.row(rows[static_cast<std::size_t>(a)]);
    return out;
}

// Slides each semilandmark to the foot of the perpendicular from its
// position on the mean to its tangent line.
Config slide_by_distance(const Config& y, const Config& t, const Config& ref) {
    Config out = y;
    for (Eigen::Index i = 0; i < y.rows(); ++i) {
        const double along = t.row(i).dot(y.row(i) - ref.row(i));
        out.row(i) -= along * t.row(i);
    }
    return out;
}

}  // namespace

Config centre_and_scale(const Config& x, double* size) {
    const Eigen::RowVector2d c = x.colwise().mean();
    const Config centred = x.rowwise() - c;
    const double cs = std::sqrt(centred.squaredNorm());
    if (size) *size = cs;
    return centred / cs;
}

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

PartialResult partial_procrustes(const std::vector<Config>& x, const PartialOptions& options) {
    check_input(x);
    PartialResult r;
    const double n = static_cast<double>(x.size());
    const int max_iterations = std::min(options.max_iterations, 4);
    std::vector<Config> ya;
    for (const auto& c : x) {
        double cs = 0;
        ya.push_back(centre_and_scale(c, &cs));
        r.sizes.push_back(cs);
    }
    ya = rotated_onto(ya.front(), ya);
    Config m = mean_of(ya);
    double ss = n * (1 - m.squaredNorm());
    double q = ss;
    m = size_scaled(m);
    int iter = 1;
    while (q > options.tolerance) {
        ++iter;
        ya = rotated_onto(m, ya);
        m = mean_of(ya);
        const double ss2 = n * (1 - m.squaredNorm());
        q = std::abs(ss - ss2);
        ss = ss2;
        m = size_scaled(m);
        if (iter > max_iterations) break;
    }
    r.aligned = std::move(ya);
    r.iterations = iter;
    r.last_change = q;
    r.converged = q <= options.tolerance;
    finish(r, m, options);
    return r;
}

std::vector<Config> slide_once(const std::vector<Config>& x, const std::vector<Slider>& sliders, const Config& ref,
                               SlideCriterion criterion) {
    std::vector<Config> out;
    out.reserve(x.size());
    Eigen::MatrixXd be;
    if (criterion == SlideCriterion::BendingEnergy) be = bending_energy_matrix(ref);
    for (const auto& y : x) {
        const Config t = tangents(y, sliders);
        out.push_back(criterion == SlideCriterion::BendingEnergy ? slide_by_energy(y, t, ref, be) : slide_by_distance(y, t, ref));
    }
    return out;
}

double slide_criterion(const std::vector<Config>& x, const Config& ref, SlideCriterion criterion) {
    double total = 0;
    if (criterion == SlideCriterion::ProcrustesDistance) {
        for (const auto& y : x) total += (y - ref).squaredNorm();
        return total;
    }
    const Eigen::MatrixXd be = bending_energy_matrix(ref);
    for (const auto& y : x) {
        const Config d = y - ref;
        total += (d.transpose() * be * d).trace();
    }
    return total;
}

PartialResult slide_semilandmarks(const std::vector<Config>& x, const std::vector<Slider>& sliders,
                                  const PartialOptions& options) {
    check_input(x);
    for (const auto& s : sliders)
        if (std::max({s.before, s.slider, s.after}) >= x.front().rows() || std::min({s.before, s.slider, s.after}) < 0)
            throw QuillanError("A slider names a landmark the configurations do not have.");
    PartialResult r;
    std::vector<Config> slid;
    for (const auto& c : x) {
        double cs = 0;
        slid.push_back(centre_and_scale(c, &cs));
        r.sizes.push_back(cs);
    }
    slid = rotated_onto(slid.front(), slid);
    Config ref = mean_of(slid);
    double ss0 = summed_square_of_sum(slid);
    double q = ss0;
    int iter = 1;
    while (q > options.tolerance) {
        stop_point();
        ++iter;
        const std::vector<Config> moved = slide_once(slid, sliders, ref, options.criterion);
        const double ss = summed_square_of_sum(moved);
        std::vector<Config> next = rotated_onto(ref, moved);
        r.last_movement = 0;
        for (std::size_t j = 0; j < slid.size(); ++j)
            r.last_movement = std::max(r.last_movement, (next[j] - slid[j]).rowwise().norm().maxCoeff());
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

}  // namespace quillan
