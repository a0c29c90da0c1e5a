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

// Projects the rows of `aligned` onto the tangent plane at their mean,
// scaled to unit size, and adds that consensus back.
Eigen::MatrixXd projected(const Eigen::MatrixXd& aligned, int dimensions) {
    const Config mean = aligned.colwise().mean().transpose();
    const Config m = centred_unit(mean, dimensions);
    Eigen::MatrixXd out = aligned - (aligned * m) * m.transpose();
    out.rowwise() += m.transpose();
    return out;
}

// The rotation of the rows that puts the principal axes of their mean along
// x, y (and z), each pointing the way its coordinate grows (the last turned
// if need be so that nothing is mirrored).
Eigen::MatrixXd on_principal_axes(const Eigen::MatrixXd& a, int dimensions) {
    using Points = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
    const Eigen::Index k = a.cols() / dimensions;
    const Config mean = a.colwise().mean().transpose();
    const Points m = Eigen::Map<const Points>(mean.data(), k, dimensions);
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eig(m.transpose() * m);
    Eigen::MatrixXd rot(dimensions, dimensions);
    for (int i = 0; i < dimensions; ++i) rot.col(i) = eig.eigenvectors().col(dimensions - 1 - i);
    for (int i = 0; i < dimensions; ++i)
        if (!(rot(i, i) > 0)) rot.col(i) = -rot.col(i);
    if (rot.determinant() < 0) rot.col(dimensions - 1) = -rot.col(dimensions - 1);
    Eigen::MatrixXd out(a.rows(), a.cols());
    for (Eigen::Index i = 0; i < a.rows(); ++i) {
        const Config y = a.row(i).transpose();
        const Points turned = Eigen::Map<const Points>(y.data(), k, dimensions) * rot;
        out.row(i) = Eigen::Map<const Eigen::RowVectorXd>(turned.data(), turned.size());
    }
    return out;
}

// Goes on fitting the rows of `a` (centred) onto the unit-size mean of the
// rows until the mean no longer moves: the optimum, where the result no
// longer depends on where the iteration began (the first specimen) nor on
// the order of the rows.  A full fit also scales each row, by the cosine of
// its angle to the mean.  The iteration approaches the optimum
// geometrically, and stops when a pass moves no coordinate of the mean by
// more than a few units of rounding, or when rounding keeps it from moving
// less.
Eigen::MatrixXd to_optimum(Eigen::MatrixXd a, Alignment alignment, int dimensions) {
    constexpr int kMostPasses = 10000;
    constexpr double kSettled = 1e-15, kRounding = 1e-12;
    Config mean = centred_unit(a.colwise().mean().transpose(), dimensions);
    double last = INFINITY;
    for (int pass = 0; pass < kMostPasses; ++pass) {
        if (pass % 64 == 63) stop_point();
        for (Eigen::Index i = 0; i < a.rows(); ++i) {
            Config y = turned_onto(a.row(i).transpose(), mean, dimensions);
            if (alignment == Alignment::Full && y.squaredNorm() > 0) y *= y.dot(mean) / y.squaredNorm();
            a.row(i) = y.transpose();
        }
        const Config next = centred_unit(a.colwise().mean().transpose(), dimensions);
        const double moved = (next - mean).lpNorm<Eigen::Infinity>();
        mean = next;
        if (moved <= kSettled || (moved < kRounding && moved >= last)) break;
        last = moved;
    }
    return on_principal_axes(a, dimensions);
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

Eigen::MatrixXd tangent_shapes(const Matrix& landmarks, Alignment alignment, int dimensions, GpaSteps steps) {
    Eigen::MatrixXd aligned = alignment == Alignment::Partial
                                  ? partial_procrustes_alignment(landmarks, dimensions)
                                  : coordinates_of(full_procrustes_consensus(landmarks, dimensions).xpt);
    if (steps == GpaSteps::Converged) aligned = to_optimum(std::move(aligned), alignment, dimensions);
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
