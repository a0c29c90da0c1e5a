// The shape analyses' computations at 9,999 permutations on the bundled
// sets, one thread, partial Procrustes shapes as geomorph aligns them: the
// figures to hold against geomorph's and MASS's own times
// (bench/shape_analyses_timing.R measures those on the same data).
//   build/bench/quillan_bench_shape_analyses
#include "analyses/linear_models/model_shapes.hpp"
#include "analyses/toolkit/canonical_variates.hpp"
#include "analyses/toolkit/disparity.hpp"
#include "analyses/toolkit/modularity.hpp"
#include "analyses/toolkit/outliers.hpp"
#include "analyses/toolkit/two_block_pls.hpp"

#include <benchmark/benchmark.h>

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

void BM_outliers(benchmark::State& state) {
    const Eigen::MatrixXd y = shapes("larvalHead");
    const std::vector<int> g = codes("larvalMorph.treatment.groups.txt");
    for (auto _ : state) benchmark::DoNotOptimize(find_outliers(y, g));
}

void BM_disparity(benchmark::State& state) {
    const Eigen::MatrixXd y = shapes("larvalHead");
    const std::vector<int> g = codes("larvalMorph.treatment.groups.txt");
    const RunOptions o = one_thread();
    for (auto _ : state) {
        PermutationEngine engine(o);
        benchmark::DoNotOptimize(disparity_test(engine, squared_residuals(y, Eigen::MatrixXd::Ones(y.rows(), 1)), g, kPerms));
    }
}

void BM_cva(benchmark::State& state) {
    const Eigen::MatrixXd y = shapes("larvalHead");
    const std::vector<int> g = codes("larvalMorph.treatment.groups.txt");
    const RunOptions o = one_thread();
    for (auto _ : state) {
        PermutationEngine engine(o);
        benchmark::DoNotOptimize(canonical_variates(engine, y, g, {.nperm = kPerms}));
    }
}

void BM_integration(benchmark::State& state) {
    const Eigen::MatrixXd y = shapes("plethodon");
    const RunOptions o = one_thread();
    for (auto _ : state) {
        PermutationEngine engine(o);
        benchmark::DoNotOptimize(integration_test(engine, y, kPlethodonModules, 2, kPerms));
    }
}

void BM_modularity(benchmark::State& state) {
    const Eigen::MatrixXd y = shapes("plethodon");
    const RunOptions o = one_thread();
    for (auto _ : state) {
        PermutationEngine engine(o);
        benchmark::DoNotOptimize(modularity_test(engine, y, kPlethodonModules, 2, {.nperm = kPerms}));
    }
}

}  // namespace

BENCHMARK(BM_outliers)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_disparity)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_cva)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_integration)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_modularity)->Unit(benchmark::kMillisecond);
