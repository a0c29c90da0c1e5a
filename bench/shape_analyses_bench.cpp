// The shape analyses' computations at 9,999 permutations on the bundled
// sets, one thread, partial Procrustes shapes as geomorph aligns them: the
// figures to hold against geomorph's and MASS's own times
// (bench/shape_analyses_timing.R measures those on the same data).  The
// Time column is the processor time of the whole process (the permutations
// run on a worker thread while the main one waits), as R's script reports
// its own; the CPU column counts the main thread only.
//   build/bench/quillan_bench_shape_analyses
// The canonical variates come twice: their classification alone
// (BM_cva_classification, what MASS::lda with CV = TRUE does) and the whole
// analysis with the permuted distances between the groups (BM_cva).
#include "analyses/linear_models/model_shapes.hpp"
#include "analyses/toolkit/canonical_variates.hpp"
#include "analyses/toolkit/disparity.hpp"
#include "analyses/toolkit/modularity.hpp"
#include "analyses/toolkit/outliers.hpp"
#include "analyses/toolkit/symmetry.hpp"
#include "analyses/toolkit/two_block_pls.hpp"
#include "bench_support.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace quillan;

namespace {

constexpr long long kPerms = 9999;

Matrix table(const std::string& name) {
    std::ifstream in(std::string(QUILLAN_DATA_DIR) + "/" + name);
    std::vector<std::vector<double>> rows;
    for (std::string line; std::getline(in, line);) {
        std::istringstream cells(line);
        rows.emplace_back();
        for (double v; cells >> v;) rows.back().push_back(v);
    }
    Matrix m(static_cast<Eigen::Index>(rows.size()), static_cast<Eigen::Index>(rows.front().size()));
    for (Eigen::Index i = 0; i < m.rows(); ++i)
        for (Eigen::Index j = 0; j < m.cols(); ++j) m(i, j) = rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
    return m;
}

Eigen::MatrixXd shapes(const std::string& set) { return tangent_shapes(table(set + ".lm.txt"), Alignment::Partial); }

std::vector<int> codes(const std::string& file) {
    const Matrix g = table(file);
    std::vector<int> out;
    for (Eigen::Index i = 0; i < g.rows(); ++i) out.push_back(static_cast<int>(g(i, 0)) - 1);
    return out;
}

RunOptions one_thread() {
    RunOptions o;
    o.seed = 1;
    o.threads = 1;
    return o;
}

// plethodon's partition into the first five landmarks and the other seven.
const std::vector<int> kPlethodonModules{0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1};

// Runs `analysis` once per iteration, timed by the process's processor time.
template <class F>
void cpu_timed(benchmark::State& state, F&& analysis) {
    for (auto _ : state) {
        const double t0 = bench::process_cpu_seconds();
        analysis();
        state.SetIterationTime(bench::process_cpu_seconds() - t0);
    }
}

void BM_outliers(benchmark::State& state) {
    const Eigen::MatrixXd y = shapes("larvalHead");
    const std::vector<int> g = codes("larvalMorph.treatment.groups.txt");
    cpu_timed(state, [&] { benchmark::DoNotOptimize(find_outliers(y, g)); });
}

void BM_disparity(benchmark::State& state) {
    const Eigen::MatrixXd y = shapes("larvalHead");
    const std::vector<int> g = codes("larvalMorph.treatment.groups.txt");
    const RunOptions o = one_thread();
    cpu_timed(state, [&] {
        PermutationEngine engine(o);
        benchmark::DoNotOptimize(disparity_test(engine, squared_residuals(y, Eigen::MatrixXd::Ones(y.rows(), 1)), g, kPerms));
    });
}

void cva(benchmark::State& state, long long nperm) {
    const Eigen::MatrixXd y = shapes("larvalHead");
    const std::vector<int> g = codes("larvalMorph.treatment.groups.txt");
    const RunOptions o = one_thread();
    cpu_timed(state, [&] {
        PermutationEngine engine(o);
        benchmark::DoNotOptimize(canonical_variates(engine, y, g, {.nperm = nperm}));
    });
}
void BM_cva_classification(benchmark::State& state) { cva(state, 0); }
void BM_cva(benchmark::State& state) { cva(state, kPerms); }

void BM_integration(benchmark::State& state) {
    const Eigen::MatrixXd y = shapes("plethodon");
    const RunOptions o = one_thread();
    cpu_timed(state, [&] {
        PermutationEngine engine(o);
        benchmark::DoNotOptimize(integration_test(engine, y, kPlethodonModules, 2, kPerms));
    });
}

// Shape against a table of two other variables of the same specimens:
// pupfish's centroid size and group code.
void BM_pls(benchmark::State& state) {
    const Eigen::MatrixXd y = shapes("pupfish");
    Eigen::MatrixXd block(y.rows(), 2);
    block << table("pupfish.cov.txt").col(0), table("pupfish.groups.txt").col(0);
    const RunOptions o = one_thread();
    cpu_timed(state, [&] {
        PermutationEngine engine(o);
        benchmark::DoNotOptimize(two_block_pls(engine, y, block, kPerms));
    });
}

void BM_modularity(benchmark::State& state) {
    const Eigen::MatrixXd y = shapes("plethodon");
    const RunOptions o = one_thread();
    cpu_timed(state, [&] {
        PermutationEngine engine(o);
        benchmark::DoNotOptimize(modularity_test(engine, y, kPlethodonModules, 2, {.nperm = kPerms}));
    });
}

// Matching symmetry of the mosquito wings: individual, side and their
// interaction over the two replicates of every side, shape and size tables.
void BM_symmetry(benchmark::State& state) {
    const Matrix landmarks = table("mosquito.lm.txt");
    SymmetryDesign d;
    d.side = codes("mosquito.side.groups.txt");
    d.individual = codes("mosquito.ind.groups.txt");
    d.individuals = *std::max_element(d.individual.begin(), d.individual.end()) + 1;
    d.replicates = true;
    const RunOptions o = one_thread();
    cpu_timed(state, [&] {
        PermutationEngine engine(o);
        benchmark::DoNotOptimize(symmetry_test(engine, landmarks, 2, d, Alignment::Partial, kPerms));
    });
}

}  // namespace

BENCHMARK(BM_outliers)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_disparity)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_cva_classification)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_cva)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_integration)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_pls)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_modularity)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_symmetry)->Unit(benchmark::kMillisecond)->UseManualTime();
