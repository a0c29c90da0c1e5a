// The arithmetic of the Procrustes routines, written once for every caller.
//
// Internal to geometry/ (and the benchmarks); callers outside use
// geometry.hpp and shape_table.hpp.
//
// A "tile" holds W configurations side by side: coordinate q (0-based, x of
// landmark j at q = 2j, its y at q = 2j + 1) of configuration l sits at
// t[q * W + l].  With W = 1 a tile is simply one configuration row without its
// trailing value.  Every kernel does, for each lane, exactly the scalar
// operations a row-by-row loop would do, in the same order; the lanes only
// let the compiler run several configurations through the same instructions
// at once.  So a configuration gets bit-for-bit the same result whichever
// lane, tile width or caller it goes through, and a group's result depends
// only on its rows and their order.
//
// Conventions shared by all kernels (they define the program's numbers):
//  - the centroid is (sum of x) / k and (sum of y) / k, sums from 0 in
//    landmark order;
//  - the centroid size is the square root of the sum over landmarks of
//    (dx*dx + dy*dy) about the centroid, in landmark order;
//  - a complex product is written out in real and imaginary parts;
//  - no fused multiply-add: the build turns contraction off so that these
//    formulas are what the machine computes.
#pragma once

#include <cmath>
#include <cstddef>

namespace quillan::kernels {

// Configurations per tile in the hot path.
inline constexpr int kLanes = 4;

// Centroid of each lane.
template <int W>
inline void centroid(const double* t, int k, double* cx, double* cy) {
    double sx[W], sy[W];
    for (int l = 0; l < W; ++l) sx[l] = sy[l] = 0.0;
    for (int j = 0; j < k; ++j) {
        const double* px = t + 2 * j * W;
        const double* py = px + W;
        for (int l = 0; l < W; ++l) {
            sx[l] += px[l];
            sy[l] += py[l];
        }
    }
    const double p = static_cast<double>(k);
    for (int l = 0; l < W; ++l) {
        cx[l] = sx[l] / p;
        cy[l] = sy[l] / p;
    }
}

// Centroid size of each lane: measured about the lane's own centroid.
template <int W>
inline void centroid_size(const double* t, int k, double* cs) {
    double cx[W], cy[W], ss[W];
    centroid<W>(t, k, cx, cy);
    for (int l = 0; l < W; ++l) ss[l] = 0.0;
    for (int j = 0; j < k; ++j) {
        const double* px = t + 2 * j * W;
        const double* py = px + W;
        for (int l = 0; l < W; ++l) {
            const double dx = px[l] - cx[l];
            const double dy = py[l] - cy[l];
            ss[l] += dx * dx + dy * dy;
        }
    }
    for (int l = 0; l < W; ++l) cs[l] = std::sqrt(ss[l]);
}

// Centring and scaling in place: subtract the centroid, then divide by the
// centroid size of the centred configuration (its centroid is measured again,
// as it is for any configuration).  `cs` receives the divisor of each lane; a
// zero divisor leaves non-finite values, which callers check for.
template <int W>
inline void centre_scale(double* t, int k, double* cs) {
    double cx[W], cy[W];
    centroid<W>(t, k, cx, cy);
    for (int j = 0; j < k; ++j) {
        double* px = t + 2 * j * W;
        double* py = px + W;
        for (int l = 0; l < W; ++l) {
            px[l] -= cx[l];
            py[l] -= cy[l];
        }
    }
    centroid_size<W>(t, k, cs);
    for (int q = 0; q < 2 * k; ++q) {
        double* pq = t + q * W;
        for (int l = 0; l < W; ++l) pq[l] /= cs[l];
    }
}

// The two sums of the fit of each lane onto the reference `ref` (interleaved
// x, y): b1 + i b2 = sum of conj(z) w, with z the lane's landmarks and w the
// reference's.
template <int W>
inline void fit_sums(const double* t, const double* ref, int k, double* b1, double* b2) {
    for (int l = 0; l < W; ++l) b1[l] = b2[l] = 0.0;
    for (int j = 0; j < k; ++j) {
        const double rx = ref[2 * j];
        const double ry = ref[2 * j + 1];
        const double* px = t + 2 * j * W;
        const double* py = px + W;
        for (int l = 0; l < W; ++l) {
            const double x = px[l];
            const double y = py[l];
            b1[l] += rx * x + ry * y;
            b2[l] += x * ry - y * rx;
        }
    }
}

// Full Procrustes fit of every lane onto `ref`, in place: z becomes
// (b1 + i b2) z / s with s the squared centroid size of z.  The configuration
// takes the size the fit gives it.
template <int W>
inline void fit_full(double* t, const double* ref, int k) {
    double b1[W], b2[W], cs[W], s[W];
    fit_sums<W>(t, ref, k, b1, b2);
    centroid_size<W>(t, k, cs);
    for (int l = 0; l < W; ++l) s[l] = cs[l] * cs[l];
    for (int j = 0; j < k; ++j) {
        double* px = t + 2 * j * W;
        double* py = px + W;
        for (int l = 0; l < W; ++l) {
            const double x = px[l];
            const double y = py[l];
            px[l] = (x * b1[l] - y * b2[l]) / s[l];
            py[l] = (y * b1[l] + x * b2[l]) / s[l];
        }
    }
}

// Rotation-only fit of every lane onto `ref`, in place: turned by the angle
// atan2(b2, b1); the size is kept.
template <int W>
inline void fit_rotation(double* t, const double* ref, int k) {
    double b1[W], b2[W], c[W], s[W];
    fit_sums<W>(t, ref, k, b1, b2);
    for (int l = 0; l < W; ++l) {
        const double theta = std::atan2(b2[l], b1[l]);
        c[l] = std::cos(theta);
        s[l] = std::sin(theta);
    }
    for (int j = 0; j < k; ++j) {
        double* px = t + 2 * j * W;
        double* py = px + W;
        for (int l = 0; l < W; ++l) {
            const double x = px[l];
            const double y = py[l];
            px[l] = x * c[l] - y * s[l];
            py[l] = x * s[l] + y * c[l];
        }
    }
}

// Turns every lane by the angle whose cosine and sine are c and s.
template <int W>
inline void rotate(double* t, int k, double c, double s) {
    for (int j = 0; j < k; ++j) {
        double* px = t + 2 * j * W;
        double* py = px + W;
        for (int l = 0; l < W; ++l) {
            const double x = px[l];
            const double y = py[l];
            px[l] = x * c - y * s;
            py[l] = x * s + y * c;
        }
    }
}

// Full Procrustes distance of each lane (already centred and scaled) from
// `ref`: the lane is fitted onto `ref` as by fit_full (without storing the
// result) and d is the Euclidean distance between the fitted coordinates and
// the reference's, summed coordinate by coordinate in column order.
template <int W>
inline void fit_distance(const double* t, const double* ref, int k, double* d) {
    double b1[W], b2[W], cs[W], s[W], acc[W];
    fit_sums<W>(t, ref, k, b1, b2);
    centroid_size<W>(t, k, cs);
    for (int l = 0; l < W; ++l) {
        s[l] = cs[l] * cs[l];
        acc[l] = 0.0;
    }
    for (int j = 0; j < k; ++j) {
        const double rx = ref[2 * j];
        const double ry = ref[2 * j + 1];
        const double* px = t + 2 * j * W;
        const double* py = px + W;
        for (int l = 0; l < W; ++l) {
            const double x = px[l];
            const double y = py[l];
            const double ex = (x * b1[l] - y * b2[l]) / s[l] - rx;
            const double ey = (y * b1[l] + x * b2[l]) / s[l] - ry;
            acc[l] += ex * ex;
            acc[l] += ey * ey;
        }
    }
    for (int l = 0; l < W; ++l) d[l] = std::sqrt(acc[l]);
}

// Centroid size of one configuration row (interleaved, k landmarks).
inline double row_centroid_size(const double* row, int k) {
    double cs;
    centroid_size<1>(row, k, &cs);
    return cs;
}

}  // namespace quillan::kernels
