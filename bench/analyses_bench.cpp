// Whole-analysis benchmarks: the actions run through the dispatcher exactly
// as the window runs them, at 999 permutations, on one and on two threads.
//   build/bench/quillan_bench_analyses                   (everything)
//   build/bench/quillan_bench_analyses --benchmark_filter=plethodon
#include "bench_support.hpp"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <sstream>
#include <string>

using namespace quillan;
using namespace quillan::bench;

namespace {

void run_action(benchmark::State& state, const DataSet* d, const std::string& action, int threads, int model) {
    ActionRig rig(*d, action, threads, model);
    double wall = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const std::string failure = rig.run();
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (!failure.empty()) state.SkipWithError(failure.c_str());
    }
    // Wall time per permutation, in microseconds (the action's own thread
    // mostly waits for the workers, so CPU-time rates would mislead).
    state.counters["us_per_perm"] = wall * 1e6 / (static_cast<double>(state.iterations()) * d->perms);
}

}  // namespace

int main(int argc, char** argv) {
    // The large set: 2000 specimens of 50 landmarks in 10 x 4 groups.
    static const DataSet small = bundled_set("plethodon", "plethodon", true);
    static const DataSet big = generated_set(2000, 50, 999);
    for (const DataSet* d : {&small, &big})
        for (const auto& job : bench_jobs())
            for (int threads : {1, 2}) {
                const char* action = job.row->name;
                std::string name = d->name + "/" + action;
                if (job.model != 1) name += "/model:" + std::to_string(job.model);
                name += "/threads:" + std::to_string(threads);
                auto* b = benchmark::RegisterBenchmark(
                    name.c_str(), [=](benchmark::State& s) { run_action(s, d, action, threads, job.model); });
                b->Unit(benchmark::kMillisecond)->UseRealTime();
                if (d == &big) b->Iterations(1);
            }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
