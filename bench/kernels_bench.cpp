// Microseconds per permutation of every action, for each vector kernel the
// processor has, on one thread: the bundled example sets at 999 permutations,
// a generated set of 10,000 specimens x 50 landmarks at 9 permutations, and
// a generated set of groups of 1-3, 5 and 50 specimens side by side
// ("mixed", 359 specimens x 26 landmarks) at 999.
//   build/bench/quillan_bench_kernels                          (everything)
//   build/bench/quillan_bench_kernels --benchmark_filter=RunTwoWay/
//   build/bench/quillan_bench_kernels --benchmark_filter=large
//   build/bench/quillan_bench_kernels --benchmark_filter=mixed
// The counters are the action's wall time (us_per_perm) and the process's
// processor time (cpu_us_per_perm), observed fit included, over its
// permutation count.
#include "bench_support.hpp"
#include "geometry/kernel_dispatch.hpp"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

using namespace quillan;
using namespace quillan::bench;

namespace {

void run_action(benchmark::State& state, const DataSet* d, const std::string& action, int model, KernelVariant kernel) {
    if (!select_kernel(kernel)) {
        state.SkipWithError("this processor lacks the kernel");
        return;
    }
    ActionRig rig(*d, action, 1, model);
    double wall = 0, cpu = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const double c0 = process_cpu_seconds();
        const std::string failure = rig.run();
        cpu += process_cpu_seconds() - c0;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (!failure.empty()) state.SkipWithError(failure.c_str());
    }
    const double perms = static_cast<double>(state.iterations()) * d->perms;
    state.counters["us_per_perm"] = wall * 1e6 / perms;
    // On a shared machine the processor time of the whole process (the one
    // worker thread and the waiting action thread) is the steadier figure.
    state.counters["cpu_us_per_perm"] = cpu * 1e6 / perms;
    select_kernel(best_kernel());
}

}  // namespace

int main(int argc, char** argv) {
    static const std::vector<DataSet> sets = {bundled_set("plethodon", "plethodon", true),
                                              bundled_set("mosquito", "mosquito", false),
                                              bundled_set("larvalHead", "larvalMorph", true),
                                              bundled_set("pupfish", "pupfish", true),
                                              generated_set(10000, 50, 9),
                                              mixed_set(26, 999)};
    for (const DataSet& d : sets)
        for (const auto& job : bench_jobs()) {
            const char* action = job.row->name;
            if (job.row->needs_covariate() && d.clist.size() == 0) continue;
            for (const KernelVariant kernel : all_kernels()) {
                if (!kernel_available(kernel)) continue;
                std::string name = d.name + "/" + action + "/";
                if (job.model != 1) name += "model:" + std::to_string(job.model) + "/";
                name += kernel_name(kernel);
                auto* b = benchmark::RegisterBenchmark(name.c_str(), [d = &d, action, job, kernel](benchmark::State& s) {
                    run_action(s, d, action, job.model, kernel);
                });
                b->Unit(benchmark::kMillisecond)->UseRealTime();
                if (d.perms < 999) b->Iterations(1);
            }
        }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
