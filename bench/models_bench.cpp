// Processor time per permutation of the linear model on generated studies
// (bench/model_studies.hpp), one thread: the 2,000 x 40 study with factors of
// 4 and 3 levels crossed (`G1 * G2`, types I and III, and with the pairwise
// comparisons of its cells), the same size with a covariate by a 4-level
// factor (`cov * G1`), and 20,000 x 50 with three crossed factors; and the
// bundled sets' `G1 * G2` (and plethodon's `cov * G1`).  Each case runs the
// way the program chooses (`chosen`) and with the sums of squares forced to
// products with the bases (`products`), to the cell sums (`cells`) or, with
// few specimens, to n x n forms (`forms`), so one run shows them side by side.
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
#include "bench_support.hpp"
#include "model_studies.hpp"
#include "window/shell.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>

using namespace quillan;
using namespace quillan::bench;

namespace {

struct Prepared {
    Eigen::MatrixXd shapes;
    ModelVariables variables;
};

// A bundled set, NAME.lm.txt with GROUPS.groups.txt (and NAME.cov.txt when
// there is one), given as "NAME:GROUPS".
ModelStudy bundled_study(const std::string& names) {
    const std::string dir = QUILLAN_DATA_DIR, name = names.substr(0, names.find(':'));
    ModelStudy s{name, dload(dir + "/" + name + ".lm.txt"), dload(dir + "/" + names.substr(names.find(':') + 1) + ".groups.txt"),
                 Matrix()};
    if (std::ifstream(dir + "/" + name + ".cov.txt")) s.covariate = dload(dir + "/" + name + ".cov.txt");
    return s;
}

// A study's tangent shapes and variables, made once and kept: a generated
// study by its name, else a bundled set.
const Prepared& prepared(const std::string& data) {
    static std::map<std::string, std::unique_ptr<Prepared>> made;
    auto& p = made[data];
    if (p) return *p;
    const auto shapes = model_study_shapes();
    const auto shape = std::find_if(shapes.begin(), shapes.end(), [&](const StudyShape& g) { return g.name == data; });
    const ModelStudy s = shape != shapes.end() ? generate_study(*shape) : bundled_study(data);
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
    const char* data;  // a generated study's name, or a bundled set as "NAME:GROUPS"
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
    // The comparisons ride on the table's permutations, as `model` runs them.
    std::unique_ptr<PairwiseComparisons> comparisons;
    if (*c.pairwise)
        comparisons = std::make_unique<PairwiseComparisons>(p.shapes, d, c.ss, c.pairwise, PairwiseMeans::LeastSquares);
    const ModelTable table = test_linear_model(engine, p.shapes, d, test, 0, comparisons.get());
    if (comparisons) benchmark::DoNotOptimize(comparisons->result(table.companion, nperm));
    benchmark::DoNotOptimize(table);
    return process_cpu_seconds() - t0;
}

void run_case(benchmark::State& state, const ModelCase& c, ModelTestOptions::Sums sums) {
    const Prepared& p = prepared(c.data);
    const ModelDesign d = build_design(c.formula, p.variables, static_cast<int>(p.shapes.rows()));
    // The products on the large study take a second a dozen permutations.
    const long long hi = sums == ModelTestOptions::Sums::Products && p.shapes.rows() > 10000 ? c.lo + 50 : c.hi;
    double cpu = 0;
    for (auto _ : state) cpu += run_seconds(c, p, d, sums, hi) - run_seconds(c, p, d, sums, c.lo);
    state.counters["cpu_us_per_perm"] = cpu * 1e6 / (static_cast<double>(state.iterations()) * static_cast<double>(hi - c.lo));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write") == 0) {
        for (const StudyShape& s : model_study_shapes()) write_study(generate_study(s), argv[2]);
        std::cout << "wrote the studies to " << argv[2] << "\n";
        return 0;
    }
    static const ModelCase cases[] = {
        {"crossed/G1*G2", "crossed", "G1 * G2", SsType::I, "", 100, 1100},
        {"crossed/G1*G2/III", "crossed", "G1 * G2", SsType::III, "", 100, 1100},
        {"crossed/G1*G2/pairwise", "crossed", "G1 * G2", SsType::I, "G1:G2", 100, 1100},
        {"slopes/cov*G1", "slopes", "cov * G1", SsType::I, "", 100, 1100},
        {"large/G1*G2*G3", "large", "G1 * G2 * G3", SsType::I, "", 9, 309},
        {"plethodon/G1*G2", "plethodon:plethodon", "G1 * G2", SsType::I, "", 1000, 21000},
        {"mosquito/G1*G2", "mosquito:mosquito", "G1 * G2", SsType::I, "", 1000, 21000},
        {"larvalHead/G1*G2", "larvalHead:larvalMorph", "G1 * G2", SsType::I, "", 1000, 21000},
        {"pupfish/G1*G2", "pupfish:pupfish", "G1 * G2", SsType::I, "", 1000, 21000},
        {"plethodon/cov*G1", "plethodon:plethodon", "cov * G1", SsType::I, "", 1000, 21000},
    };
    using Sums = ModelTestOptions::Sums;
    for (const ModelCase& c : cases)
        for (const auto sums : {Sums::Chosen, Sums::Products, Sums::Forms, Sums::Cells}) {
            // The forms only where they could be chosen: with few specimens.
            if (sums == Sums::Forms && prepared(c.data).shapes.rows() > 400) continue;
            const char* way = sums == Sums::Chosen     ? "/chosen"
                              : sums == Sums::Products ? "/products"
                              : sums == Sums::Forms    ? "/forms"
                                                       : "/cells";
            const std::string name = std::string(c.name) + way;
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
