#include "analyses/linear_models/model_shapes.hpp"

#include "geometry/geometry.hpp"

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

Eigen::MatrixXd tangent_shapes(const Matrix& landmarks, Alignment alignment, int dimensions) {
    if (alignment == Alignment::Partial) return projected(partial_procrustes_alignment(landmarks, dimensions), dimensions);
    const Consensus c = full_procrustes_consensus(landmarks, dimensions);
    return projected(coordinates_of(c.xpt), dimensions);
}

}  // namespace quillan
