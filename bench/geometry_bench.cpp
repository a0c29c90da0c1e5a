// Speed of the superimposition that every permutation repeats.
//
// Sizes: 30 specimens x 8 landmarks in 3 groups, 200 x 20 in 4 groups,
// 2000 x 50 in 10 groups; generated shapes (a base shape with random
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
#include "geometry/shape_table.hpp"
#include "groups/groups.hpp"
#include "groups/within_groups.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
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

}  // namespace
