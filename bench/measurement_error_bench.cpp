// Measurement error on RRPP's fishy (data/fishy.csv: 60 subjects, two
// replicates, three groups), its coordinates as stored and their principal
// component scores as RRPP analyses them, 999 permutations, one thread:
// the figures to hold against RRPP's measurement.error on the same data
// (bench/measurement_error_rrpp.R).  Time is the processor time of the
// whole process, as R's script reports its own.
//   build/bench/quillan_bench_measurement_error
#include "analyses/linear_models/measurement_error.hpp"
#include "bench_support.hpp"

#include <benchmark/benchmark.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace quillan;

namespace {

struct Fishy {
    Eigen::MatrixXd y;
    MeasurementErrorDesign d;
};

// The table's words as codes in order of first appearance.
int code_of(std::map<std::string, int>& seen, const std::string& word) { return seen.emplace(word, seen.size()).first->second; }

Fishy fishy(bool groups) {
    std::ifstream in(std::string(QUILLAN_DATA_DIR) + "/fishy.csv");
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        std::istringstream cells(line);
        rows.emplace_back();
        for (std::string cell; std::getline(cells, cell, ',');) rows.back().push_back(cell);
    }
    Fishy f;
    f.y.resize(static_cast<Eigen::Index>(rows.size() - 1), static_cast<Eigen::Index>(rows.front().size() - 4));
    std::map<std::string, int> subjects, replicates, group;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        f.d.subject.push_back(code_of(subjects, rows[i][1]));
        f.d.replicate.push_back(code_of(replicates, rows[i][2]));
        if (groups) f.d.group.push_back(code_of(group, rows[i][3]));
        for (std::size_t c = 4; c < rows[i].size(); ++c)
            f.y(static_cast<Eigen::Index>(i - 1), static_cast<Eigen::Index>(c - 4)) = std::stod(rows[i][c]);
    }
    f.y = principal_scores(f.y);
    return f;
}

void BM_measurement_error(benchmark::State& state) {
    const Fishy f = fishy(state.range(0) != 0);
    RunOptions o;
    o.seed = 1;
    o.threads = 1;
    for (auto _ : state) {
        const double t0 = bench::process_cpu_seconds();
        PermutationEngine engine(o);
        benchmark::DoNotOptimize(measurement_error_test(engine, f.y, f.d, 999));
        state.SetIterationTime(bench::process_cpu_seconds() - t0);
    }
}

}  // namespace

// 0: subjects + replicates; 1: with the groups' interaction.
BENCHMARK(BM_measurement_error)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime();
