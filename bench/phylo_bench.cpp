// The analyses on a tree on simulated studies, one thread, 999
// permutations: physignal, the PGLS model of a covariate, integration and
// modularity of two modules of five landmarks on 1,000 species x 10
// landmarks (bench/phylo_geomorph.R times geomorph on a study made the same
// way), and physignal and the PGLS with contrasts on 20,000 species x 20
// landmarks, where no n x n matrix is made; the rates of evolution of two
// groups of tips (every other tip), by permutation and by simulation, on the
// same studies.  Time is the process's processor time.
//   build/bench/quillan_bench_phylo
#include "analyses/linear_models/linear_model.hpp"
#include "analyses/phylo/evol_rates.hpp"
#include "analyses/phylo/pgls.hpp"
#include "analyses/phylo/phylo_centring.hpp"
#include "analyses/phylo/phylo_signal.hpp"
#include "analyses/toolkit/modularity.hpp"
#include "analyses/toolkit/two_block_pls.hpp"
#include "bench_support.hpp"
#include "platform/random.hpp"

#include <benchmark/benchmark.h>

#include <random>

using namespace quillan;

namespace {

// A coalescent tree of n tips (random pairs joined, going back in time, at
// exponential intervals, as ape's rcoal), numbered as the tree type numbers
// its nodes, and Brownian motion of `traits` values and a covariate on it.
struct Study {
    PhyloTree tree;
    Eigen::MatrixXd x;
    std::vector<double> cov;
    std::vector<int> rows;
};

Study simulated(int n, int traits) {
    std::mt19937_64 rng(52);
    std::normal_distribution<double> normal;
    // Join lineages; joined[k] = the two children of the k-th join.
    std::vector<int> lineages(static_cast<std::size_t>(n));
    std::vector<double> height(static_cast<std::size_t>(2 * n - 1), 0);
    std::vector<int> parent(static_cast<std::size_t>(2 * n - 1), -1);
    for (int i = 0; i < n; ++i) lineages[static_cast<std::size_t>(i)] = i;
    double now = 0;
    for (int next = n; lineages.size() > 1; ++next) {
        const auto k = static_cast<double>(lineages.size());
        now += std::exponential_distribution<double>(k * (k - 1) / 2)(rng);
        for (int pick = 0; pick < 2; ++pick) {
            const auto at = std::uniform_int_distribution<std::size_t>(0, lineages.size() - 1)(rng);
            parent[static_cast<std::size_t>(lineages[at])] = next;
            lineages.erase(lineages.begin() + static_cast<std::ptrdiff_t>(at));
        }
        height[static_cast<std::size_t>(next)] = now;
        lineages.push_back(next);
    }
    // The root was made last: renumber the inner nodes from the root down.
    Study s;
    const int nodes = 2 * n - 1;
    std::vector<int> id(static_cast<std::size_t>(nodes));
    for (int v = 0; v < n; ++v) id[static_cast<std::size_t>(v)] = v;
    for (int v = n; v < nodes; ++v) id[static_cast<std::size_t>(v)] = nodes - 1 - v + n;
    s.tree.parent.assign(static_cast<std::size_t>(nodes), -1);
    s.tree.length.assign(static_cast<std::size_t>(nodes), 0);
    for (int v = 0; v < nodes; ++v) {
        const int p = parent[static_cast<std::size_t>(v)];
        if (p < 0) continue;
        s.tree.parent[static_cast<std::size_t>(id[static_cast<std::size_t>(v)])] = id[static_cast<std::size_t>(p)];
        s.tree.length[static_cast<std::size_t>(id[static_cast<std::size_t>(v)])] =
            height[static_cast<std::size_t>(p)] - height[static_cast<std::size_t>(v)];
    }
    for (int i = 0; i < n; ++i) s.tree.labels.push_back("t" + std::to_string(i + 1));
    // Brownian motion from the root down (parents come before children in
    // the new numbering, and the tips after all).
    Eigen::MatrixXd value = Eigen::MatrixXd::Zero(nodes, traits + 1);
    for (int v = n + 1; v < nodes; ++v)
        for (int j = 0; j <= traits; ++j)
            value(v, j) = value(s.tree.parent[static_cast<std::size_t>(v)], j) +
                          std::sqrt(s.tree.length[static_cast<std::size_t>(v)]) * normal(rng);
    for (int v = 0; v < n; ++v)
        for (int j = 0; j <= traits; ++j)
            value(v, j) = value(s.tree.parent[static_cast<std::size_t>(v)], j) +
                          std::sqrt(s.tree.length[static_cast<std::size_t>(v)]) * normal(rng);
    s.x = value.topLeftCorner(n, traits);
    s.cov.assign(value.col(traits).data(), value.col(traits).data() + n);
    for (int i = 0; i < n; ++i) s.rows.push_back(i);
    return s;
}

RunOptions one_thread() {
    RunOptions o;
    o.seed = 1;
    o.threads = 1;
    return o;
}

template <class F>
void cpu_timed(benchmark::State& state, F&& analysis) {
    for (auto _ : state) {
        const double t0 = bench::process_cpu_seconds();
        analysis();
        state.SetIterationTime(bench::process_cpu_seconds() - t0);
    }
}

void BM_physignal(benchmark::State& state) {
    const Study s = simulated(static_cast<int>(state.range(0)), 2 * static_cast<int>(state.range(1)));
    const RunOptions o = one_thread();
    cpu_timed(state, [&] {
        PermutationEngine engine(o);
        const TreeAlgebra tree(s.tree, s.rows);
        benchmark::DoNotOptimize(phylo_signal(engine, tree, s.x, 999).k);
    });
}

void BM_pgls(benchmark::State& state) {
    const Study s = simulated(static_cast<int>(state.range(0)), 2 * static_cast<int>(state.range(1)));
    const auto how = state.range(2) ? PhyloTransform::Contrasts : PhyloTransform::Cholesky;
    const RunOptions o = one_thread();
    ModelVariable cov;
    cov.name = "cov";
    cov.values = s.cov;
    const ModelDesign design = build_design("cov", {cov}, static_cast<int>(s.x.rows()));
    ModelTestOptions test;
    test.nperm = 999;
    test.generalized = true;
    cpu_timed(state, [&] {
        PermutationEngine engine(o);
        Eigen::MatrixXd y = s.x;
        ModelDesign d = design;
        transform_for_tree(s.tree, s.rows, how, y, d.x);
        benchmark::DoNotOptimize(test_linear_model(engine, y, d, test).terms.front().f);
    });
}

void BM_evol_rates(benchmark::State& state) {
    const Study s = simulated(static_cast<int>(state.range(0)), 2 * static_cast<int>(state.range(1)));
    const RateOptions rates{.nperm = 999, .method = state.range(2) ? RateMethod::Simulation : RateMethod::Permutation};
    std::vector<int> group;
    for (std::size_t i = 0; i < s.rows.size(); ++i) group.push_back(static_cast<int>(i % 2));
    const RunOptions o = one_thread();
    cpu_timed(state, [&] {
        PermutationEngine engine(o);
        benchmark::DoNotOptimize(group_rates(engine, s.tree, s.rows, s.x, group, rates).ratio);
    });
}

// Landmarks 1-5 and 6-10, as bench/phylo_geomorph.R gives them.
std::vector<int> two_modules(int landmarks) {
    std::vector<int> module(static_cast<std::size_t>(landmarks), 0);
    for (int l = landmarks / 2; l < landmarks; ++l) module[static_cast<std::size_t>(l)] = 1;
    return module;
}

void BM_phylo_integration(benchmark::State& state) {
    const auto landmarks = static_cast<int>(state.range(1));
    const Study s = simulated(static_cast<int>(state.range(0)), 2 * landmarks);
    const RunOptions o = one_thread();
    cpu_timed(state, [&] {
        PermutationEngine engine(o);
        const Eigen::MatrixXd t = phylo_centring(s.tree, s.rows, engine);
        benchmark::DoNotOptimize(integration_test(engine, phylo_centred(t, s.x), two_modules(landmarks), 2, 999).mean_r);
    });
}

// With the rotation search of 1,800 angles.
void BM_phylo_modularity(benchmark::State& state) {
    const auto landmarks = static_cast<int>(state.range(1));
    const Study s = simulated(static_cast<int>(state.range(0)), 2 * landmarks);
    const RunOptions o = one_thread();
    cpu_timed(state, [&] {
        PermutationEngine engine(o);
        const Eigen::MatrixXd t = phylo_centring(s.tree, s.rows, engine);
        benchmark::DoNotOptimize(
            modularity_test(engine, s.x, two_modules(landmarks), 2, {.nperm = 999, .rows_transform = &t}).cr);
    });
}

}  // namespace

// species, landmarks (and for the model, 1 for contrasts; for the rates, 1 for simulation)
BENCHMARK(BM_physignal)->Args({1000, 10})->Args({20000, 20})->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_pgls)
    ->Args({1000, 10, 0})
    ->Args({1000, 10, 1})
    ->Args({20000, 20, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK(BM_evol_rates)
    ->Args({1000, 10, 0})
    ->Args({1000, 10, 1})
    ->Args({20000, 20, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK(BM_phylo_integration)->Args({1000, 10})->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_phylo_modularity)->Args({1000, 10})->Unit(benchmark::kMillisecond)->UseManualTime();
