// Processor time per permutation of `trajectory`, one thread, on the two
// bundled sets: data/trajectories.csv (3 groups x 4 stages, 72 specimens of
// 8 landmarks, superimposed: the model's table, path lengths, angles and
// shape differences) and data/motionpaths.csv (4 groups of 10 paths of 5
// points, as loaded).  bench/trajectory_rrpp.R times RRPP on the same.
//   build/bench/quillan_bench_trajectory
// The counter cpu_us_per_perm is the processor time of 10,999 permutations
// less that of 999, over 10,000: the superimposition and the bases drop out.
#include "analyses/linear_models/model_design.hpp"
#include "analyses/linear_models/model_shapes.hpp"
#include "analyses/linear_models/trajectories.hpp"
#include "bench_support.hpp"

#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>

using namespace quillan;
using namespace quillan::bench;

namespace {

struct Set {
    Eigen::MatrixXd shapes;
    ModelDesign design;
    TrajectoryLayout layout;
};

// A headed table of ID, `factors` columns of words, then coordinates.
Set read_set(const std::string& file, int factors, bool superimpose, const TrajectoryLayout& layout) {
    std::ifstream in(std::string(QUILLAN_DATA_DIR) + "/" + file);
    std::string line;
    std::getline(in, line);
    std::vector<std::vector<std::string>> words(static_cast<std::size_t>(factors));
    std::vector<std::vector<double>> rows;
    while (std::getline(in, line)) {
        std::stringstream cells(line);
        std::string cell;
        std::getline(cells, cell, ',');
        for (auto& w : words) std::getline(cells, w.emplace_back(), ',');
        rows.emplace_back();
        while (std::getline(cells, cell, ',')) rows.back().push_back(std::stod(cell));
    }
    Matrix table(static_cast<Eigen::Index>(rows.size()), static_cast<Eigen::Index>(rows.front().size() + 1));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (std::size_t j = 0; j < rows[i].size(); ++j)
            table(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j)) = rows[i][j];
        table(static_cast<Eigen::Index>(i), table.cols() - 1) = 1;
    }
    Set s;
    s.shapes = superimpose ? tangent_shapes(table, Alignment::Full) : Eigen::MatrixXd(table.leftCols(table.cols() - 1));
    ModelVariables vars{ModelVariable::factor_of_words(layout.group, words[0])};
    if (factors > 1) vars.push_back(ModelVariable::factor_of_words(layout.level, words[1]));
    s.design =
        build_design(factors > 1 ? layout.group + " * " + layout.level : layout.group, vars, static_cast<int>(table.rows()));
    s.layout = layout;
    return s;
}

double run_seconds(const Set& s, long long nperm) {
    RunOptions options;
    options.seed = 1;
    options.threads = 1;
    ModelTestOptions test;
    test.nperm = nperm;
    const double t0 = process_cpu_seconds();
    PermutationEngine engine(options);
    const TrajectoryComparisons comparisons(s.shapes, s.design, s.layout);
    const ModelTable table = test_linear_model(engine, s.shapes, s.design, test, 0, &comparisons);
    benchmark::DoNotOptimize(comparisons.result(table.companion, nperm));
    return process_cpu_seconds() - t0;
}

void run_case(benchmark::State& state, const Set& s) {
    double cpu = 0;
    for (auto _ : state) cpu += run_seconds(s, 10999) - run_seconds(s, 999);
    state.counters["cpu_us_per_perm"] = cpu * 1e6 / (static_cast<double>(state.iterations()) * 10000.0);
}

}  // namespace

int main(int argc, char** argv) {
    static const Set stages = read_set("trajectories.csv", 2, true, {"group", "stage", 0});
    static const Set motion = read_set("motionpaths.csv", 1, false, {"path", "", 5});
    benchmark::RegisterBenchmark("trajectory/stages", [](benchmark::State& s) { run_case(s, stages); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchmark::RegisterBenchmark("trajectory/motionpaths", [](benchmark::State& s) { run_case(s, motion); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
