// Where the time of the covariate model tests goes, on the plethodon data
// (40 specimens, 12 landmarks, a 2 x 2 design of cells of 10): the parts of
// "RunTwoCov" at 999 permutations on one thread, and the two pieces of work
// each permutation repeats, per call.
//   build/bench/quillan_bench_slopes
#include "analyses/covariates/covariate.hpp"
#include "analyses/covariates/slope_models.hpp"
#include "analyses/permutation_engine.hpp"
#include "geometry/shape_table.hpp"
#include "groups/groups.hpp"
#include "platform/console.hpp"
#include "window/shell.hpp"

#include <benchmark/benchmark.h>

#include <chrono>
#include <numeric>
#include <sstream>

using namespace quillan;

namespace {

struct Plethodon {
    Matrix data = dload(std::string(QUILLAN_DATA_DIR) + "/plethodon.lm.txt");
    Matrix glist = dload(std::string(QUILLAN_DATA_DIR) + "/plethodon.groups.txt");
    std::vector<double> cov = elements(dload(std::string(QUILLAN_DATA_DIR) + "/plethodon.cov.txt"));
    Codes g1 = column_codes(glist, 0), g2 = column_codes(glist, 1);
    ShapeTable table{data};
    double total_ss = quillan::whole_table_ss(data);
};

const Plethodon& plethodon() {
    static const Plethodon p;
    return p;
}

struct OneThread {
    RunOptions options;
    std::ostringstream sink;
    Console console{sink};
    OneThread() {
        options.seed = 1;
        options.threads = 1;
    }
};

constexpr long long kPerms = 999;

// Wall time per permutation in microseconds, from the benchmark's own
// real-time measurement.
void per_perm(benchmark::State& state, double seconds) {
    state.counters["us_per_perm"] = seconds * 1e6 / (static_cast<double>(state.iterations()) * kPerms);
}

// The cell model against the models with one variable shuffled: two new cell
// codings per permutation, each cell with its own consensus.
void BM_twogroupcov(benchmark::State& state) {
    const Plethodon& p = plethodon();
    OneThread t;
    double seconds = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        PermutationEngine engine(t.options);
        benchmark::DoNotOptimize(two_variable_slopes_test(engine, t.console, p.table, p.g1, p.g2, p.cov, kPerms));
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    per_perm(state, seconds);
}

// Both slope models of one grouping: residuals once, then only line fits.
void BM_common_slope_test2(benchmark::State& state, bool cells) {
    const Plethodon& p = plethodon();
    const Codes codes = cells ? cell_codes(p.g1, p.g2).cell_list : p.g1;
    const CovGroups groups = cov_groups(codes, p.cov, group_name);
    OneThread t;
    double seconds = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        PermutationEngine engine(t.options);
        benchmark::DoNotOptimize(test_slope_models(engine, t.console, p.table, groups, p.total_ss, kPerms));
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    per_perm(state, seconds);
}

// One cell's residuals from its own rotation-only consensus.
void BM_consensus_residuals(benchmark::State& state) {
    const Plethodon& p = plethodon();
    std::vector<int> rows(static_cast<std::size_t>(state.range(0)));
    std::iota(rows.begin(), rows.end(), 0);
    std::vector<double> out(rows.size() * 24);
    ShapeScratch work;
    for (auto _ : state) {
        consensus_residuals(p.table, rows, work, out.data());
        benchmark::DoNotOptimize(out.data());
    }
}

// One group's 24 straight-line fits and their residual sum.
void BM_residual_ss(benchmark::State& state) {
    const Plethodon& p = plethodon();
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    std::vector<int> rows(n);
    std::iota(rows.begin(), rows.end(), 0);
    std::vector<double> res(n * 24), z(p.cov.begin(), p.cov.begin() + static_cast<std::ptrdiff_t>(n));
    ShapeScratch work;
    consensus_residuals(p.table, rows, work, res.data());
    for (auto _ : state) benchmark::DoNotOptimize(residual_ss(z.data(), n, res.data(), 24, 24));
}

}  // namespace

BENCHMARK(BM_twogroupcov)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_common_slope_test2, cells, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_common_slope_test2, g1, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_consensus_residuals)->Arg(10)->Arg(20);
BENCHMARK(BM_residual_ss)->Arg(10)->Arg(40);

BENCHMARK_MAIN();
