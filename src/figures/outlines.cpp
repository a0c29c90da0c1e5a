#include "figures/outlines.hpp"

#include <Eigen/Eigenvalues>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quillan {

namespace {

double cross(const Point2& o, const Point2& a, const Point2& b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }

}  // namespace

Shape2 convex_hull(Shape2 p) {
    std::sort(p.begin(), p.end(), [](const Point2& a, const Point2& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
    p.erase(std::unique(p.begin(), p.end(), [](const Point2& a, const Point2& b) { return a.x == b.x && a.y == b.y; }), p.end());
    if (p.size() < 3) return p;
    // Andrew's monotone chain: lower hull left to right, upper right to left.
    Shape2 h(2 * p.size());
    std::size_t k = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        while (k >= 2 && cross(h[k - 2], h[k - 1], p[i]) <= 0) --k;
        h[k++] = p[i];
    }
    for (std::size_t i = p.size() - 1, t = k + 1; i-- > 0;) {
        while (k >= t && cross(h[k - 2], h[k - 1], p[i]) <= 0) --k;
        h[k++] = p[i];
    }
    h.resize(k - 1);
    return h;
}

Shape2 data_ellipse(const Shape2& points, int segments, double coverage) {
    const std::size_t n = points.size();
    if (n < 3 || segments < 3) return {};
    double mx = 0, my = 0;
    for (const auto& q : points) {
        mx += q.x;
        my += q.y;
    }
    mx /= static_cast<double>(n);
    my /= static_cast<double>(n);
    Eigen::Matrix2d cov = Eigen::Matrix2d::Zero();
    for (const auto& q : points) {
        const Eigen::Vector2d d(q.x - mx, q.y - my);
        cov += d * d.transpose();
    }
    cov /= static_cast<double>(n - 1);
    Eigen::SelfAdjointEigenSolver<Eigen::Matrix2d> eig(cov);
    const Eigen::Vector2d lambda = eig.eigenvalues();
    if (!(lambda(1) > 0) || !(lambda(0) > lambda(1) * 1e-12)) return {};
    // The squared Mahalanobis radius of a chi-square with two degrees of
    // freedom has the closed form -2 ln(1 - coverage).
    const double r = std::sqrt(-2.0 * std::log(1.0 - coverage));
    const Eigen::Matrix2d axes = eig.eigenvectors() * lambda.cwiseSqrt().asDiagonal();
    Shape2 out;
    for (int s = 0; s < segments; ++s) {
        const double a = 2.0 * std::numbers::pi * s / segments;
        const Eigen::Vector2d v = r * (axes * Eigen::Vector2d(std::cos(a), std::sin(a)));
        out.push_back({mx + v(0), my + v(1)});
    }
    return out;
}

}  // namespace quillan
