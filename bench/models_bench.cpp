// Processor time per permutation of the linear model on generated studies
// (bench/model_studies.hpp), one thread: the 2,000 x 40 study with factors of
// 4 and 3 levels crossed (`G1 * G2`, types I and III, and with the pairwise
// comparisons of its cells), the same size with a covariate by a 4-level
// factor (`cov * G1`), and 20,000 x 50 with three crossed factors.  Each case
// runs the way the program chooses (`chosen`) and with the sums of squares
// forced to products with the bases (`products`), so one run shows both.
//   build/bench/quillan_bench_models
//   build/bench/quillan_bench_models --benchmark_filter=crossed
//   build/bench/quillan_bench_models --write DIR   (writes the studies' files and stops)
// The counter cpu_us_per_perm is the processor time of a run of HI
// permutations less that of a run of LO, over HI - LO: the superimposition,
// the bases and the observed table drop out.
#include "analyses/linear_models/linear_model.hpp"
#include "analyses/linear_models/model_design.hpp"
#include "analyses/linear_models/model_pairwise.hpp"
#include "analyses/linear_models/model_shapes.hpp"
#include "model_studies.hpp"

#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <iostream>
#include <map>
#include <memory>

using namespace quillan;
using namespace quillan::bench;

namespace {

double process_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct Prepared {
    Eigen::MatrixXd shapes;
    ModelVariables variables;
};

// A study's tangent shapes and variables, made once and kept.
const Prepared& prepared(const StudyShape& shape) {
    static std::map<std::string, std::unique_ptr<Prepared>> made;
    auto& p = made[shape.name];
    if (p) return *p;
    const ModelStudy s = generate_study(shape);
    p = std::make_unique<Prepared>();
    p->shapes = tangent_shapes(s.landmarks, Alignment::Full);
    for (Eigen::Index g = 0; g < s.groups.cols(); ++g)
        p->variables.push_back(ModelVariable::factor_of_codes(
            "G" + std::to_string(g + 1), std::vector<double>(s.groups.col(g).begin(), s.groups.col(g).end())));
    if (s.covariate.size() > 0)
        p->variables.push_back({"cov", {}, {}, std::vector<double>(s.covariate.col(0).begin(), s.covariate.col(0).end())});
    return *p;
}

struct ModelCase {
    const char* name;
    std::size_t study;  // into model_study_shapes()
    const char* formula;
    SsType ss;
    const char* pairwise;  // empty: the table alone
    long long lo, hi;
};

// Processor seconds of one run of `nperm` permutations of the table (and the
// comparisons, when asked).
double run_seconds(const ModelCase& c, const Prepared& p, const ModelDesign& d, ModelTestOptions::Sums sums, long long nperm) {
    RunOptions options;
    options.seed = 1;
    options.threads = 1;
    ModelTestOptions test;
    test.ss_type = c.ss;
    test.nperm = nperm;
    test.sums = sums;
    const double t0 = process_cpu_seconds();
    PermutationEngine engine(options);
    const StreamIds loops = engine.take_streams(2);
    benchmark::DoNotOptimize(test_linear_model(engine, p.shapes, d, test, loops.at(0)));
    if (*c.pairwise)
        benchmark::DoNotOptimize(
            compare_groups(engine, p.shapes, d, c.ss, c.pairwise, PairwiseMeans::LeastSquares, nperm, loops.at(1)));
    return process_cpu_seconds() - t0;
}

void run_case(benchmark::State& state, const ModelCase& c, ModelTestOptions::Sums sums) {
    const StudyShape shape = model_study_shapes().at(c.study);
    const Prepared& p = prepared(shape);
    const ModelDesign d = build_design(c.formula, p.variables, static_cast<int>(p.shapes.rows()));
    double cpu = 0;
    for (auto _ : state) cpu += run_seconds(c, p, d, sums, c.hi) - run_seconds(c, p, d, sums, c.lo);
    state.counters["cpu_us_per_perm"] = cpu * 1e6 / (static_cast<double>(state.iterations()) * static_cast<double>(c.hi - c.lo));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write") == 0) {
        for (const StudyShape& s : model_study_shapes()) write_study(generate_study(s), argv[2]);
        std::cout << "wrote the studies to " << argv[2] << "\n";
        return 0;
    }
    static const ModelCase cases[] = {
        {"crossed/G1*G2", 0, "G1 * G2", SsType::I, "", 100, 1100},
        {"crossed/G1*G2/III", 0, "G1 * G2", SsType::III, "", 100, 1100},
        {"crossed/G1*G2/pairwise", 0, "G1 * G2", SsType::I, "G1:G2", 100, 1100},
        {"slopes/cov*G1", 1, "cov * G1", SsType::I, "", 100, 1100},
        {"large/G1*G2*G3", 2, "G1 * G2 * G3", SsType::I, "", 9, 59},
    };
    for (const ModelCase& c : cases)
        for (const auto sums : {ModelTestOptions::Sums::Chosen, ModelTestOptions::Sums::Products}) {
            const std::string name = std::string(c.name) + (sums == ModelTestOptions::Sums::Chosen ? "/chosen" : "/products");
            benchmark::RegisterBenchmark(name.c_str(), [&c, sums](benchmark::State& s) { run_case(s, c, sums); })
                ->Unit(benchmark::kMillisecond)
                ->Iterations(1);
        }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
