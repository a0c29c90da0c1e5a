// The tile loops of a consensus, compiled once per kernel variant.
//
// Internal to geometry/.  ConsensusRun (shape_table.cpp) keeps the rows of a
// block in tiles of `lanes` configurations (see kernels.hpp) and calls these
// loops through the KernelOps of the variant in use; the scalar steps between
// passes stay in ConsensusRun, so they are the same code for every variant.
//
// Without QUILLAN_TILE_OPS_BODY this header only declares the interface; the
// variant files (kernel_*.cpp) define that macro and include it once more,
// inside their instruction-set region, for the loops themselves.
#ifndef QUILLAN_TILE_OPS_INTERFACE
#define QUILLAN_TILE_OPS_INTERFACE

#include "geometry/shape_table.hpp"

#include <cstddef>

namespace quillan {

// Which of the two consensus procedures.
enum class Procedure {
    Full,          // full_procrustes_consensus: full fits, tolerance 2^-26 k, rescale by centroid size, principal axes
    RotationOnly,  // rotation_only_consensus: rotation-only fits, tolerance 2^-26 / 20, rescale by the norm
};

}  // namespace quillan

namespace quillan::kernels {

// The tiles of a block and the consensus being built.
struct TileBlock {
    double* tiles = nullptr;  // tile t starts at tiles + t * 2k * lanes
    std::size_t n = 0;        // rows
    std::size_t count = 0;    // tiles, n / lanes rounded up
    int k = 0;                // landmarks
    double tmean = 0.0;       // mean of the rows' trailing values
    double tfirst = 0.0;      // trailing value of the first row
};

// Several small groups superimposed side by side, one group per lane, each
// on a consensus of its own: lane l of tile t holds row t of group l, and
// lane l of a reference tile the consensus of group l.  A shorter group's
// lane repeats its last row in the tiles past its end: computed along, never
// counted.  Each lane makes exactly the passes, and the sums, that its group
// makes on its own (a lane that has settled keeps its rows while the others
// go on), so every group's numbers are those of group_ss to the last bit.
inline constexpr int kMaxLanes = 8;
struct LaneGroups {
    const ShapeTable* table = nullptr;
    int k = 0;
    std::size_t max_passes = 0;
    const int* rows[kMaxLanes] = {};  // the rows of each lane's group (table rows, in order)
    std::size_t n[kMaxLanes] = {};    // how many, at least 1
    double* buf = nullptr;            // lane_groups_room doubles
    double ss[kMaxLanes] = {};        // out: sum of squared distances from the group's consensus
    std::size_t passes[kMaxLanes] = {};
};
// Room for the tiles of groups of up to `rows` rows and the reference tiles
// (configurations in `dimensions` 2 or 3; in space also each row's squared size).
inline std::size_t lane_groups_room(std::size_t rows, int k, int lanes, int dimensions = 2) {
    const std::size_t sizes = dimensions == 3 ? rows : 0;
    return ((rows + 4) * static_cast<std::size_t>(dimensions) * static_cast<std::size_t>(k) + sizes) *
           static_cast<std::size_t>(lanes);
}

// Doubles of room for the 2k column sums that fit_pass and load_fit add to:
// the 8-lane kernel adds its last landmarks as a whole block of 8 sums, the
// ones past 2k receiving zeros.
inline std::size_t acc_room(int k) { return (2 * static_cast<std::size_t>(k) + kMaxLanes - 1) / kMaxLanes * kMaxLanes; }

struct KernelOps {
    int lanes;
    // Copies the rows (rows[i], or row i when rows is null) into tiles and
    // sets count, tmean and tfirst.  Spare lanes of the last tile carry a
    // copy of a real row: computed along (so they stay finite), never read.
    void (*load)(TileBlock& b, const ShapeTable& table, const int* rows);
    // The same, each tile fitted onto `ref` as soon as it is filled (the
    // first pass of the iteration while the rows are in cache): as load
    // followed by fit_pass.
    void (*load_fit)(TileBlock& b, const ShapeTable& table, const int* rows, Procedure proc, const double* ref, double* acc);
    // Fits every row onto `ref` (full or rotation-only) and adds the fitted
    // rows, in row order, to the 2k column sums `acc` (acc_room(k) doubles).
    void (*fit_pass)(TileBlock& b, Procedure proc, const double* ref, double* acc);
    // The step between passes: keeps the reference in `old` (2k + 1
    // values), makes the new one in `ref` from the column sums (the mean of
    // n rows, trailing value `tmean`) rescaled to unit size (centroid size
    // for the full procedure, the norm for rotation-only), and returns the
    // squared change.  Element by element, so vectors change no number.
    double (*next_reference)(double* ref, double* old, const double* acc, std::size_t n, int k, double tmean, Procedure proc);
    // Full fit of every row onto `ref`, in place.
    void (*fit_all)(TileBlock& b, const double* ref);
    // Turns every row by the angle of cosine c and sine s.
    void (*rotate_all)(TileBlock& b, double c, double s);
    // Sum in row order of the squared full distances from `ref` (closed
    // form; wx, wy, ww: ref's sums of x, of y and its squared length).
    double (*distance_sq_sum)(const TileBlock& b, const double* ref, double wx, double wy, double ww);
    // Full Procrustes distance of every row from `ref`, to d[0 .. n).
    void (*distances)(const TileBlock& b, const double* ref, double* d);
    // The full consensus and sum of squared distances of `lanes` groups at
    // once (LaneGroups).  False when a group's numbers cannot be computed
    // (not-a-number or no settling within max_passes): the caller then
    // takes the groups one by one, which says which and why.
    bool (*lane_groups)(LaneGroups& g);
    // The same for configurations in space (space_lanes.hpp): agrees with
    // group_ss to rounding, and every variant with every other to the last bit.
    bool (*lane_groups_space)(LaneGroups& g);
};

// The variants' tables; null when this build has no such copy.
const KernelOps* baseline_ops();
const KernelOps* avx2_ops();
const KernelOps* avx512_ops();
// The table for a block of n rows: that of the variant in use
// (kernel_dispatch.hpp) or, when its tiles would be mostly spare lanes, of a
// narrower variant the processor has (they give the same numbers).  Throws
// QuillanError when QUILLAN_KERNEL asks for a variant this processor cannot
// run.
const KernelOps& ops_for_rows(std::size_t n);

}  // namespace quillan::kernels

#endif  // QUILLAN_TILE_OPS_INTERFACE

#ifdef QUILLAN_TILE_OPS_BODY
#undef QUILLAN_TILE_OPS_BODY

#include "geometry/kernels.hpp"

namespace quillan::kernels {
inline namespace QUILLAN_KERNEL_VARIANT {
namespace {

constexpr std::size_t W = kLanes;

// Transposes a W x W block in registers: v[i] lane l becomes v[l] lane i.
template <class T>
inline void transpose(T* v) {
    if constexpr (kWidth<T> == 2) {
        const T a = QUILLAN_SHUFFLE(Mask2, v[0], v[1], 0, 2), b = QUILLAN_SHUFFLE(Mask2, v[0], v[1], 1, 3);
        v[0] = a;
        v[1] = b;
    } else if constexpr (kWidth<T> == 4) {
        const T t0 = QUILLAN_SHUFFLE(Mask4, v[0], v[1], 0, 4, 2, 6), t1 = QUILLAN_SHUFFLE(Mask4, v[0], v[1], 1, 5, 3, 7);
        const T t2 = QUILLAN_SHUFFLE(Mask4, v[2], v[3], 0, 4, 2, 6), t3 = QUILLAN_SHUFFLE(Mask4, v[2], v[3], 1, 5, 3, 7);
        v[0] = QUILLAN_SHUFFLE(Mask4, t0, t2, 0, 1, 4, 5);
        v[1] = QUILLAN_SHUFFLE(Mask4, t1, t3, 0, 1, 4, 5);
        v[2] = QUILLAN_SHUFFLE(Mask4, t0, t2, 2, 3, 6, 7);
        v[3] = QUILLAN_SHUFFLE(Mask4, t1, t3, 2, 3, 6, 7);
    } else {
        T t[8], u[8];
        for (int i = 0; i < 8; i += 2) {
            t[i] = QUILLAN_SHUFFLE(Mask8, v[i], v[i + 1], 0, 8, 2, 10, 4, 12, 6, 14);
            t[i + 1] = QUILLAN_SHUFFLE(Mask8, v[i], v[i + 1], 1, 9, 3, 11, 5, 13, 7, 15);
        }
        for (int i = 0; i < 8; i += 4)
            for (int h = 0; h < 2; ++h) {
                u[i + 2 * h] = QUILLAN_SHUFFLE(Mask8, t[i + h], t[i + 2 + h], 0, 1, 8, 9, 4, 5, 12, 13);
                u[i + 2 * h + 1] = QUILLAN_SHUFFLE(Mask8, t[i + h], t[i + 2 + h], 2, 3, 10, 11, 6, 7, 14, 15);
            }
        for (int i = 0; i < 4; ++i) {  // u[0], u[2], u[1], u[3]: lanes 0/4, 1/5, 2/6, 3/7
            const int a = i == 1 ? 2 : i == 2 ? 1 : i;
            v[i] = QUILLAN_SHUFFLE(Mask8, u[a], u[a + 4], 0, 1, 2, 3, 8, 9, 10, 11);
            v[i + 4] = QUILLAN_SHUFFLE(Mask8, u[a], u[a + 4], 4, 5, 6, 7, 12, 13, 14, 15);
        }
    }
}

// Copies coordinate q of row src[l] to tile[q * W + l], W coordinates of the
// W rows at a time, transposed in registers.  The rows are a ShapeTable's
// (padded to whole cache lines).  Each step also asks for the same cache
// line of the rows `ahead` (W rows to be gathered later), so the requests
// for them go out one line per row at a time, between loads, rather than in
// a burst that fills the processor's queue of outstanding misses.
inline void gather_rows(const double* const* src, std::size_t m1, double* tile, const double* const* ahead) {
    // Coordinates q .. q + W - 1 of the W rows; the first `stored` of them
    // go to the tile.  The last block may be short: a table row is padded to
    // whole cache lines, so its loads stay inside the row.
    auto block = [&](std::size_t q, std::size_t stored) {
        Lanes v[W];
        for (std::size_t l = 0; l < W; ++l) v[l] = load<Lanes>(src[l] + q);
        if (q % kLineDoubles == 0)
            for (std::size_t l = 0; l < W; ++l) __builtin_prefetch(ahead[l] + q);
        transpose<Lanes>(v);
        for (std::size_t i = 0; i < stored; ++i) store(tile + (q + i) * W, v[i]);
    };
    std::size_t q = 0;
    for (; q + W <= m1; q += W) block(q, W);
    if (q < m1) block(q, m1 - q);
}

void start(TileBlock& b, const ShapeTable& table, const int* rows) {
    b.count = (b.n + W - 1) / W;
    double tsum = 0.0;
    for (std::size_t i = 0; i < b.n; ++i) tsum += table.trailing(rows ? static_cast<std::size_t>(rows[i]) : i);
    if (b.n > 0) {
        b.tfirst = table.trailing(rows ? static_cast<std::size_t>(rows[0]) : 0);
        b.tmean = tsum / static_cast<double>(b.n);
    }
}

// How many tiles ahead the rows are fetched: the rows of the next pair of
// tiles, while this pair is fitted.  A permutation takes the rows in an
// order no prefetcher can guess, and the table of a large study lives far
// from the core, so without this every tile waits on memory.
constexpr std::size_t kFetchAhead = 2;

void gather_tile(TileBlock& b, const ShapeTable& table, const int* rows, std::size_t t, double* tile) {
    const double* src[W];
    const double* ahead[W];
    for (std::size_t l = 0; l < W; ++l) {
        const std::size_t i = t * W + l < b.n ? t * W + l : t * W;
        src[l] = table.row(rows ? static_cast<std::size_t>(rows[i]) : i);
        const std::size_t a = (t + kFetchAhead) * W + l < b.n ? (t + kFetchAhead) * W + l : i;
        ahead[l] = table.row(rows ? static_cast<std::size_t>(rows[a]) : a);
    }
    gather_rows(src, 2 * static_cast<std::size_t>(b.k), tile, ahead);
}

// Adds the first `real` lanes of a tile to the column sums, lane by lane.
inline void add_tile(const double* tile, std::size_t m1, std::size_t real, double* acc) {
    for (std::size_t q = 0; q < m1; ++q) {
        double a = acc[q];
        for (std::size_t l = 0; l < real; ++l) a += tile[q * W + l];
        acc[q] = a;
    }
}

// Fits tile t onto ref and adds its real rows to acc.
inline void fit_tile(TileBlock& b, std::size_t t, Procedure proc, const double* ref, double* acc) {
    const std::size_t m1 = 2 * static_cast<std::size_t>(b.k);
    double* tile = b.tiles + t * m1 * W;
    const std::size_t real = b.n - t * W < W ? b.n - t * W : W;
    if (proc == Procedure::Full) {
        if (real == W) {
            fit_full_sum<Lanes>(tile, ref, b.k, acc);
            return;
        }
        fit_full<Lanes>(tile, ref, b.k);
    } else {
        fit_rotation<Lanes>(tile, ref, b.k);
    }
    if (real == W) add_full_tile<Lanes>(tile, b.k, acc);
    else add_tile(tile, m1, real, acc);
}

void load_rows(TileBlock& b, const ShapeTable& table, const int* rows) {
    start(b, table, rows);
    const std::size_t m1 = 2 * static_cast<std::size_t>(b.k);
    for (std::size_t t = 0; t < b.count; ++t) gather_tile(b, table, rows, t, b.tiles + t * m1 * W);
}

// Full tiles of a full fit go two at a time (fit_full_sum_pair); returns
// the first tile not yet fitted.  With `table`, each pair is copied in first.
std::size_t fit_pairs(TileBlock& b, const ShapeTable* table, const int* rows, Procedure proc, const double* ref, double* acc) {
    if (proc != Procedure::Full) return 0;
    const std::size_t m1 = 2 * static_cast<std::size_t>(b.k);
    std::size_t t = 0;
    for (; t + 2 <= b.n / W; t += 2) {
        double* const pair[2] = {b.tiles + t * m1 * W, b.tiles + (t + 1) * m1 * W};
        if (table != nullptr) {
            gather_tile(b, *table, rows, t, pair[0]);
            gather_tile(b, *table, rows, t + 1, pair[1]);
        }
        fit_full_sum_pair<Lanes>(pair, ref, b.k, acc);
    }
    return t;
}

void load_fit(TileBlock& b, const ShapeTable& table, const int* rows, Procedure proc, const double* ref, double* acc) {
    start(b, table, rows);
    const std::size_t m1 = 2 * static_cast<std::size_t>(b.k);
    for (std::size_t t = fit_pairs(b, &table, rows, proc, ref, acc); t < b.count; ++t) {
        gather_tile(b, table, rows, t, b.tiles + t * m1 * W);
        fit_tile(b, t, proc, ref, acc);
    }
}

void fit_pass(TileBlock& b, Procedure proc, const double* ref, double* acc) {
    for (std::size_t t = fit_pairs(b, nullptr, nullptr, proc, ref, acc); t < b.count; ++t) fit_tile(b, t, proc, ref, acc);
}

double next_reference(double* ref, double* old, const double* acc, std::size_t n, int k, double tmean, Procedure proc) {
    const std::size_t m1 = 2 * static_cast<std::size_t>(k);
    for (std::size_t q = 0; q <= m1; ++q) old[q] = ref[q];
    const double dn = static_cast<double>(n);
    const Lanes dnv = broadcast<Lanes>(dn);
    std::size_t q = 0;
    for (; q + W <= m1; q += W) store(ref + q, load<Lanes>(acc + q) / dnv);
    for (; q < m1; ++q) ref[q] = acc[q] / dn;
    ref[m1] = tmean;
    double size;
    if (proc == Procedure::Full) {
        size = row_centroid_size(ref, k);
    } else {
        double ss = 0.0;
        for (std::size_t i = 0; i < m1; ++i) ss += ref[i] * ref[i];
        size = std::sqrt(ss);
    }
    const Lanes sv = broadcast<Lanes>(size);
    for (q = 0; q + W <= m1 + 1; q += W) store(ref + q, load<Lanes>(ref + q) / sv);
    for (; q <= m1; ++q) ref[q] /= size;
    double xd = 0.0;
    for (q = 0; q + W <= m1; q += W) {
        const Lanes e = load<Lanes>(ref + q) - load<Lanes>(old + q);
        const Lanes e2 = e * e;
        for (std::size_t l = 0; l < W; ++l) xd += e2[l];
    }
    for (; q < m1; ++q) {
        const double e = ref[q] - old[q];
        xd += e * e;
    }
    return xd;
}

void fit_all(TileBlock& b, const double* ref) {
    const std::size_t m1 = 2 * static_cast<std::size_t>(b.k);
    for (std::size_t t = 0; t < b.count; ++t) fit_full<Lanes>(b.tiles + t * m1 * W, ref, b.k);
}

void rotate_all(TileBlock& b, double c, double s) {
    const std::size_t m1 = 2 * static_cast<std::size_t>(b.k);
    for (std::size_t t = 0; t < b.count; ++t) rotate<Lanes>(b.tiles + t * m1 * W, b.k, c, s);
}

double distance_sq_sum(const TileBlock& b, const double* ref, double wx, double wy, double ww) {
    const std::size_t m1 = 2 * static_cast<std::size_t>(b.k);
    double total = 0.0;
    std::size_t t = 0;
    for (; t + 2 <= b.n / W; t += 2) {  // full tiles two at a time
        const double* const pair[2] = {b.tiles + t * m1 * W, b.tiles + (t + 1) * m1 * W};
        Lanes d[2];
        distance_sq_pair<Lanes>(pair, ref, b.k, broadcast<Lanes>(wx), broadcast<Lanes>(wy), broadcast<Lanes>(ww), d);
        for (int h = 0; h < 2; ++h)
            for (std::size_t l = 0; l < W; ++l) total += d[h][l];
    }
    for (; t < b.count; ++t) {
        double dl[W];
        distance_sq<Lanes>(b.tiles + t * m1 * W, ref, b.k, wx, wy, ww, dl);
        const std::size_t real = b.n - t * W < W ? b.n - t * W : W;
        for (std::size_t l = 0; l < real; ++l) total += dl[l];
    }
    return total;
}

void distances(const TileBlock& b, const double* ref, double* d) {
    const std::size_t m1 = 2 * static_cast<std::size_t>(b.k);
    for (std::size_t t = 0; t < b.count; ++t) {
        double dl[W];
        fit_distance<Lanes>(b.tiles + t * m1 * W, ref, b.k, dl);
        const std::size_t real = b.n - t * W < W ? b.n - t * W : W;
        for (std::size_t l = 0; l < real; ++l) d[t * W + l] = dl[l];
    }
}

// ---------------------------------------------------------------------------
// Small groups side by side (LaneGroups): vertical operations only, each lane
// with its own reference, column sums and count.

typedef long long LaneMask __attribute__((vector_size(kLanes * sizeof(double))));

// Copies row t of every lane's group (m1 coordinates) into a tile.
void gather_lanes(const LaneGroups& g, std::size_t t, double* tile, std::size_t m1) {
    const double* src[W];
    const double* ahead[W];
    for (std::size_t l = 0; l < W; ++l) {
        const std::size_t i = t < g.n[l] ? t : g.n[l] - 1;
        src[l] = g.table->row(static_cast<std::size_t>(g.rows[l][i]));
        ahead[l] = g.table->row(static_cast<std::size_t>(g.rows[l][t + kFetchAhead < g.n[l] ? t + kFetchAhead : i]));
    }
    gather_rows(src, m1, tile, ahead);
}

// Fits every lane of a tile onto its own reference and adds the fitted rows
// to the lanes' column sums.  Masked: `frozen` lanes keep their rows, and
// only `counted` lanes add to their sums.
template <bool Masked>
inline void fit_lanes(double* t, const double* ref, int k, double* acc, LaneMask frozen, LaneMask counted) {
    Lanes fr, fi;
    fit_factor<Lanes, true>(t, ref, k, fr, fi);
    for (int j = 0; j < k; ++j) {
        const Lanes x = load<Lanes>(t + 2 * j * W), y = load<Lanes>(t + (2 * j + 1) * W);
        Lanes nx = x * fr - y * fi, ny = y * fr + x * fi;
        Lanes ax = load<Lanes>(acc + 2 * j * W), ay = load<Lanes>(acc + (2 * j + 1) * W);
        if constexpr (Masked) {
            nx = frozen ? x : nx;
            ny = frozen ? y : ny;
            ax = counted ? ax + nx : ax;
            ay = counted ? ay + ny : ay;
        } else {
            ax += nx;
            ay += ny;
        }
        store(t + 2 * j * W, nx);
        store(t + (2 * j + 1) * W, ny);
        store(acc + 2 * j * W, ax);
        store(acc + (2 * j + 1) * W, ay);
    }
}

// fit_lanes of two consecutive tiles, t[0] then t[1], their fit factors
// found side by side (fit_factor_pair); tile 0's rows are added first.
template <bool Masked>
inline void fit_lanes_pair(double* const t[2], const double* ref, int k, double* acc, LaneMask frozen,
                           const LaneMask counted[2]) {
    Lanes fr[2], fi[2];
    const double* const ct[2] = {t[0], t[1]};
    fit_factor_pair<Lanes, true>(ct, ref, k, fr, fi);
    for (int j = 0; j < k; ++j) {
        Lanes ax = load<Lanes>(acc + 2 * j * W), ay = load<Lanes>(acc + (2 * j + 1) * W);
        for (int h = 0; h < 2; ++h) {
            const Lanes x = load<Lanes>(t[h] + 2 * j * W), y = load<Lanes>(t[h] + (2 * j + 1) * W);
            Lanes nx = x * fr[h] - y * fi[h], ny = y * fr[h] + x * fi[h];
            if constexpr (Masked) {
                nx = frozen ? x : nx;
                ny = frozen ? y : ny;
                ax = counted[h] ? ax + nx : ax;
                ay = counted[h] ? ay + ny : ay;
            } else {
                ax += nx;
                ay += ny;
            }
            store(t[h] + 2 * j * W, nx);
            store(t[h] + (2 * j + 1) * W, ny);
        }
        store(acc + 2 * j * W, ax);
        store(acc + (2 * j + 1) * W, ay);
    }
}

// next_reference for every lane (full procedure): the mean of its group's
// rows rescaled to unit centroid size, into `next`; returns the lanes'
// squared changes from `ref`.
Lanes next_lane_reference(double* next, const double* ref, const double* acc, Lanes count, int k) {
    const std::size_t m1 = 2 * static_cast<std::size_t>(k);
    for (std::size_t q = 0; q < m1; ++q) store(next + q * W, load<Lanes>(acc + q * W) / count);
    const Lanes size = centroid_size<Lanes>(next, k);
    Lanes xd = broadcast<Lanes>(0.0);
    for (std::size_t q = 0; q < m1; ++q) {
        const Lanes r = load<Lanes>(next + q * W) / size;
        store(next + q * W, r);
        const Lanes e = r - load<Lanes>(ref + q * W);
        xd += e * e;
    }
    return xd;
}

// One pass over the tiles of every lane (the first also copies the rows in).
void lane_pass(LaneGroups& g, double* tiles, const double* ref, double* acc, bool first, std::size_t live, LaneMask frozen) {
    const std::size_t m1 = 2 * static_cast<std::size_t>(g.k);
    std::size_t rows = 0, fewest = g.n[0];
    for (std::size_t l = 0; l < W; ++l) {
        rows = g.n[l] > rows ? g.n[l] : rows;
        fewest = g.n[l] < fewest ? g.n[l] : fewest;
    }
    std::memset(acc, 0, m1 * W * sizeof(double));
    std::size_t t = 0;
    for (; t + 2 <= rows; t += 2) {
        double* const pair[2] = {tiles + t * m1 * W, tiles + (t + 1) * m1 * W};
        if (first) {
            gather_lanes(g, t, pair[0], m1);
            gather_lanes(g, t + 1, pair[1], m1);
        }
        LaneMask counted[2] = {};
        if (live == W && t + 1 < fewest) {
            fit_lanes_pair<false>(pair, ref, g.k, acc, frozen, counted);
            continue;
        }
        for (std::size_t l = 0; l < W; ++l) {
            counted[0][l] = t < g.n[l] ? -1 : 0;
            counted[1][l] = t + 1 < g.n[l] ? -1 : 0;
        }
        fit_lanes_pair<true>(pair, ref, g.k, acc, frozen, counted);
    }
    if (t < rows) {  // an odd tile left
        double* tile = tiles + t * m1 * W;
        if (first) gather_lanes(g, t, tile, m1);
        LaneMask counted;
        for (std::size_t l = 0; l < W; ++l) counted[l] = t < g.n[l] ? -1 : 0;
        fit_lanes<true>(tile, ref, g.k, acc, frozen, counted);
    }
}

// The consensus iteration of every lane; each lane's final reference goes to
// `fin` when it settles.  False when a lane gives not-a-number or does not
// settle.
bool lane_iteration(LaneGroups& g, double* tiles, double* ref, double* fin) {
    const std::size_t m1 = 2 * static_cast<std::size_t>(g.k);
    double* old = ref + m1 * W;
    double* acc = old + m1 * W;
    Lanes count;
    for (std::size_t l = 0; l < W; ++l) {
        count[l] = static_cast<double>(g.n[l]);
        const double* first = g.table->row(static_cast<std::size_t>(g.rows[l][0]));
        for (std::size_t q = 0; q < m1; ++q) ref[q * W + l] = first[q];
    }
    const double tol = 1.4901161193847656e-08 * static_cast<double>(m1) / 2;
    LaneMask frozen{};  // no lane has settled yet
    std::size_t live = W;
    for (std::size_t pass = 1; live > 0; ++pass) {
        if (pass > g.max_passes) return false;
        lane_pass(g, tiles, ref, acc, pass == 1, live, frozen);
        const Lanes xd = next_lane_reference(old, ref, acc, count, g.k);
        std::swap(ref, old);
        LaneMask settled{};
        for (std::size_t l = 0; l < W; ++l) {
            if (frozen[l] || xd[l] > tol) continue;
            if (std::isnan(xd[l])) return false;
            settled[l] = frozen[l] = -1;
            --live;
            g.passes[l] = pass;
        }
        bool any = false;
        for (std::size_t l = 0; l < W; ++l) any = any || settled[l] != 0;
        if (any)
            for (std::size_t q = 0; q < m1; ++q)
                store(fin + q * W, settled ? load<Lanes>(ref + q * W) : load<Lanes>(fin + q * W));
    }
    return true;
}

bool lane_groups(LaneGroups& g) {
    const std::size_t m1 = 2 * static_cast<std::size_t>(g.k);
    std::size_t rows = 0;
    for (std::size_t l = 0; l < W; ++l) rows = g.n[l] > rows ? g.n[l] : rows;
    double* tiles = g.buf;
    double* fin = tiles + rows * m1 * W;
    if (!lane_iteration(g, tiles, fin + m1 * W, fin)) return false;
    // The sums of squared distances, as principal_axes_distances takes them.
    Lanes wx = broadcast<Lanes>(0.0), wy = wx, ww = wx, total = wx;
    for (int j = 0; j < g.k; ++j) {
        const Lanes x = load<Lanes>(fin + 2 * j * W), y = load<Lanes>(fin + (2 * j + 1) * W);
        wx += x;
        wy += y;
        ww += x * x + y * y;
    }
    for (std::size_t t = 0; t < rows; t += 2) {
        Lanes d[2];
        if (t + 1 < rows) {
            const double* const pair[2] = {tiles + t * m1 * W, tiles + (t + 1) * m1 * W};
            distance_sq_pair<Lanes, true>(pair, fin, g.k, wx, wy, ww, d);
        } else {
            d[0] = distance_sq_lanes<Lanes, true>(tiles + t * m1 * W, fin, g.k, wx, wy, ww);
        }
        for (std::size_t h = 0; h < 2 && t + h < rows; ++h) {
            LaneMask counted;
            for (std::size_t l = 0; l < W; ++l) counted[l] = t + h < g.n[l] ? -1 : 0;
            total = counted ? total + d[h] : total;
        }
    }
    for (std::size_t l = 0; l < W; ++l) {
        g.ss[l] = total[l];
        if (!std::isfinite(total[l])) return false;
    }
    return true;
}

#include "geometry/space_lanes.hpp"

constexpr KernelOps kOps{kLanes,     load_rows,       load_fit,  fit_pass,    next_reference,   fit_all,
                         rotate_all, distance_sq_sum, distances, lane_groups, lane_groups_space};

}  // namespace
}  // namespace QUILLAN_KERNEL_VARIANT
}  // namespace quillan::kernels

#endif  // QUILLAN_TILE_OPS_BODY
