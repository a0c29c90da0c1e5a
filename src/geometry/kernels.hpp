// The arithmetic of the Procrustes routines, written once for every caller.
//
// Internal to geometry/; callers outside use geometry.hpp and shape_table.hpp.
//
// A "tile" holds W configurations side by side: coordinate q (0-based, x of
// landmark j at q = 2j, its y at q = 2j + 1) of configuration l sits at
// t[q * W + l].  With W = 1 a tile is simply one configuration row without its
// trailing value.  The kernels are written for a lane type T: `double` (one
// configuration) or `Lanes` (kLanes configurations at once, in SIMD
// registers).  Each lane does exactly the scalar operations a row-by-row loop
// would do, in the same order; the lanes only let one instruction serve
// several configurations.  So a configuration gets bit-for-bit the same result
// whichever lane, tile width or caller it goes through, and a group's result
// depends only on its rows and their order.
//
// The arithmetic (it defines the program's numbers):
//  - centroid: (sum of x) / k and (sum of y) / k, sums from 0 in landmark
//    order;
//  - centroid size: the square root of the sum over landmarks of
//    (dx*dx + dy*dy) about the centroid, in landmark order;
//  - centring and scaling: subtract the centroid, measure the centroid size
//    of the result and multiply every coordinate by its reciprocal;
//  - full fit of z onto w: b1 + i b2 = sum of conj(z) w, s = (centroid size
//    of z)^2 taken as sum |z|^2 - k |centroid|^2 in the same sweep, and z
//    becomes z times the complex factor (b1 r) + i (b2 r) with r = 1 / s,
//    written out in real and imaginary parts;
//  - no fused multiply-add: the build turns contraction off so that these
//    formulas are what the machine computes.
//
// The same code is compiled once per instruction set (kernel_dispatch.hpp):
// each copy lives in an inline namespace of its own, named by
// QUILLAN_KERNEL_VARIANT, with QUILLAN_KERNEL_LANES doubles per vector, so a
// template instantiated for AVX2 can never be merged by the linker with, and
// called from, the baseline code.  Without those macros this is the baseline
// x86-64 copy (two lanes, one SSE2 register).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstring>
#include <utility>

#ifndef QUILLAN_KERNEL_VARIANT
#define QUILLAN_KERNEL_VARIANT baseline
#define QUILLAN_KERNEL_LANES 2
#endif

namespace quillan::kernels {
inline namespace QUILLAN_KERNEL_VARIANT {

// Configurations per tile in the hot path, and their lane type: one register
// of the instruction set this copy is built for (2 doubles for SSE2, 4 for
// AVX2, 8 for AVX-512).  Lanes wider than the machine's registers would be
// split by the compiler and run slower than two.
inline constexpr int kLanes = QUILLAN_KERNEL_LANES;
typedef double Lanes __attribute__((vector_size(kLanes * sizeof(double))));

template <class T>
inline constexpr int kWidth = static_cast<int>(sizeof(T) / sizeof(double));

template <class T>
inline T load(const double* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
inline void store(double* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

template <class T>
inline T broadcast(double x);
template <>
inline double broadcast<double>(double x) {
    return x;
}
// Every lane x, as one broadcast instruction.  Written lane by lane, the
// compiler may merge the broadcasts of two neighbouring values (a reference's
// x and y) into a vector built on the stack piece by piece and loaded back
// whole, which stalls every iteration of a sweep on the 8-lane kernel; a
// shuffle of lane 0 says what is meant.
typedef long long LaneIndex __attribute__((vector_size(kLanes * sizeof(long long))));
#if defined(__clang__)
template <std::size_t... I>
inline Lanes broadcast_lane0(Lanes v, std::index_sequence<I...>) {
    return __builtin_shufflevector(v, v, ((void)I, 0)...);
}
#endif
template <>
inline Lanes broadcast<Lanes>(double x) {
    const Lanes v{x};
#if defined(__clang__)
    return broadcast_lane0(v, std::make_index_sequence<kLanes>());
#else
    return __builtin_shuffle(v, LaneIndex{});
#endif
}

inline double lane(double v, int) { return v; }
inline double lane(Lanes v, int l) { return v[l]; }
inline void set_lane(double& v, int, double x) { v = x; }
inline void set_lane(Lanes& v, int l, double x) { v[l] = x; }

template <class T>
inline T sqrt_lanes(T v) {
    for (int l = 0; l < kWidth<T>; ++l) set_lane(v, l, std::sqrt(lane(v, l)));
    return v;
}

// Centroid of each lane.
template <class T>
inline void centroid(const double* t, int k, T& cx, T& cy) {
    constexpr int W = kWidth<T>;
    T sx = broadcast<T>(0.0), sy = broadcast<T>(0.0);
    for (int j = 0; j < k; ++j) {
        sx += load<T>(t + 2 * j * W);
        sy += load<T>(t + (2 * j + 1) * W);
    }
    const T p = broadcast<T>(static_cast<double>(k));
    cx = sx / p;
    cy = sy / p;
}

// Centroid size of each lane: measured about the lane's own centroid.
template <class T>
inline T centroid_size(const double* t, int k) {
    constexpr int W = kWidth<T>;
    T cx, cy;
    centroid<T>(t, k, cx, cy);
    T ss = broadcast<T>(0.0);
    for (int j = 0; j < k; ++j) {
        const T dx = load<T>(t + 2 * j * W) - cx;
        const T dy = load<T>(t + (2 * j + 1) * W) - cy;
        ss += dx * dx + dy * dy;
    }
    return sqrt_lanes(ss);
}

// Centring and scaling in place: subtract the centroid, then scale to unit
// size, multiplying by the reciprocal of the centroid size of the centred
// configuration (its centroid is measured again, as it is for any
// configuration).  `cs` receives the centroid size of each lane (kWidth<T>
// values); a zero size leaves non-finite values, which callers check for.
template <class T>
inline void centre_scale(double* t, int k, double* cs_out) {
    constexpr int W = kWidth<T>;
    T cx, cy;
    centroid<T>(t, k, cx, cy);
    for (int j = 0; j < k; ++j) {
        store(t + 2 * j * W, load<T>(t + 2 * j * W) - cx);
        store(t + (2 * j + 1) * W, load<T>(t + (2 * j + 1) * W) - cy);
    }
    const T cs = centroid_size<T>(t, k);
    const T r = broadcast<T>(1.0) / cs;
    for (int q = 0; q < 2 * k; ++q) store(t + q * W, load<T>(t + q * W) * r);
    store(cs_out, cs);
}

// Coordinate q of the reference of every lane: one reference row shared by
// all lanes (interleaved x, y), or, with LaneRef, a reference tile holding a
// reference of its own for each lane (coordinate q of lane l at
// ref[q * W + l]), as when the lanes hold different groups.
template <class T, bool LaneRef>
inline T ref_at(const double* ref, int q) {
    if constexpr (LaneRef) return load<T>(ref + q * kWidth<T>);
    else return broadcast<T>(ref[q]);
}

// The complex factor of the full fit of each lane onto the reference `ref`
// (interleaved x, y): (b1 + i b2) / s with b1 + i b2 = sum of conj(z) w and s
// the squared centroid size of z, all in one sweep: s is sum |z|^2 - k |c|^2
// with c the lane's centroid (its rows are centred, so c is a rounding away
// from 0 and nothing cancels), and both parts are multiplied by the one
// reciprocal 1 / s.
template <class T, bool LaneRef = false>
inline void fit_factor(const double* t, const double* ref, int k, T& fr, T& fi) {
    constexpr int W = kWidth<T>;
    T b1 = broadcast<T>(0.0), b2 = broadcast<T>(0.0);
    T sx = broadcast<T>(0.0), sy = broadcast<T>(0.0), zz = broadcast<T>(0.0);
    for (int j = 0; j < k; ++j) {
        const T rx = ref_at<T, LaneRef>(ref, 2 * j);
        const T ry = ref_at<T, LaneRef>(ref, 2 * j + 1);
        const T x = load<T>(t + 2 * j * W);
        const T y = load<T>(t + (2 * j + 1) * W);
        sx += x;
        sy += y;
        b1 += rx * x + ry * y;
        b2 += x * ry - y * rx;
        zz += x * x + y * y;
    }
    const T p = broadcast<T>(static_cast<double>(k));
    const T cx = sx / p, cy = sy / p;
    const T r = broadcast<T>(1.0) / (zz - p * (cx * cx + cy * cy));
    fr = b1 * r;
    fi = b2 * r;
}

// The sums of one sweep of the full fit of each lane onto `ref`, as
// fit_factor and distance_sq take them, for N tiles at once: each tile's sums
// take their terms in the same order as alone, but the tiles' additions are
// independent chains, so one need not wait for another's (an addition waits
// several cycles for the one before it in its chain).
template <class T>
struct FitSums {
    T sx, sy, b1, b2, zz;
};
template <class T, bool LaneRef, int N>
inline void fit_sums(const double* const t[N], const double* ref, int k, FitSums<T>* s) {
    constexpr int W = kWidth<T>;
    for (int h = 0; h < N; ++h) s[h].sx = s[h].sy = s[h].b1 = s[h].b2 = s[h].zz = broadcast<T>(0.0);
    for (int j = 0; j < k; ++j) {
        const T rx = ref_at<T, LaneRef>(ref, 2 * j);
        const T ry = ref_at<T, LaneRef>(ref, 2 * j + 1);
        for (int h = 0; h < N; ++h) {
            const T x = load<T>(t[h] + 2 * j * W);
            const T y = load<T>(t[h] + (2 * j + 1) * W);
            s[h].sx += x;
            s[h].sy += y;
            s[h].b1 += rx * x + ry * y;
            s[h].b2 += x * ry - y * rx;
            s[h].zz += x * x + y * y;
        }
    }
}

// fit_factor of two tiles at once (fr[h], fi[h] for tile t[h]).
template <class T, bool LaneRef = false>
inline void fit_factor_pair(const double* const t[2], const double* ref, int k, T* fr, T* fi) {
    FitSums<T> s[2];
    fit_sums<T, LaneRef, 2>(t, ref, k, s);
    const T p = broadcast<T>(static_cast<double>(k));
    for (int h = 0; h < 2; ++h) {
        const T cx = s[h].sx / p, cy = s[h].sy / p;
        const T r = broadcast<T>(1.0) / (s[h].zz - p * (cx * cx + cy * cy));
        fr[h] = s[h].b1 * r;
        fi[h] = s[h].b2 * r;
    }
}

// Adds the kWidth<T> configurations of a full tile to the column sums `acc`
// (2k values), configuration after configuration: acc[q] + lane 0 + lane 1
// + ..., the order of a row-by-row loop.  With 2, 4 or 8 lanes a block of as
// many coordinates is transposed in registers, so one vector addition adds
// one configuration's coordinates to as many sums; each sum still takes its
// terms in the same order.
#if defined(__clang__)
#define QUILLAN_SHUFFLE(M, a, b, ...) __builtin_shufflevector(a, b, __VA_ARGS__)
#else
#define QUILLAN_SHUFFLE(M, a, b, ...) __builtin_shuffle(a, b, M{__VA_ARGS__})
#endif
typedef long long Mask2 __attribute__((vector_size(16)));
typedef long long Mask4 __attribute__((vector_size(32)));
// acc[0..1] += the 2 lanes of the coordinates c0, c1, lane after lane.
template <class T>
inline void add_block2(double* acc, T c0, T c1) {
    T a = load<T>(acc);
    a += QUILLAN_SHUFFLE(Mask2, c0, c1, 0, 2);
    a += QUILLAN_SHUFFLE(Mask2, c0, c1, 1, 3);
    store(acc, a);
}

// acc[0..3] += the 4 lanes of the coordinates c0 .. c3, lane after lane.
template <class T>
inline void add_block4(double* acc, T c0, T c1, T c2, T c3) {
    const T t0 = QUILLAN_SHUFFLE(Mask4, c0, c1, 0, 4, 2, 6), t1 = QUILLAN_SHUFFLE(Mask4, c0, c1, 1, 5, 3, 7);
    const T t2 = QUILLAN_SHUFFLE(Mask4, c2, c3, 0, 4, 2, 6), t3 = QUILLAN_SHUFFLE(Mask4, c2, c3, 1, 5, 3, 7);
    T a = load<T>(acc);
    a += QUILLAN_SHUFFLE(Mask4, t0, t2, 0, 1, 4, 5);
    a += QUILLAN_SHUFFLE(Mask4, t1, t3, 0, 1, 4, 5);
    a += QUILLAN_SHUFFLE(Mask4, t0, t2, 2, 3, 6, 7);
    a += QUILLAN_SHUFFLE(Mask4, t1, t3, 2, 3, 6, 7);
    store(acc, a);
}

typedef long long Mask8 __attribute__((vector_size(64)));
// acc[0..7] += the 8 lanes of the coordinates c[0] .. c[7], lane after lane:
// the 8 x 8 block is transposed in three rounds of shuffles, so that each
// vector addition adds one lane's 8 coordinates, lane 0 first.
template <class T>
inline void add_block8(double* acc, const T* c) {
    T t[8], u[8];
    for (int i = 0; i < 8; i += 2) {
        t[i] = QUILLAN_SHUFFLE(Mask8, c[i], c[i + 1], 0, 8, 2, 10, 4, 12, 6, 14);      // lanes 0 2 4 6
        t[i + 1] = QUILLAN_SHUFFLE(Mask8, c[i], c[i + 1], 1, 9, 3, 11, 5, 13, 7, 15);  // lanes 1 3 5 7
    }
    for (int i = 0; i < 8; i += 4)
        for (int h = 0; h < 2; ++h) {
            // u[i + 2h]: lanes 0 and 4 (h = 0) or 1 and 5 (h = 1) of c[i] .. c[i + 3];
            // u[i + 2h + 1]: lanes 2 and 6, or 3 and 7.
            u[i + 2 * h] = QUILLAN_SHUFFLE(Mask8, t[i + h], t[i + 2 + h], 0, 1, 8, 9, 4, 5, 12, 13);
            u[i + 2 * h + 1] = QUILLAN_SHUFFLE(Mask8, t[i + h], t[i + 2 + h], 2, 3, 10, 11, 6, 7, 14, 15);
        }
    // u[0] lanes 0/4, u[1] 2/6, u[2] 1/5, u[3] 3/7 of c[0..3]; u[4..7] the same of c[4..7].
    T a = load<T>(acc);
    a += QUILLAN_SHUFFLE(Mask8, u[0], u[4], 0, 1, 2, 3, 8, 9, 10, 11);    // lane 0
    a += QUILLAN_SHUFFLE(Mask8, u[2], u[6], 0, 1, 2, 3, 8, 9, 10, 11);    // lane 1
    a += QUILLAN_SHUFFLE(Mask8, u[1], u[5], 0, 1, 2, 3, 8, 9, 10, 11);    // lane 2
    a += QUILLAN_SHUFFLE(Mask8, u[3], u[7], 0, 1, 2, 3, 8, 9, 10, 11);    // lane 3
    a += QUILLAN_SHUFFLE(Mask8, u[0], u[4], 4, 5, 6, 7, 12, 13, 14, 15);  // lane 4
    a += QUILLAN_SHUFFLE(Mask8, u[2], u[6], 4, 5, 6, 7, 12, 13, 14, 15);  // lane 5
    a += QUILLAN_SHUFFLE(Mask8, u[1], u[5], 4, 5, 6, 7, 12, 13, 14, 15);  // lane 6
    a += QUILLAN_SHUFFLE(Mask8, u[3], u[7], 4, 5, 6, 7, 12, 13, 14, 15);  // lane 7
    store(acc, a);
}

template <class T>
inline void add_full_tile(const double* t, int k, double* acc) {
    constexpr int W = kWidth<T>;
    const int m1 = 2 * k;
    int q = 0;
    if constexpr (W == 2) {
        for (; q + 2 <= m1; q += 2) add_block2<T>(acc + q, load<T>(t + q * W), load<T>(t + (q + 1) * W));
    } else if constexpr (W == 4) {
        for (; q + 4 <= m1; q += 4)
            add_block4<T>(acc + q, load<T>(t + q * W), load<T>(t + (q + 1) * W), load<T>(t + (q + 2) * W),
                          load<T>(t + (q + 3) * W));
    } else if constexpr (W == 8) {
        // The last, short block padded with zeros, as in apply_full_into.
        for (; q < m1; q += 8) {
            T c[8];
            for (int i = 0; i < 8; ++i) c[i] = q + i < m1 ? load<T>(t + (q + i) * W) : broadcast<T>(0.0);
            add_block8<T>(acc + q, c);
        }
    }
    for (; q < m1; ++q) {
        double a = acc[q];
        for (int l = 0; l < W; ++l) a += t[q * W + l];
        acc[q] = a;
    }
}

// Full Procrustes fit of every lane onto `ref`, in place; the configuration
// takes the size the fit gives it.  With `acc` (2k values) each lane's new
// coordinates are also added, lane after lane, to the column sums (as
// add_full_tile adds them): the consensus's column sums in row order without
// a second sweep over the tile.
// The second half of fit_full_into: every lane multiplied by its complex
// factor fr + i fi (and added to `acc` when Sum).
template <class T, bool Sum>
inline void apply_full_into(double* t, int k, double* acc, T fr, T fi) {
    constexpr int W = kWidth<T>;
    int j = 0;
    if constexpr (Sum && W == 8) {
        // Four landmarks at a time: their eight coordinates make one block.
        // The last one to three landmarks make a block padded with zeros:
        // the padding adds 0 to sums past the 2k real ones (acc has room for
        // them, see acc_room), and each real sum takes its terms as before.
        auto block = [&](int j0, int landmarks) {
            T c[8];
            for (int i = 0; i < 4; ++i) {
                if (i >= landmarks) {
                    c[2 * i] = c[2 * i + 1] = broadcast<T>(0.0);
                    continue;
                }
                const T x = load<T>(t + (2 * (j0 + i)) * W), y = load<T>(t + (2 * (j0 + i) + 1) * W);
                c[2 * i] = x * fr - y * fi;
                c[2 * i + 1] = y * fr + x * fi;
                store(t + (2 * (j0 + i)) * W, c[2 * i]);
                store(t + (2 * (j0 + i) + 1) * W, c[2 * i + 1]);
            }
            add_block8<T>(acc + 2 * j0, c);
        };
        for (; j + 4 <= k; j += 4) block(j, 4);
        if (j < k) block(j, k - j);
        j = k;
    }
    if constexpr (Sum && W == 4) {
        // Two landmarks at a time: their four coordinates make one block.
        for (; j + 2 <= k; j += 2) {
            const T x0 = load<T>(t + 2 * j * W), y0 = load<T>(t + (2 * j + 1) * W);
            const T x1 = load<T>(t + (2 * j + 2) * W), y1 = load<T>(t + (2 * j + 3) * W);
            const T nx0 = x0 * fr - y0 * fi, ny0 = y0 * fr + x0 * fi;
            const T nx1 = x1 * fr - y1 * fi, ny1 = y1 * fr + x1 * fi;
            store(t + 2 * j * W, nx0);
            store(t + (2 * j + 1) * W, ny0);
            store(t + (2 * j + 2) * W, nx1);
            store(t + (2 * j + 3) * W, ny1);
            add_block4<T>(acc + 2 * j, nx0, ny0, nx1, ny1);
        }
    }
    for (; j < k; ++j) {
        const T x = load<T>(t + 2 * j * W);
        const T y = load<T>(t + (2 * j + 1) * W);
        const T nx = x * fr - y * fi;
        const T ny = y * fr + x * fi;
        store(t + 2 * j * W, nx);
        store(t + (2 * j + 1) * W, ny);
        if constexpr (Sum && W == 2) {
            add_block2<T>(acc + 2 * j, nx, ny);
        } else if constexpr (Sum) {
            double ax = acc[2 * j], ay = acc[2 * j + 1];
            for (int l = 0; l < W; ++l) ax += lane(nx, l);
            for (int l = 0; l < W; ++l) ay += lane(ny, l);
            acc[2 * j] = ax;
            acc[2 * j + 1] = ay;
        }
    }
}

template <class T, bool Sum>
inline void fit_full_into(double* t, const double* ref, int k, double* acc) {
    T fr, fi;
    fit_factor<T>(t, ref, k, fr, fi);
    apply_full_into<T, Sum>(t, k, acc, fr, fi);
}

// fit_full_sum of two full tiles, t[0] then t[1], their factors found side
// by side (fit_factor_pair).
template <class T>
inline void fit_full_sum_pair(double* const t[2], const double* ref, int k, double* acc) {
    T fr[2], fi[2];
    const double* const ct[2] = {t[0], t[1]};
    fit_factor_pair<T>(ct, ref, k, fr, fi);
    apply_full_into<T, true>(t[0], k, acc, fr[0], fi[0]);
    apply_full_into<T, true>(t[1], k, acc, fr[1], fi[1]);
}

template <class T>
inline void fit_full(double* t, const double* ref, int k) {
    fit_full_into<T, false>(t, ref, k, nullptr);
}

template <class T>
inline void fit_full_sum(double* t, const double* ref, int k, double* acc) {
    fit_full_into<T, true>(t, ref, k, acc);
}

// Rotation-only fit of every lane onto `ref`, in place: turned by the angle
// atan2(b2, b1); the size is kept.
template <class T>
inline void fit_rotation(double* t, const double* ref, int k) {
    constexpr int W = kWidth<T>;
    T b1 = broadcast<T>(0.0), b2 = broadcast<T>(0.0);
    for (int j = 0; j < k; ++j) {
        const T rx = broadcast<T>(ref[2 * j]);
        const T ry = broadcast<T>(ref[2 * j + 1]);
        const T x = load<T>(t + 2 * j * W);
        const T y = load<T>(t + (2 * j + 1) * W);
        b1 += rx * x + ry * y;
        b2 += x * ry - y * rx;
    }
    T c = b1, s = b2;
    for (int l = 0; l < W; ++l) {
        const double theta = std::atan2(lane(b2, l), lane(b1, l));
        set_lane(c, l, std::cos(theta));
        set_lane(s, l, std::sin(theta));
    }
    for (int j = 0; j < k; ++j) {
        const T x = load<T>(t + 2 * j * W);
        const T y = load<T>(t + (2 * j + 1) * W);
        store(t + 2 * j * W, x * c - y * s);
        store(t + (2 * j + 1) * W, x * s + y * c);
    }
}

// Turns every lane by the angle whose cosine and sine are c and s.
template <class T>
inline void rotate(double* t, int k, double c, double s) {
    constexpr int W = kWidth<T>;
    const T cv = broadcast<T>(c), sv = broadcast<T>(s);
    for (int j = 0; j < k; ++j) {
        const T x = load<T>(t + 2 * j * W);
        const T y = load<T>(t + (2 * j + 1) * W);
        store(t + 2 * j * W, x * cv - y * sv);
        store(t + (2 * j + 1) * W, x * sv + y * cv);
    }
}

// Full Procrustes distance of each lane (already centred and scaled) from
// `ref`: the lane is fitted onto `ref` as by fit_full (without storing the
// result) and the distance is the Euclidean distance between the fitted
// coordinates and the reference's, summed coordinate by coordinate in column
// order.  `d` receives kWidth<T> distances.
template <class T>
inline void fit_distance(const double* t, const double* ref, int k, double* d) {
    constexpr int W = kWidth<T>;
    T fr, fi;
    fit_factor<T>(t, ref, k, fr, fi);
    T acc = broadcast<T>(0.0);
    for (int j = 0; j < k; ++j) {
        const T x = load<T>(t + 2 * j * W);
        const T y = load<T>(t + (2 * j + 1) * W);
        const T ex = (x * fr - y * fi) - broadcast<T>(ref[2 * j]);
        const T ey = (y * fr + x * fi) - broadcast<T>(ref[2 * j + 1]);
        acc += ex * ex;
        acc += ey * ey;
    }
    store(d, sqrt_lanes(acc));
}

// Squared full Procrustes distance of each lane from `ref`, in one sweep.
// Fitting a configuration z, centred and scaled, onto ref by a full fit
// leaves the least-squares residual |ref|^2 - |sum conj(z) ref|^2 / |z|^2,
// which depends neither on z's position nor its size nor its orientation, so
// the lane is neither moved, scaled nor turned here: its centring enters
// through its centroid c as sum conj(z - c) ref = sum conj(z) ref - conj(c)
// sum ref and |z - c|^2 = sum |z|^2 - k |c|^2.  `wx`, `wy` are the sums of
// ref's x and y, `ww` its squared length.  A result a rounding below 0 is
// returned as 0; a lane of no size gives not-a-number.  Returned as a vector;
// with LaneRef every lane has its own reference (and sums).
template <class T, bool LaneRef = false>
inline T distance_sq_lanes(const double* t, const double* ref, int k, T wx, T wy, T ww) {
    constexpr int W = kWidth<T>;
    T sx = broadcast<T>(0.0), sy = broadcast<T>(0.0), b1 = broadcast<T>(0.0), b2 = broadcast<T>(0.0), zz = broadcast<T>(0.0);
    for (int j = 0; j < k; ++j) {
        const T rx = ref_at<T, LaneRef>(ref, 2 * j);
        const T ry = ref_at<T, LaneRef>(ref, 2 * j + 1);
        const T x = load<T>(t + 2 * j * W);
        const T y = load<T>(t + (2 * j + 1) * W);
        sx += x;
        sy += y;
        b1 += rx * x + ry * y;
        b2 += x * ry - y * rx;
        zz += x * x + y * y;
    }
    const T p = broadcast<T>(static_cast<double>(k));
    const T cx = sx / p, cy = sy / p;
    const T B1 = b1 - (cx * wx + cy * wy);
    const T B2 = b2 - (cx * wy - cy * wx);
    const T S = zz - p * (cx * cx + cy * cy);
    const T d = ww - (B1 * B1 + B2 * B2) / S;
    const T zero = broadcast<T>(0.0);
    return d < zero ? zero : d;
}

// distance_sq_lanes of two tiles at once (d[h] for tile t[h]).
template <class T, bool LaneRef = false>
inline void distance_sq_pair(const double* const t[2], const double* ref, int k, T wx, T wy, T ww, T* d) {
    FitSums<T> s[2];
    fit_sums<T, LaneRef, 2>(t, ref, k, s);
    const T p = broadcast<T>(static_cast<double>(k));
    const T zero = broadcast<T>(0.0);
    for (int h = 0; h < 2; ++h) {
        const T cx = s[h].sx / p, cy = s[h].sy / p;
        const T B1 = s[h].b1 - (cx * wx + cy * wy);
        const T B2 = s[h].b2 - (cx * wy - cy * wx);
        const T S = s[h].zz - p * (cx * cx + cy * cy);
        const T e = ww - (B1 * B1 + B2 * B2) / S;
        d[h] = e < zero ? zero : e;
    }
}

template <class T>
inline void distance_sq(const double* t, const double* ref, int k, double wx, double wy, double ww, double* d2) {
    store(d2, distance_sq_lanes<T>(t, ref, k, broadcast<T>(wx), broadcast<T>(wy), broadcast<T>(ww)));
}

// Centroid size of one configuration row (interleaved, k landmarks).
inline double row_centroid_size(const double* row, int k) { return centroid_size<double>(row, k); }

}  // namespace QUILLAN_KERNEL_VARIANT
}  // namespace quillan::kernels
