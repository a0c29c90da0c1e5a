#include "analyses/linear_models/model_shapes.hpp"

#include "geometry/geometry.hpp"
#include "platform/stop_request.hpp"

#include <cmath>
#include <complex>

namespace quillan {

namespace {

using Config = Eigen::VectorXd;  // x1 y1 ... xk yk, or x1 y1 z1 ... xk yk zk in space

Config centred_unit_space(const Config& y) {
    const Eigen::Index k = y.size() / 3;
    Config c = y;
    for (Eigen::Index axis = 0; axis < 3; ++axis) {
        double m = 0;
        for (Eigen::Index j = 0; j < k; ++j) m += y(3 * j + axis);
        m /= static_cast<double>(k);
        for (Eigen::Index j = 0; j < k; ++j) c(3 * j + axis) -= m;
    }
    return c / c.norm();
}

Config centred_unit(const Config& y, int dimensions) {
    if (dimensions == 3) return centred_unit_space(y);
    const Eigen::Index k = y.size() / 2;
    Config c = y;
    double mx = 0, my = 0;
    for (Eigen::Index j = 0; j < k; ++j) {
        mx += y(2 * j);
        my += y(2 * j + 1);
    }
    mx /= static_cast<double>(k);
    my /= static_cast<double>(k);
    for (Eigen::Index j = 0; j < k; ++j) {
        c(2 * j) -= mx;
        c(2 * j + 1) -= my;
    }
    return c / c.norm();
}

// Configuration `y` of the plane (x1 y1 ... xk yk) turned in place (no
// reflection) to fit `reference` best by least squares.
void turn_in_plane(double* y, const double* reference, Eigen::Index k) {
    double re = 0, im = 0;  // sum of conj(reference) * y
    for (Eigen::Index j = 0; j < k; ++j) {
        const double rx = reference[2 * j], ry = reference[2 * j + 1], x = y[2 * j], v = y[2 * j + 1];
        re += rx * x + ry * v;
        im += rx * v - ry * x;
    }
    const double r = std::hypot(re, im);
    if (r == 0) return;
    const double c = re / r, s = -im / r;  // conj(sum) / |sum|
    for (Eigen::Index j = 0; j < k; ++j) {
        const double x = y[2 * j], v = y[2 * j + 1];
        y[2 * j] = x * c - v * s;
        y[2 * j + 1] = x * s + v * c;
    }
}

// y turned (no reflection) to fit `reference` best by least squares.
Config turned_onto(const Config& y, const Config& reference, int dimensions) {
    if (dimensions == 3) {
        Config out(y.size());
        turn_rows_in_space(y.data(), reference.data(), static_cast<int>(y.size() / 3), y.data(), 1, out.data());
        return out;
    }
    const Eigen::Index k = y.size() / 2;
    std::complex<double> s(0, 0);
    for (Eigen::Index j = 0; j < k; ++j)
        s += std::conj(std::complex<double>(reference(2 * j), reference(2 * j + 1))) *
             std::complex<double>(y(2 * j), y(2 * j + 1));
    if (std::abs(s) == 0) return y;
    const std::complex<double> turn = std::conj(s) / std::abs(s);
    Config out(y.size());
    for (Eigen::Index j = 0; j < k; ++j) {
        const std::complex<double> z = std::complex<double>(y(2 * j), y(2 * j + 1)) * turn;
        out(2 * j) = z.real();
        out(2 * j + 1) = z.imag();
    }
    return out;
}

Eigen::MatrixXd coordinates_of(const Matrix& landmarks) { return Eigen::MatrixXd(landmarks.leftCols(landmarks.cols() - 1)); }

// The rotation of the configurations (the columns of `t`) that puts the
// principal axes of their mean along x, y (and z), each pointing the way its
// coordinate grows (the last turned if need be so that nothing is mirrored).
void onto_principal_axes(Eigen::MatrixXd& t, int dimensions) {
    using Points = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
    const Eigen::Index k = t.rows() / dimensions;
    const Config mean = t.rowwise().mean();
    const Points m = Eigen::Map<const Points>(mean.data(), k, dimensions);
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eig(m.transpose() * m);
    Eigen::MatrixXd rot(dimensions, dimensions);
    for (int i = 0; i < dimensions; ++i) rot.col(i) = eig.eigenvectors().col(dimensions - 1 - i);
    for (int i = 0; i < dimensions; ++i)
        if (!(rot(i, i) > 0)) rot.col(i) = -rot.col(i);
    if (rot.determinant() < 0) rot.col(dimensions - 1) = -rot.col(dimensions - 1);
    for (Eigen::Index i = 0; i < t.cols(); ++i) {
        Eigen::Map<Points> y(t.col(i).data(), k, dimensions);
        y = Points(y * rot);
    }
}

// Goes on fitting the rows of `a` (centred) onto the unit-size mean of the
// rows until the mean no longer moves: the optimum, where the result no
// longer depends on where the iteration began (the first specimen) nor on
// the order of the rows.  A full fit also scales each row, by the cosine of
// its angle to the mean.  The iteration approaches the optimum
// geometrically, and stops when a pass moves no coordinate of the mean by
// more than a few units of rounding, or when rounding keeps it from moving
// less.  It runs on the configurations as columns, each one contiguous.
Eigen::MatrixXd to_optimum(const Eigen::MatrixXd& a, Alignment alignment, int dimensions) {
    constexpr int kMostPasses = 10000;
    constexpr double kSettled = 1e-15, kRounding = 1e-12;
    Eigen::MatrixXd t = a.transpose();
    Config mean = centred_unit(t.rowwise().mean(), dimensions);
    double last = INFINITY;
    for (int pass = 0; pass < kMostPasses; ++pass) {
        if (pass % 64 == 63) stop_point();
        for (Eigen::Index i = 0; i < t.cols(); ++i) {
            if (dimensions == 2) turn_in_plane(t.col(i).data(), mean.data(), t.rows() / 2);
            else t.col(i) = turned_onto(t.col(i), mean, dimensions);
            const double size = t.col(i).squaredNorm();
            if (alignment == Alignment::Full && size > 0) t.col(i) *= t.col(i).dot(mean) / size;
        }
        const Config next = centred_unit(t.rowwise().mean(), dimensions);
        const double moved = (next - mean).lpNorm<Eigen::Infinity>();
        mean = next;
        if (moved <= kSettled || (moved < kRounding && moved >= last)) break;
        last = moved;
    }
    onto_principal_axes(t, dimensions);
    return t.transpose();
}

}  // namespace

Eigen::MatrixXd partial_procrustes_alignment(const Matrix& landmarks, int dimensions) {
    const Eigen::MatrixXd raw = coordinates_of(landmarks);
    const Eigen::Index n = raw.rows();
    const double dn = static_cast<double>(n);
    Eigen::MatrixXd a(n, raw.cols());
    for (Eigen::Index i = 0; i < n; ++i) a.row(i) = centred_unit(raw.row(i).transpose(), dimensions).transpose();
    const Config first = a.row(0).transpose();
    for (Eigen::Index i = 0; i < n; ++i) a.row(i) = turned_onto(a.row(i).transpose(), first, dimensions).transpose();
    Config mean = a.colwise().mean().transpose();
    double ss = dn * (1 - mean.squaredNorm()), change = ss;
    mean /= mean.norm();
    for (int pass = 1; change > 1e-4;) {
        ++pass;
        for (Eigen::Index i = 0; i < n; ++i) a.row(i) = turned_onto(a.row(i).transpose(), mean, dimensions).transpose();
        mean = a.colwise().mean().transpose();
        const double ss2 = dn * (1 - mean.squaredNorm());
        change = std::abs(ss - ss2);
        ss = ss2;
        mean /= mean.norm();
        if (pass > 4) break;
    }
    return a;
}

Eigen::MatrixXd projected(const Eigen::MatrixXd& aligned, int dimensions) {
    const Config mean = aligned.colwise().mean().transpose();
    const Config m = centred_unit(mean, dimensions);
    Eigen::MatrixXd out = aligned - (aligned * m) * m.transpose();
    out.rowwise() += m.transpose();
    return out;
}

Eigen::MatrixXd tangent_shapes(const Matrix& landmarks, Alignment alignment, int dimensions, GpaSteps steps) {
    Eigen::MatrixXd aligned = alignment == Alignment::Partial
                                  ? partial_procrustes_alignment(landmarks, dimensions)
                                  : coordinates_of(full_procrustes_consensus(landmarks, dimensions).xpt);
    if (steps == GpaSteps::Converged) aligned = to_optimum(aligned, alignment, dimensions);
    return projected(aligned, dimensions);
}

std::string superimposition_words(const ModelRequest& q) {
    return std::string(q.alignment == Alignment::Full ? "full Procrustes superimposition"
                                                      : "partial Procrustes superimposition (unit centroid size)") +
           (q.gpa_steps == GpaSteps::Converged  ? ", iterated to its optimum"
            : q.alignment == Alignment::Partial ? ", by gpagen's steps (from the first specimen to a change of 1e-4)"
                                                : ", by the consensus's own steps (stopped at its tolerance)");
}

const char* gpa_steps_name(GpaSteps steps) { return steps == GpaSteps::Converged ? "converged" : "gpagen"; }

}  // namespace quillan
