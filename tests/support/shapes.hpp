// Test helpers for shape data: generated landmark tables, similarity
// transforms, the real example data, and two independent computations of the
// Procrustes quantities:
//  - `literal`: the documented procedure written the plain way, one row at a
//    time with ordinary loops and matrices, operation for operation as the
//    program documents its arithmetic.  The program must match it to the last
//    bit; any difference means its fast path computes something else.
//  - `sin2_distance`: the full Procrustes distance from its closed form,
//    d^2 = 1 - |sum conj(z) w|^2 / (|z|^2 |w|^2) for centred z and w, in
//    complex arithmetic; agreement is to rounding only.
#pragma once

#include "platform/value.hpp"
#include "shell/shell.hpp"

#include <cmath>
#include <complex>
#include <numbers>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace quillan::test {

inline std::string data_path(const std::string& name) { return std::string(QUILLAN_DATA_DIR) + "/" + name; }

inline Matrix load_data(const std::string& name) { return dload(data_path(name)); }

inline int landmarks_of(const Matrix& x) { return static_cast<int>((x.cols() - 1) / 2); }

// Row i turned by `angle`, scaled by `scale` and moved by (dx, dy); the
// trailing value is kept.
inline Matrix similar(const Matrix& x, double angle, double scale, double dx, double dy) {
    Matrix y = x;
    const double c = std::cos(angle), s = std::sin(angle);
    const int k = landmarks_of(x);
    for (Eigen::Index i = 0; i < x.rows(); ++i)
        for (int j = 0; j < k; ++j) {
            const double px = x(i, 2 * j), py = x(i, 2 * j + 1);
            y(i, 2 * j) = scale * (px * c - py * s) + dx;
            y(i, 2 * j + 1) = scale * (px * s + py * c) + dy;
        }
    return y;
}

// n specimens of k landmarks: a fixed base shape plus independent noise of
// the given size, each then placed at a random position, size and
// orientation.  The trailing value is the specimen's number times 1.5.
inline Matrix random_table(int n, int k, std::uint64_t seed, double noise = 0.05) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<double> base(2 * static_cast<std::size_t>(k));
    for (int j = 0; j < k; ++j) {
        const double a = 2 * std::numbers::pi * j / k;
        base[2 * j] = std::cos(a) * (1.0 + 0.3 * std::sin(3.0 * a)) + 0.2 * normal(rng);
        base[2 * j + 1] = 0.7 * std::sin(a) + 0.2 * normal(rng);
    }
    Matrix x(n, 2 * k + 1);
    for (int i = 0; i < n; ++i) {
        const double angle = 2 * std::numbers::pi * uniform(rng);
        const double scale = 0.5 + 10 * uniform(rng);
        const double dx = 100 * (uniform(rng) - 0.5), dy = 100 * (uniform(rng) - 0.5);
        const double c = std::cos(angle), s = std::sin(angle);
        for (int j = 0; j < k; ++j) {
            const double px = base[2 * j] + noise * normal(rng);
            const double py = base[2 * j + 1] + noise * normal(rng);
            x(i, 2 * j) = scale * (px * c - py * s) + dx;
            x(i, 2 * j + 1) = scale * (px * s + py * c) + dy;
        }
        x(i, 2 * k) = 1.5 * (i + 1);
    }
    return x;
}

// Landmarks of a row as complex numbers, centred.
inline std::vector<std::complex<double>> centred_complex(const double* row, int k) {
    std::vector<std::complex<double>> z(static_cast<std::size_t>(k));
    std::complex<double> mean = 0;
    for (int j = 0; j < k; ++j) {
        z[j] = {row[2 * j], row[2 * j + 1]};
        mean += z[j];
    }
    mean /= static_cast<double>(k);
    for (auto& v : z) v -= mean;
    return z;
}

// Squared full Procrustes distance between two configurations (k
// landmarks each, interleaved), from the closed form.
inline double sin2_distance(const double* a, const double* b, int k) {
    const auto z = centred_complex(a, k), w = centred_complex(b, k);
    std::complex<double> zw = 0;
    double zz = 0, ww = 0;
    for (int j = 0; j < k; ++j) {
        zw += std::conj(z[j]) * w[j];
        zz += std::norm(z[j]);
        ww += std::norm(w[j]);
    }
    return 1.0 - std::norm(zw) / (zz * ww);
}

namespace literal {

inline void centpos(const double* r, int k, double& cx, double& cy) {
    double sx = 0, sy = 0;
    for (int j = 0; j < k; ++j) {
        sx = sx + r[2 * j];
        sy = sy + r[2 * j + 1];
    }
    cx = sx / k;
    cy = sy / k;
}

inline double centsize(const double* r, int k) {
    double cx, cy;
    centpos(r, k, cx, cy);
    double s = 0;
    for (int j = 0; j < k; ++j) {
        const double dx = r[2 * j] - cx, dy = r[2 * j + 1] - cy;
        s = s + (dx * dx + dy * dy);
    }
    return std::sqrt(s);
}

inline void centre_scale(double* r, int k) {
    double cx, cy;
    centpos(r, k, cx, cy);
    for (int j = 0; j < k; ++j) {
        r[2 * j] = r[2 * j] - cx;
        r[2 * j + 1] = r[2 * j + 1] - cy;
    }
    const double cs = centsize(r, k);
    const double inv = 1.0 / cs;
    for (int q = 0; q < 2 * k; ++q) r[q] = r[q] * inv;
}

inline void full_fit(double* r, const double* ref, int k) {
    double b1 = 0, b2 = 0;
    for (int j = 0; j < k; ++j) {
        b1 = b1 + (ref[2 * j] * r[2 * j] + ref[2 * j + 1] * r[2 * j + 1]);
        b2 = b2 + (r[2 * j] * ref[2 * j + 1] - r[2 * j + 1] * ref[2 * j]);
    }
    // z times the complex factor (b1 + i b2) / s.
    const double cs = centsize(r, k);
    const double s = cs * cs;
    const double fr = b1 / s, fi = b2 / s;
    std::vector<double> newx(static_cast<std::size_t>(k));
    for (int j = 0; j < k; ++j) newx[j] = r[2 * j] * fr - r[2 * j + 1] * fi;
    for (int j = 0; j < k; ++j) r[2 * j + 1] = r[2 * j + 1] * fr + r[2 * j] * fi;
    for (int j = 0; j < k; ++j) r[2 * j] = newx[j];
}

struct Result {
    std::vector<double> y;
    Matrix xpt;
    int passes = 0;
};

// getconsensuspcafull, the plain way.
inline Result pcafull(Matrix x) {
    const int k = landmarks_of(x);
    const int m = static_cast<int>(x.cols());
    const int n = static_cast<int>(x.rows());
    for (int i = 0; i < n; ++i) centre_scale(&x(i, 0), k);
    std::vector<double> xref(x.row(0).data(), x.row(0).data() + m);
    const double tol = 1.4901161193847656e-08 * (m - 1) / 2;
    double xd = 1;
    Result r;
    while (xd > tol) {
        ++r.passes;
        for (int i = 0; i < n; ++i) full_fit(&x(i, 0), xref.data(), k);
        const std::vector<double> xrefold = xref;
        for (int q = 0; q < m; ++q) {
            double s = 0;
            for (int i = 0; i < n; ++i) s = s + x(i, q);
            xref[q] = s / n;
        }
        const double cs = centsize(xref.data(), k);
        for (int q = 0; q < m; ++q) xref[q] = xref[q] / cs;
        xd = 0;
        for (int q = 0; q < m - 1; ++q) xd = xd + (xref[q] - xrefold[q]) * (xref[q] - xrefold[q]);
    }
    double sxy = 0, sxx = 0, syy = 0;
    for (int j = 0; j < k; ++j) {
        sxy = sxy + xref[2 * j] * xref[2 * j + 1];
        sxx = sxx + xref[2 * j] * xref[2 * j];
        syy = syy + xref[2 * j + 1] * xref[2 * j + 1];
    }
    const double theta = 0.5 * std::atan((-2 * sxy) / (sxx - syy));
    const double c = std::cos(theta), s = std::sin(theta);
    auto turn = [&](double* row) {
        for (int j = 0; j < k; ++j) {
            const double px = row[2 * j], py = row[2 * j + 1];
            row[2 * j] = px * c - py * s;
            row[2 * j + 1] = px * s + py * c;
        }
    };
    turn(xref.data());
    for (int i = 0; i < n; ++i) turn(&x(i, 0));
    xref[m - 1] = 999;
    r.y = xref;
    r.xpt = x;
    return r;
}

// fullpdist, the plain way: distances only.
inline std::vector<double> fullpdist(const std::vector<double>& xref, Matrix x) {
    const int k = landmarks_of(x);
    std::vector<double> d(static_cast<std::size_t>(x.rows()));
    for (Eigen::Index i = 0; i < x.rows(); ++i) {
        double* r = &x(i, 0);
        centre_scale(r, k);
        full_fit(r, xref.data(), k);
        double s = 0;
        for (int q = 0; q < 2 * k; ++q) s = s + (r[q] - xref[q]) * (r[q] - xref[q]);
        d[static_cast<std::size_t>(i)] = std::sqrt(s);
    }
    return d;
}

// Sum of squared distances of a table from its own consensus.
inline double ss(const Matrix& x) {
    const Result c = pcafull(x);
    double s = 0;
    for (double d : fullpdist(c.y, c.xpt)) s = s + d * d;
    return s;
}

}  // namespace literal

}  // namespace quillan::test
