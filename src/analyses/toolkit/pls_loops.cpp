#include "analyses/toolkit/pls_loops.hpp"

#include "geometry/kernel_dispatch.hpp"

namespace quillan {

namespace {

using Index = std::ptrdiff_t;

// Each body is inlined into a baseline function and into an AVX2 one, and
// vectorised there for that instruction set; nothing it calls is compiled
// for AVX2 out of line, so no such code can reach a processor without it.
#define QUILLAN_PLS_BODY static inline __attribute__((always_inline))

// Columns of up to sixteen doubles are summed in registers, as vectors of
// the compiler's own (Vec: two doubles on the baseline, four on AVX2), so
// each column of a result is loaded and stored once instead of once a term.
// Longer columns go through memory.  Columns are only as aligned as a
// double, so loads and stores go through types that say so.
typedef double Vec2 __attribute__((vector_size(16)));
typedef double Vec4 __attribute__((vector_size(32)));
typedef double Vec2u __attribute__((vector_size(16), aligned(8), may_alias));
typedef double Vec4u __attribute__((vector_size(32), aligned(8), may_alias));

QUILLAN_PLS_BODY void load(Vec2& v, const double* p) { v = *reinterpret_cast<const Vec2u*>(p); }
QUILLAN_PLS_BODY void load(Vec4& v, const double* p) { v = *reinterpret_cast<const Vec4u*>(p); }
QUILLAN_PLS_BODY void store(double* p, const Vec2& v) { *reinterpret_cast<Vec2u*>(p) = v; }
QUILLAN_PLS_BODY void store(double* p, const Vec4& v) { *reinterpret_cast<Vec4u*>(p) = v; }

template <class Vec>
constexpr int kLanes = sizeof(Vec) / sizeof(double);

// Rows `from` on of ct (columns of LD doubles), RB of them at a time.
template <class Vec, int LD, int RB>
QUILLAN_PLS_BODY void cross_fixed(const double* __restrict wide, Index wide_rows, const double* __restrict narrow,
                                  const int* __restrict order, bool shuffle_wide, Index n, double* __restrict ct,
                                  Index from = 0) {
    constexpr int V = LD / kLanes<Vec>;
    Index r = from;
    for (; r + RB <= wide_rows; r += RB) {
        Vec acc[RB][V] = {};
        for (Index i = 0; i < n; ++i) {
            const Index o = order[i];
            const double* w = wide + (shuffle_wide ? o : i) * wide_rows + r;
            const double* v = narrow + (shuffle_wide ? i : o) * LD;
            Vec column[V];
            for (int j = 0; j < V; ++j) load(column[j], v + j * kLanes<Vec>);
            for (int b = 0; b < RB; ++b)
                for (int j = 0; j < V; ++j) acc[b][j] += column[j] * w[b];
        }
        for (int b = 0; b < RB; ++b)
            for (int j = 0; j < V; ++j) store(ct + (r + b) * LD + j * kLanes<Vec>, acc[b][j]);
    }
    if constexpr (RB > 1) cross_fixed<Vec, LD, 1>(wide, wide_rows, narrow, order, shuffle_wide, n, ct, r);
}

QUILLAN_PLS_BODY void cross_any(const double* __restrict wide, Index wide_rows, const double* __restrict narrow, Index ld,
                                const int* __restrict order, bool shuffle_wide, Index n, double* __restrict ct) {
    for (Index k = 0; k < ld * wide_rows; ++k) ct[k] = 0;
    for (Index i = 0; i < n; ++i) {
        const Index o = order[i];
        const double* w = wide + (shuffle_wide ? o : i) * wide_rows;
        const double* v = narrow + (shuffle_wide ? i : o) * ld;
        for (Index r = 0; r < wide_rows; ++r) {
            const double x = w[r];
            double* __restrict c = ct + r * ld;
            for (Index j = 0; j < ld; ++j) c[j] += v[j] * x;
        }
    }
}

template <class Vec>
QUILLAN_PLS_BODY void cross_body(const double* wide, Index wide_rows, const double* narrow, Index ld, const int* order,
                                 bool shuffle_wide, Index n, double* ct) {
    switch (ld) {
        case 4:
            return cross_fixed<Vec, 4, 4>(wide, wide_rows, narrow, order, shuffle_wide, n, ct);
        case 8:
            return cross_fixed<Vec, 8, 4>(wide, wide_rows, narrow, order, shuffle_wide, n, ct);
        case 12:
            return cross_fixed<Vec, 12, 2>(wide, wide_rows, narrow, order, shuffle_wide, n, ct);
        case 16:
            return cross_fixed<Vec, 16, 2>(wide, wide_rows, narrow, order, shuffle_wide, n, ct);
        default:
            return cross_any(wide, wide_rows, narrow, ld, order, shuffle_wide, n, ct);
    }
}

// out(:, c) = sum over k < inner of a(:, k) b(k, c) (or b(c, k) when
// b_transposed), for c < cols; a and out have columns of LD (or ld) doubles.
template <class Vec, int LD>
QUILLAN_PLS_BODY void product_fixed(const double* __restrict a, const double* __restrict b, Index ld_b, Index inner, Index cols,
                                    double* __restrict out, bool b_transposed) {
    constexpr int V = LD / kLanes<Vec>;
    for (Index c = 0; c < cols; ++c) {
        Vec acc[V] = {};
        for (Index k = 0; k < inner; ++k) {
            const double x = b_transposed ? b[k * ld_b + c] : b[c * ld_b + k];
            Vec column[V];
            for (int j = 0; j < V; ++j) load(column[j], a + k * LD + j * kLanes<Vec>);
            for (int j = 0; j < V; ++j) acc[j] += column[j] * x;
        }
        for (int j = 0; j < V; ++j) store(out + c * LD + j * kLanes<Vec>, acc[j]);
    }
}

QUILLAN_PLS_BODY void product_any(const double* __restrict a, const double* __restrict b, Index ld_b, Index ld, Index inner,
                                  Index cols, double* __restrict out, bool b_transposed) {
    for (Index c = 0; c < cols; ++c) {
        double* __restrict o = out + c * ld;
        for (Index j = 0; j < ld; ++j) o[j] = 0;
        for (Index k = 0; k < inner; ++k) {
            const double x = b_transposed ? b[k * ld_b + c] : b[c * ld_b + k];
            const double* col = a + k * ld;
            for (Index j = 0; j < ld; ++j) o[j] += col[j] * x;
        }
    }
}

template <class Vec>
QUILLAN_PLS_BODY void product_body(const double* a, const double* b, Index ld_b, Index ld, Index inner, Index cols, double* out,
                                   bool b_transposed) {
    switch (ld) {
        case 4:
            return product_fixed<Vec, 4>(a, b, ld_b, inner, cols, out, b_transposed);
        case 8:
            return product_fixed<Vec, 8>(a, b, ld_b, inner, cols, out, b_transposed);
        case 12:
            return product_fixed<Vec, 12>(a, b, ld_b, inner, cols, out, b_transposed);
        case 16:
            return product_fixed<Vec, 16>(a, b, ld_b, inner, cols, out, b_transposed);
        default:
            return product_any(a, b, ld_b, ld, inner, cols, out, b_transposed);
    }
}

// The four loops of PlsLoops for vectors Vec.
template <class Vec>
struct Loops {
    static void cross(const double* wide, Index wide_rows, const double* narrow, Index ld, const int* order, bool shuffle_wide,
                      Index n, double* ct) {
        cross_body<Vec>(wide, wide_rows, narrow, ld, order, shuffle_wide, n, ct);
    }
    static void gram(const double* ct, Index ld, Index rows, Index cols, double* s) {
        product_body<Vec>(ct, ct, ld, ld, cols, rows, s, true);  // s(:, b) = sum_r ct(:, r) ct(b, r)
    }
    static void square(const double* p, Index ld, Index rows, double* q) {
        product_body<Vec>(p, p, ld, ld, rows, rows, q, false);
    }
    static void apply(const double* m, Index ld, Index rows, const double* x, double* y) {
        product_body<Vec>(m, x, rows, ld, rows, 1, y, false);
    }
};

constexpr PlsLoops kBaseline{Loops<Vec2>::cross, Loops<Vec2>::gram, Loops<Vec2>::square, Loops<Vec2>::apply};

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUILLAN_PLS_AVX2 __attribute__((target("avx2")))
QUILLAN_PLS_AVX2 void cross_avx2(const double* wide, Index wide_rows, const double* narrow, Index ld, const int* order,
                                 bool shuffle_wide, Index n, double* ct) {
    cross_body<Vec4>(wide, wide_rows, narrow, ld, order, shuffle_wide, n, ct);
}
QUILLAN_PLS_AVX2 void gram_avx2(const double* ct, Index ld, Index rows, Index cols, double* s) {
    product_body<Vec4>(ct, ct, ld, ld, cols, rows, s, true);
}
QUILLAN_PLS_AVX2 void square_avx2(const double* p, Index ld, Index rows, double* q) {
    product_body<Vec4>(p, p, ld, ld, rows, rows, q, false);
}
QUILLAN_PLS_AVX2 void apply_avx2(const double* m, Index ld, Index rows, const double* x, double* y) {
    product_body<Vec4>(m, x, rows, ld, rows, 1, y, false);
}
constexpr PlsLoops kAvx2{cross_avx2, gram_avx2, square_avx2, apply_avx2};
constexpr bool kHasAvx2 = true;
#else
constexpr PlsLoops kAvx2 = kBaseline;
constexpr bool kHasAvx2 = false;
#endif

}  // namespace

const PlsLoops& pls_loops() {
    // The Procrustes kernel was chosen (and the processor asked) once; AVX-512
    // gains nothing here on columns of a few vectors.
    return kHasAvx2 && active_kernel() != KernelVariant::Baseline ? kAvx2 : kBaseline;
}

const PlsLoops& baseline_pls_loops() { return kBaseline; }

}  // namespace quillan
