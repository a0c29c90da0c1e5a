// Test helpers for shape data: generated tables, similarity transforms, the
// real example data, and two independent computations:
//  - `sin2_distance`: the squared full Procrustes distance from its closed
//    form, 1 - |sum conj(z) w|^2 / (|z|^2 |w|^2) for centred z, w, in complex
//    arithmetic (agreement to rounding);
//  - `literal`: the consensus and distances written the plain way, row by
//    row, operation for operation as the program documents its arithmetic
//    (agreement to the last bit, so a fast path that computes anything else,
//    or stops on another tolerance, shows up).
#pragma once

#include "platform/value.hpp"
#include "shell/shell.hpp"

#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace quillan::test {

inline Matrix load_data(const std::string& name) { return dload(std::string(QUILLAN_DATA_DIR) + "/" + name); }

// Every row turned by `angle`, scaled by `scale` and moved by (dx, dy).
inline Matrix similar(const Matrix& x, double angle, double scale, double dx, double dy) {
    Matrix y = x;
    const double c = std::cos(angle), s = std::sin(angle);
    for (Eigen::Index i = 0; i < x.rows(); ++i)
        for (Eigen::Index j = 0; j + 1 < x.cols(); j += 2) {
            y(i, j) = scale * (x(i, j) * c - x(i, j + 1) * s) + dx;
            y(i, j + 1) = scale * (x(i, j) * s + x(i, j + 1) * c) + dy;
        }
    return y;
}

// n specimens of k landmarks: a base shape plus noise, each at a random
// position, size and angle; trailing value 1.5 times the row number.
inline Matrix random_table(int n, int k, std::uint64_t seed, double noise = 0.05) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    Matrix x(n, 2 * k + 1);
    for (int j = 0; j < k; ++j) {
        const double a = 2 * std::numbers::pi * j / k;
        x(0, 2 * j) = std::cos(a) * (1.0 + 0.3 * std::sin(3.0 * a)) + 0.2 * normal(rng);
        x(0, 2 * j + 1) = 0.7 * std::sin(a) + 0.2 * normal(rng);
    }
    for (int i = n - 1; i >= 0; --i) {
        for (int q = 0; q < 2 * k; ++q) x(i, q) = x(0, q) + noise * normal(rng);
        x.row(i) = similar(x.row(i), 6.0 * normal(rng), 0.5 + std::fabs(5 * normal(rng)), 50 * normal(rng), 50 * normal(rng));
        x(i, 2 * k) = 1.5 * (i + 1);
    }
    return x;
}

inline double sin2_distance(const double* a, const double* b, int k) {
    std::complex<double> za = 0, zb = 0, zw = 0;
    for (int j = 0; j < k; ++j) {
        za += std::complex<double>(a[2 * j], a[2 * j + 1]) / double(k);
        zb += std::complex<double>(b[2 * j], b[2 * j + 1]) / double(k);
    }
    double zz = 0, ww = 0;
    for (int j = 0; j < k; ++j) {
        const std::complex<double> z = std::complex<double>(a[2 * j], a[2 * j + 1]) - za;
        const std::complex<double> w = std::complex<double>(b[2 * j], b[2 * j + 1]) - zb;
        zw += std::conj(z) * w;
        zz += std::norm(z);
        ww += std::norm(w);
    }
    return 1.0 - std::norm(zw) / (zz * ww);
}

namespace literal {

inline double centroid_sizes(const double* r, int k) {
    double sx = 0, sy = 0, s = 0;
    for (int j = 0; j < k; ++j) sx = sx + r[2 * j], sy = sy + r[2 * j + 1];
    for (int j = 0; j < k; ++j) {
        const double dx = r[2 * j] - sx / k, dy = r[2 * j + 1] - sy / k;
        s = s + (dx * dx + dy * dy);
    }
    return std::sqrt(s);
}

inline void centre_scale(double* r, int k) {
    double sx = 0, sy = 0;
    for (int j = 0; j < k; ++j) sx = sx + r[2 * j], sy = sy + r[2 * j + 1];
    for (int j = 0; j < k; ++j) r[2 * j] = r[2 * j] - sx / k, r[2 * j + 1] = r[2 * j + 1] - sy / k;
    const double inv = 1.0 / centroid_sizes(r, k);
    for (int q = 0; q < 2 * k; ++q) r[q] = r[q] * inv;
}

// z becomes z times (b1 + i b2) / s, s the squared centroid size of z:
// sum |z|^2 - k |centroid|^2 and one reciprocal as the program computes it,
// or (with two_sweeps) the square of the centroid size measured about the
// centroid in a second sweep and two divisions, the textbook form.
inline void full_fit(double* r, const double* ref, int k, bool two_sweeps = false) {
    double b1 = 0, b2 = 0, sx = 0, sy = 0, zz = 0;
    for (int j = 0; j < k; ++j) {
        sx = sx + r[2 * j];
        sy = sy + r[2 * j + 1];
        b1 = b1 + (ref[2 * j] * r[2 * j] + ref[2 * j + 1] * r[2 * j + 1]);
        b2 = b2 + (r[2 * j] * ref[2 * j + 1] - r[2 * j + 1] * ref[2 * j]);
        zz = zz + (r[2 * j] * r[2 * j] + r[2 * j + 1] * r[2 * j + 1]);
    }
    double fr, fi;
    if (two_sweeps) {
        const double cs = centroid_sizes(r, k);
        fr = b1 / (cs * cs);
        fi = b2 / (cs * cs);
    } else {
        const double cx = sx / k, cy = sy / k, inv = 1.0 / (zz - k * (cx * cx + cy * cy));
        fr = b1 * inv;
        fi = b2 * inv;
    }
    for (int j = 0; j < k; ++j) {
        const double x = r[2 * j], y = r[2 * j + 1];
        r[2 * j] = x * fr - y * fi;
        r[2 * j + 1] = y * fr + x * fi;
    }
}

struct Result {
    std::vector<double> y;
    Matrix xpt;
    int passes = 0;
};

// full_procrustes_consensus.
inline Result pcafull(Matrix x, bool two_sweeps = false) {
    const int m = static_cast<int>(x.cols()), k = (m - 1) / 2, n = static_cast<int>(x.rows());
    for (int i = 0; i < n; ++i) centre_scale(&x(i, 0), k);
    Result r;
    r.y.assign(x.row(0).data(), x.row(0).data() + m);
    for (double xd = 1; xd > 1.4901161193847656e-08 * (m - 1) / 2; ++r.passes) {
        for (int i = 0; i < n; ++i) full_fit(&x(i, 0), r.y.data(), k, two_sweeps);
        const std::vector<double> old = r.y;
        for (int q = 0; q < m; ++q) {
            double s = 0;
            for (int i = 0; i < n; ++i) s = s + x(i, q);
            r.y[q] = s / n;
        }
        const double cs = centroid_sizes(r.y.data(), k);
        xd = 0;
        for (int q = 0; q < m; ++q) r.y[q] = r.y[q] / cs;
        for (int q = 0; q < m - 1; ++q) xd = xd + (r.y[q] - old[q]) * (r.y[q] - old[q]);
    }
    double sxy = 0, sxx = 0, syy = 0;
    for (int j = 0; j < k; ++j) {
        sxy = sxy + r.y[2 * j] * r.y[2 * j + 1];
        sxx = sxx + r.y[2 * j] * r.y[2 * j];
        syy = syy + r.y[2 * j + 1] * r.y[2 * j + 1];
    }
    const double theta = 0.5 * std::atan((-2 * sxy) / (sxx - syy)), c = std::cos(theta), s = std::sin(theta);
    for (int i = -1; i < n; ++i) {
        double* row = i < 0 ? r.y.data() : &x(i, 0);
        for (int j = 0; j < k; ++j) {
            const double px = row[2 * j], py = row[2 * j + 1];
            row[2 * j] = px * c - py * s;
            row[2 * j + 1] = px * s + py * c;
        }
    }
    r.y[m - 1] = 999;
    r.xpt = x;
    return r;
}

// full_procrustes_distances, column 1.
inline std::vector<double> full_procrustes_distances(const std::vector<double>& ref, Matrix x, bool two_sweeps = false) {
    const int k = static_cast<int>(x.cols() - 1) / 2;
    std::vector<double> d;
    for (Eigen::Index i = 0; i < x.rows(); ++i) {
        centre_scale(&x(i, 0), k);
        full_fit(&x(i, 0), ref.data(), k, two_sweeps);
        double s = 0;
        for (int q = 0; q < 2 * k; ++q) s = s + (x(i, q) - ref[q]) * (x(i, q) - ref[q]);
        d.push_back(std::sqrt(s));
    }
    return d;
}

// Sum of squared distances of a table from its own consensus.
inline double ss(const Matrix& x, bool two_sweeps = false) {
    const Result c = pcafull(x, two_sweeps);
    double s = 0;
    for (double d : full_procrustes_distances(c.y, c.xpt, two_sweeps)) s = s + d * d;
    return s;
}

}  // namespace literal

}  // namespace quillan::test
