#include "figures/spline.hpp"

#include "platform/error.hpp"

#include <Eigen/LU>

#include <algorithm>
#include <cmath>

namespace quillan {

namespace {

// The kernel U(r) = r^2 log r^2, with U(0) = 0.
double kernel(double dx, double dy) {
    const double r2 = dx * dx + dy * dy;
    return r2 > 0 ? r2 * std::log(r2) : 0.0;
}

}  // namespace

ThinPlateSpline::ThinPlateSpline(const Shape2& source, const Shape2& target) : source_(source) {
    const auto k = static_cast<Eigen::Index>(source.size());
    if (source.size() != target.size())
        throw QuillanError("The spline needs the same landmarks in both shapes (" + std::to_string(source.size()) + " and " +
                           std::to_string(target.size()) + " given).");
    if (k < 3) throw QuillanError("The spline needs at least three landmarks.");
    // [K P; P' 0] [w; a] = [Q; 0]
    Eigen::MatrixXd l = Eigen::MatrixXd::Zero(k + 3, k + 3);
    Eigen::MatrixXd rhs = Eigen::MatrixXd::Zero(k + 3, 2);
    for (Eigen::Index i = 0; i < k; ++i) {
        const auto& pi = source[static_cast<std::size_t>(i)];
        for (Eigen::Index j = 0; j < k; ++j) {
            const auto& pj = source[static_cast<std::size_t>(j)];
            l(i, j) = kernel(pi.x - pj.x, pi.y - pj.y);
        }
        l(i, k) = l(k, i) = 1.0;
        l(i, k + 1) = l(k + 1, i) = pi.x;
        l(i, k + 2) = l(k + 2, i) = pi.y;
        rhs(i, 0) = target[static_cast<std::size_t>(i)].x;
        rhs(i, 1) = target[static_cast<std::size_t>(i)].y;
    }
    Eigen::FullPivLU<Eigen::MatrixXd> lu(l);
    if (!lu.isInvertible()) throw QuillanError("The spline cannot be fitted: the source landmarks coincide or lie on one line.");
    const Eigen::MatrixXd sol = lu.solve(rhs);
    w_ = sol.topRows(k);
    a_ = sol.bottomRows(3);
    // Bending energy: trace(W' K W).
    energy_ = std::max(0.0, (w_.transpose() * l.topLeftCorner(k, k) * w_).trace());
}

Point2 ThinPlateSpline::operator()(Point2 p) const {
    double x = a_(0, 0) + a_(1, 0) * p.x + a_(2, 0) * p.y;
    double y = a_(0, 1) + a_(1, 1) * p.x + a_(2, 1) * p.y;
    for (std::size_t i = 0; i < source_.size(); ++i) {
        const double u = kernel(p.x - source_[i].x, p.y - source_[i].y);
        x += w_(static_cast<Eigen::Index>(i), 0) * u;
        y += w_(static_cast<Eigen::Index>(i), 1) * u;
    }
    return {x, y};
}

DeformationGrid deformation_grid(const ThinPlateSpline& spline, const Shape2& source, int lines, int samples, double margin) {
    Bounds b;
    for (const auto& p : source) b.add(p);
    lines = std::max(2, lines);
    samples = std::max(2, samples);
    // Square cells: the longer side gets `lines` lines.
    const double side = std::max(b.width(), b.height()) * (1.0 + 2.0 * margin);
    const double step = side / (lines - 1);
    const int nx = std::max(2, static_cast<int>(std::ceil(b.width() * (1.0 + 2.0 * margin) / step - 1e-9)) + 1);
    const int ny = std::max(2, static_cast<int>(std::ceil(b.height() * (1.0 + 2.0 * margin) / step - 1e-9)) + 1);
    const double cx = (b.xmin + b.xmax) / 2, cy = (b.ymin + b.ymax) / 2;
    const double x0 = cx - step * (nx - 1) / 2, y0 = cy - step * (ny - 1) / 2;
    const double x1 = x0 + step * (nx - 1), y1 = y0 + step * (ny - 1);
    DeformationGrid g;
    for (int i = 0; i < nx; ++i) {  // vertical lines
        Shape2 line;
        for (int s = 0; s < samples; ++s) line.push_back(spline({x0 + step * i, y0 + (y1 - y0) * s / (samples - 1)}));
        g.lines.push_back(std::move(line));
    }
    for (int i = 0; i < ny; ++i) {  // horizontal lines
        Shape2 line;
        for (int s = 0; s < samples; ++s) line.push_back(spline({x0 + (x1 - x0) * s / (samples - 1), y0 + step * i}));
        g.lines.push_back(std::move(line));
    }
    return g;
}

}  // namespace quillan
