// Speed of the superimposition that every permutation repeats.
//
// Sizes: 30 specimens x 8 landmarks in 3 groups, 200 x 20 in 4 groups,
// 2000 x 50 in 10 groups (and configurations in space beside the same in
// the plane, BM_sq_d_wg_space); generated shapes (a base shape with random
// perturbations, each specimen at a random position, size and angle; fixed
// seeds).
//
// Counters:
//   passes        consensus passes per call (all groups together)
//   t/lm.pass     time per specimen, landmark and consensus pass: the whole
//                 call's time divided by the specimen-landmark fits it made,
//                 so it includes the distance pass, the gathering of the
//                 groups and the final turn.  BM_consensus_iteration shows the
//                 iteration alone and BM_scalar_pass the same pass as a plain
//                 scalar loop, for comparison on the machine at hand.
#include "geometry/consensus_iteration.hpp"
#include "geometry/geometry.hpp"
#include "geometry/kernel_dispatch.hpp"
#include "geometry/shape_table.hpp"
#include "geometry/tile_ops.hpp"
#include "groups/groups.hpp"
#include "groups/within_groups.hpp"

#include <benchmark/benchmark.h>

#include <Eigen/Geometry>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <random>
#include <span>
#include <string>
#include <vector>

using namespace quillan;

namespace {

struct Sample {
    Matrix data;
    Codes codes;
    std::vector<Codes> shuffles;  // shuffled codes, as a permutation loop meets them
};

Sample make_sample(int n, int k, int groups) {
    std::mt19937_64 rng(20240611u + static_cast<unsigned>(n * 131 + k));
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<double> base(2 * static_cast<std::size_t>(k));
    for (int j = 0; j < k; ++j) {
        const double a = 2 * std::numbers::pi * j / k;
        base[2 * j] = std::cos(a) * (1.0 + 0.3 * std::sin(3.0 * a));
        base[2 * j + 1] = 0.7 * std::sin(a);
    }
    // Each group's mean shape differs a little from the base.
    std::vector<std::vector<double>> group_shape(static_cast<std::size_t>(groups), base);
    for (auto& g : group_shape)
        for (double& v : g) v += 0.03 * normal(rng);

    Sample s;
    s.data.resize(n, 2 * k + 1);
    s.codes.resize(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) s.codes[static_cast<std::size_t>(i)] = 1 + i % groups;
    std::shuffle(s.codes.begin(), s.codes.end(), rng);
    for (int i = 0; i < n; ++i) {
        const auto& shape = group_shape[static_cast<std::size_t>(s.codes[static_cast<std::size_t>(i)]) - 1];
        const double angle = 2 * std::numbers::pi * uniform(rng);
        const double scale = 20 + 80 * uniform(rng);
        const double dx = 500 * uniform(rng), dy = 500 * uniform(rng);
        const double c = std::cos(angle), sn = std::sin(angle);
        for (int j = 0; j < k; ++j) {
            const double px = shape[2 * j] + 0.05 * normal(rng);
            const double py = shape[2 * j + 1] + 0.05 * normal(rng);
            s.data(i, 2 * j) = scale * (px * c - py * sn) + dx;
            s.data(i, 2 * j + 1) = scale * (px * sn + py * c) + dy;
        }
        s.data(i, 2 * k) = scale;
    }
    for (int p = 0; p < 16; ++p) {
        Codes c = s.codes;
        std::shuffle(c.begin(), c.end(), rng);
        s.shuffles.push_back(std::move(c));
    }
    return s;
}

const Sample& sample(int size) {
    static const Sample small = make_sample(30, 8, 3);
    static const Sample medium = make_sample(200, 20, 4);
    static const Sample large = make_sample(2000, 50, 10);
    return size == 0 ? small : size == 1 ? medium : large;
}

void set_counters(benchmark::State& state, std::size_t passes, std::size_t row_passes, int k) {
    state.counters["passes"] = benchmark::Counter(static_cast<double>(passes), benchmark::Counter::kAvgIterations);
    state.counters["t/lm.pass"] =
        benchmark::Counter(static_cast<double>(row_passes) * k, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void label(benchmark::State& state, const Sample& s, int groups) {
    state.SetLabel(std::to_string(s.data.rows()) + "x" + std::to_string((s.data.cols() - 1) / 2) + ", " + std::to_string(groups) +
                   " groups");
}

// The matrix form, as an analysis calls it once per action: checks, centres,
// iterates, turns and builds the aligned table.
void BM_getconsensuspcafull(benchmark::State& state) {
    const Sample& s = sample(static_cast<int>(state.range(0)));
    std::size_t passes = 0;
    for (auto _ : state) {
        Consensus c = full_procrustes_consensus(s.data);
        passes += c.passes;
        benchmark::DoNotOptimize(c.y.data());
    }
    set_counters(state, passes, passes * static_cast<std::size_t>(s.data.rows()), static_cast<int>((s.data.cols() - 1) / 2));
    state.SetLabel(std::to_string(s.data.rows()) + "x" + std::to_string((s.data.cols() - 1) / 2));
}
BENCHMARK(BM_getconsensuspcafull)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// The total sum of squares on the prepared table: consensus and distances of
// all rows, no matrices.
void BM_tssd(benchmark::State& state) {
    const Sample& s = sample(static_cast<int>(state.range(0)));
    const ShapeTable table(s.data);
    ShapeScratch work;
    for (auto _ : state) benchmark::DoNotOptimize(whole_table_ss(table, work));
    set_counters(state, work.passes, work.row_passes, table.landmarks());
    state.SetLabel(std::to_string(s.data.rows()) + "x" + std::to_string(table.landmarks()));
}
BENCHMARK(BM_tssd)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// The consensus iteration alone (copying the rows into the work buffers,
// then the passes), without the final turn and distances.
void BM_consensus_iteration(benchmark::State& state) {
    const Sample& s = sample(static_cast<int>(state.range(0)));
    const ShapeTable table(s.data);
    ShapeScratch work;
    for (auto _ : state) {
        ConsensusRun run(work, table.landmarks());
        run.load_all(table);
        benchmark::DoNotOptimize(run.iterate(Procedure::Full));
    }
    set_counters(state, work.passes, work.row_passes, table.landmarks());
    state.SetLabel(std::to_string(s.data.rows()) + "x" + std::to_string(table.landmarks()));
}
BENCHMARK(BM_consensus_iteration)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// For comparison on the same machine: one pass written as a plain scalar
// loop over contiguous rows (the same arithmetic: fit of every row with its
// centroid size measured afresh, column means, rescale), no lanes.
void BM_scalar_pass(benchmark::State& state) {
    const Sample& s = sample(static_cast<int>(state.range(0)));
    const ShapeTable table(s.data);
    const std::size_t n = table.rows();
    const int k = table.landmarks();
    const std::size_t m1 = 2 * static_cast<std::size_t>(k);
    std::vector<double> rows(table.row(0), table.row(0) + n * m1), ref(table.row(0), table.row(0) + m1), acc(m1);
    for (auto _ : state) {
        std::fill(acc.begin(), acc.end(), 0.0);
        for (std::size_t i = 0; i < n; ++i) {
            double* r = rows.data() + i * m1;
            double b1 = 0, b2 = 0, sx = 0, sy = 0, ss = 0;
            for (int j = 0; j < k; ++j) {
                const double x = r[2 * j], y = r[2 * j + 1];
                sx += x;
                sy += y;
                b1 += ref[2 * j] * x + ref[2 * j + 1] * y;
                b2 += x * ref[2 * j + 1] - y * ref[2 * j];
            }
            const double cx = sx / k, cy = sy / k;
            for (int j = 0; j < k; ++j) {
                const double dx = r[2 * j] - cx, dy = r[2 * j + 1] - cy;
                ss += dx * dx + dy * dy;
            }
            const double fr = b1 / ss, fi = b2 / ss;
            for (int j = 0; j < k; ++j) {
                const double x = r[2 * j], y = r[2 * j + 1];
                r[2 * j] = x * fr - y * fi;
                r[2 * j + 1] = y * fr + x * fi;
                acc[2 * j] += r[2 * j];
                acc[2 * j + 1] += r[2 * j + 1];
            }
        }
        double cx = 0, cy = 0, ss = 0;
        for (int j = 0; j < k; ++j) cx += acc[2 * j] / n, cy += acc[2 * j + 1] / n;
        for (int j = 0; j < k; ++j) {
            const double dx = acc[2 * j] / n - cx / k, dy = acc[2 * j + 1] / n - cy / k;
            ss += dx * dx + dy * dy;
        }
        for (std::size_t q = 0; q < m1; ++q) ref[q] = acc[q] / static_cast<double>(n) / std::sqrt(ss);
        benchmark::DoNotOptimize(ref.data());
    }
    set_counters(state, state.iterations(), state.iterations() * n, k);
    state.SetLabel(std::to_string(n) + "x" + std::to_string(k));
}
BENCHMARK(BM_scalar_pass)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// One permutation's scoring: within_group_ss of a shuffled grouping on the prepared
// table with reused buffers (16 shuffles in turn).
void BM_sq_d_wg(benchmark::State& state) {
    const Sample& s = sample(static_cast<int>(state.range(0)));
    const ShapeTable table(s.data);
    WithinGroupsScratch scratch;
    std::size_t i = 0;
    for (auto _ : state) {
        const WithinSum w = within_group_ss_sum(table, s.shuffles[i++ % s.shuffles.size()], scratch);
        benchmark::DoNotOptimize(w.sum);
    }
    set_counters(state, scratch.work().passes, scratch.work().row_passes, table.landmarks());
    const std::size_t groups = within_group_ss_sum(table, s.codes, scratch).groups;
    label(state, s, static_cast<int>(groups));
}
BENCHMARK(BM_sq_d_wg)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// The observed grouping (groups of genuinely different mean shapes).
void BM_sq_d_wg_observed(benchmark::State& state) {
    const Sample& s = sample(static_cast<int>(state.range(0)));
    const ShapeTable table(s.data);
    WithinGroupsScratch scratch;
    for (auto _ : state) benchmark::DoNotOptimize(within_group_ss_sum(table, s.codes, scratch).sum);
    set_counters(state, scratch.work().passes, scratch.work().row_passes, table.landmarks());
    label(state, s, static_cast<int>(within_group_ss_sum(table, s.codes, scratch).groups));
}
BENCHMARK(BM_sq_d_wg_observed)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// The kernel a benchmark argument names: 0 baseline, 1 AVX2, 2 AVX-512.
KernelVariant kernel_argument(std::int64_t a) {
    return a == 0 ? KernelVariant::Baseline : a == 1 ? KernelVariant::Avx2 : KernelVariant::Avx512;
}

// The rows 0 .. all - 1 in a fixed random order: groups drawn from it are
// scattered over the table as a permutation scatters them.
std::vector<int> shuffled_rows(std::size_t all) {
    std::vector<int> order(all);
    for (std::size_t i = 0; i < all; ++i) order[i] = static_cast<int>(i);
    std::mt19937_64 rng(7);
    std::shuffle(order.begin(), order.end(), rng);
    return order;
}

// One group's sum of squares by kernel and group size, its rows either the
// same every call (they stay in the caches: the kernel's own speed) or a new
// random choice from a table of 10,000 specimens x 50 landmarks (8 MB) each
// call, as a permutation draws them (the rows come from memory, and the
// group's tiles, 800 bytes a row, pass through the second-level cache).
// Arguments: kernel (0 baseline, 1 AVX2, 2 AVX-512), rows, drawn afresh (0/1).
// Compare a kernel's t/lm.pass in the two columns to see how much of a
// permutation of a large study is the memory's rather than the arithmetic's.
void BM_group_rows(benchmark::State& state) {
    static const Sample big = make_sample(10000, 50, 10);
    const KernelVariant kernel = kernel_argument(state.range(0));
    if (!select_kernel(kernel)) return state.SkipWithError("this processor lacks the kernel");
    const ShapeTable table(big.data);
    const std::size_t n = static_cast<std::size_t>(state.range(1)), all = table.rows();
    const std::vector<int> order = shuffled_rows(all);
    ShapeScratch work;
    std::size_t at = 0;
    for (auto _ : state) {
        if (state.range(2) != 0) at = (at + n) % (all - n);
        benchmark::DoNotOptimize(group_ss(table, std::span<const int>(order.data() + at, n), work));
    }
    set_counters(state, work.passes, work.row_passes, table.landmarks());
    state.SetLabel(std::string(kernel_name(kernel)) + ", " + std::to_string(n) + " rows, " +
                   (state.range(2) != 0 ? "drawn afresh" : "the same rows"));
    select_kernel(best_kernel());
}
BENCHMARK(BM_group_rows)->ArgsProduct({{0, 1, 2}, {200, 1000, 2500}, {0, 1}})->Unit(benchmark::kMicrosecond);

// One consensus pass alone (every row fitted, in place, and the columns
// summed) over tiles of a given size, by kernel: whether a pass runs at the
// speed of the arithmetic or of the cache that holds the tiles.  A pass reads
// every tile and writes it back, 16 bytes a landmark and row each way; 16
// rows of 50 landmarks (12.8 KB) stay in the first-level cache, 500 rows
// (400 KB) in the second, 2500 rows (2 MB) do not.  Arguments: kernel (0
// baseline, 1 AVX2, 2 AVX-512), rows.
void BM_fit_pass(benchmark::State& state) {
    static const Sample big = make_sample(2500, 50, 10);
    const KernelVariant kernel = kernel_argument(state.range(0));
    if (!select_kernel(kernel)) return state.SkipWithError("this processor lacks the kernel");
    const ShapeTable table(big.data);
    const kernels::KernelOps& ops = kernels::ops_for_rows(kernels::kMaxLanes);
    const std::size_t n = static_cast<std::size_t>(state.range(1));
    const int k = table.landmarks();
    const std::size_t m1 = 2 * static_cast<std::size_t>(k);
    LineVector tiles((n + kernels::kMaxLanes) * m1), acc(kernels::acc_room(k));
    std::vector<double> ref(table.row(0), table.row(0) + m1);
    kernels::TileBlock b;
    b.tiles = tiles.data();
    b.n = n;
    b.k = k;
    ops.load(b, table, nullptr);
    for (auto _ : state) {
        std::fill(acc.begin(), acc.end(), 0.0);
        ops.fit_pass(b, Procedure::Full, ref.data(), acc.data());
        benchmark::DoNotOptimize(acc.data());
    }
    set_counters(state, state.iterations(), state.iterations() * n, k);
    state.SetLabel(std::string(kernel_name(kernel)) + ", " + std::to_string(n) + " rows");
    select_kernel(best_kernel());
}
BENCHMARK(BM_fit_pass)->ArgsProduct({{0, 1, 2}, {16, 500, 2500}})->Unit(benchmark::kMicrosecond);

// Copying the rows of a group of 1000 drawn afresh from a table of 10,000
// specimens x 50 landmarks into its tiles, as the first pass of every group
// of a permutation does (arguments 0-2: the kernel's transposing copy), and,
// for comparison, the same rows copied plainly one after another with the
// same look-ahead (argument 3): when the two take the same time, the copy
// runs at the speed of the caches and memory, and no vector width or
// arrangement of the shuffles will shorten it.
void BM_gather(benchmark::State& state) {
    static const Sample big = make_sample(10000, 50, 10);
    const int which = static_cast<int>(state.range(0));
    const KernelVariant kernel = kernel_argument(which);
    if (which < 3 && !select_kernel(kernel)) return state.SkipWithError("this processor lacks the kernel");
    const ShapeTable table(big.data);
    const std::size_t n = 1000, all = table.rows(), m1 = 2 * static_cast<std::size_t>(table.landmarks());
    const std::vector<int> order = shuffled_rows(all);
    LineVector tiles((n + kernels::kMaxLanes) * m1);
    const kernels::KernelOps& ops = kernels::ops_for_rows(kernels::kMaxLanes);
    std::size_t at = 0;
    for (auto _ : state) {
        at = (at + n) % (all - n);
        const int* rows = order.data() + at;
        if (which < 3) {
            kernels::TileBlock b;
            b.tiles = tiles.data();
            b.n = n;
            b.k = table.landmarks();
            ops.load(b, table, rows);
        } else {
            for (std::size_t i = 0; i < n; ++i) {
                const double* ahead = table.row(static_cast<std::size_t>(rows[i + 16 < n ? i + 16 : i]));
                for (std::size_t q = 0; q < m1; q += kLineDoubles) __builtin_prefetch(ahead + q);
                std::memcpy(tiles.data() + i * m1, table.row(static_cast<std::size_t>(rows[i])), m1 * sizeof(double));
            }
        }
        benchmark::DoNotOptimize(tiles.data());
    }
    state.counters["t/row"] = benchmark::Counter(static_cast<double>(state.iterations() * n),
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetLabel(which < 3 ? std::string(kernel_name(kernel)) + " tiles" : std::string("plain copy"));
    select_kernel(best_kernel());
}
BENCHMARK(BM_gather)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

// Cell numbering of two code vectors, as the two-way loops call it.
void BM_combined_code(benchmark::State& state) {
    const Sample& s = sample(static_cast<int>(state.range(0)));
    CellScratch cells;
    std::vector<double> out(s.codes.size());
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(cell_codes(s.codes, s.shuffles[i++ % s.shuffles.size()], out, cells));
    state.SetLabel(std::to_string(s.codes.size()) + " codes");
}
BENCHMARK(BM_combined_code)->Arg(0)->Arg(1)->Arg(2);

// One permutation's scoring of the same specimens in space and in the plane:
// a generated set of configurations in 3-D (a base shape, each group's mean
// a little off it, each specimen turned about a random axis, scaled and
// moved), and the same specimens' x and y alone, turned in the plane by the
// same angle, scaled and moved alike, as a 2-D table of as many landmarks.  Arguments: the set (0: 200 x 20 in 4 groups of 50; 1:
// 359 x 26 in groups of 1-3, 5 and 50, as field samples give), the dimension, and the kernel variant (0 baseline, 1 AVX2, 2
// AVX-512).  The time of one iteration is the time of one permutation.
//   build/bench/quillan_bench_geometry --benchmark_filter=BM_sq_d_wg_space
struct SpaceSample {
    Matrix plane, space;
    std::vector<Codes> shuffles;
};

SpaceSample make_space_sample(int which) {
    std::vector<int> sizes(4, 50);
    if (which == 1) {
        for (int g = 0; g < 20; ++g) sizes.push_back(1 + g % 3);
        sizes.insert(sizes.end(), 24, 5);
    }
    const int k = which == 0 ? 20 : 26;
    std::mt19937_64 rng(20261208u + static_cast<unsigned>(which));
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<double> base(3 * static_cast<std::size_t>(k));
    for (double& v : base) v = normal(rng);
    Codes codes;
    for (std::size_t g = 0; g < sizes.size(); ++g)
        codes.insert(codes.end(), static_cast<std::size_t>(sizes[g]), 1.0 + static_cast<double>(g));
    std::shuffle(codes.begin(), codes.end(), rng);
    std::vector<std::vector<double>> group_shape(sizes.size(), base);
    for (auto& g : group_shape)
        for (double& v : g) v += 0.05 * normal(rng);
    const int n = static_cast<int>(codes.size());
    SpaceSample s;
    s.space.resize(n, 3 * k + 1);
    s.plane.resize(n, 2 * k + 1);
    for (int i = 0; i < n; ++i) {
        const auto& shape = group_shape[static_cast<std::size_t>(codes[static_cast<std::size_t>(i)]) - 1];
        Eigen::Vector3d axis(normal(rng), normal(rng), normal(rng));
        const double angle = 2 * std::numbers::pi * uniform(rng);
        const Eigen::Matrix3d turn = Eigen::AngleAxisd(angle, axis.normalized()).toRotationMatrix();
        const Eigen::Matrix2d flat_turn = Eigen::Rotation2Dd(angle).toRotationMatrix();
        const double scale = 20 + 80 * uniform(rng);
        const Eigen::Vector3d shift(500 * uniform(rng), 500 * uniform(rng), 500 * uniform(rng));
        for (int j = 0; j < k; ++j) {
            const std::size_t q = 3 * static_cast<std::size_t>(j);
            const Eigen::Vector3d p(shape[q] + 0.05 * normal(rng), shape[q + 1] + 0.05 * normal(rng),
                                    shape[q + 2] + 0.05 * normal(rng));
            const Eigen::Vector3d v = scale * (turn * p) + shift;
            const Eigen::Vector2d w = scale * (flat_turn * p.head<2>()) + shift.head<2>();
            for (int a = 0; a < 3; ++a) s.space(i, 3 * j + a) = v(a);
            for (int a = 0; a < 2; ++a) s.plane(i, 2 * j + a) = w(a);
        }
        s.space(i, 3 * k) = s.plane(i, 2 * k) = scale;
    }
    for (int p = 0; p < 16; ++p) {
        Codes c = codes;
        std::shuffle(c.begin(), c.end(), rng);
        s.shuffles.push_back(std::move(c));
    }
    return s;
}

void BM_sq_d_wg_space(benchmark::State& state) {
    static const SpaceSample samples[2] = {make_space_sample(0), make_space_sample(1)};
    const SpaceSample& s = samples[state.range(0)];
    const int d = static_cast<int>(state.range(1));
    const KernelVariant variant = all_kernels()[static_cast<std::size_t>(state.range(2))];
    const KernelVariant before = active_kernel();
    if (!select_kernel(variant)) {
        state.SkipWithError("this processor lacks the kernel");
        return;
    }
    const ShapeTable table(d == 3 ? s.space : s.plane, {}, d);
    WithinGroupsScratch scratch;
    std::size_t i = 0;
    for (auto _ : state) {
        const WithinSum w = within_group_ss_sum(table, s.shuffles[i++ % s.shuffles.size()], scratch);
        benchmark::DoNotOptimize(w.sum);
    }
    set_counters(state, scratch.work().passes, scratch.work().row_passes, table.landmarks());
    state.SetLabel(std::to_string(table.rows()) + "x" + std::to_string(table.landmarks()) + " in " + std::to_string(d) + "-D, " +
                   kernel_name(variant));
    select_kernel(before);
}
BENCHMARK(BM_sq_d_wg_space)->ArgsProduct({{0, 1}, {2, 3}, {0, 1, 2}})->Unit(benchmark::kMicrosecond);

}  // namespace
