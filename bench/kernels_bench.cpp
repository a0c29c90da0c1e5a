// Microseconds per permutation of every action, for each vector kernel the
// processor has, on one thread: the bundled example sets at 999 permutations
// and a generated set of 10,000 specimens x 50 landmarks at 9 permutations.
//   build/bench/quillan_bench_kernels                          (everything)
//   build/bench/quillan_bench_kernels --benchmark_filter=RunTwoWay/
//   build/bench/quillan_bench_kernels --benchmark_filter=large
// The counters are the action's wall time (us_per_perm) and the process's
// processor time (cpu_us_per_perm), observed fit included, over its
// permutation count.
#include "geometry/kernel_dispatch.hpp"
#include "platform/memory_gui.hpp"
#include "platform/random.hpp"
#include "shell/memory_window.hpp"
#include "shell/shell.hpp"

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

using namespace quillan;

namespace {

struct DataSet {
    std::string name;
    Matrix data, glist, clist;
    int perms = 999;
};

DataSet bundled(const std::string& name, const std::string& groups, bool has_cov) {
    const std::string dir = QUILLAN_DATA_DIR;
    DataSet d{name, dload(dir + "/" + name + ".lm.txt"), dload(dir + "/" + groups + ".groups.txt"), Matrix()};
    d.clist = has_cov ? dload(dir + "/" + name + ".cov.txt") : Matrix();
    return d;
}

// 10,000 specimens of 50 landmarks in 10 x 4 groups, each a noisy copy of its
// cell's mean shape, moved, turned and scaled at random; the covariate is
// its log size.
DataSet large() {
    const int n = 10000, k = 50;
    Rng rng(99);
    auto uniform = [&] { return static_cast<double>(rng.next() >> 11) * 0x1.0p-53; };
    auto normal = [&] { return std::sqrt(-2 * std::log(uniform() + 1e-300)) * std::cos(2 * M_PI * uniform()); };
    std::vector<double> base(2 * k);
    for (int j = 0; j < k; ++j) {
        const double r = 1 + 0.3 * uniform(), a = 2 * M_PI * j / k;
        base[2 * j] = r * std::cos(a);
        base[2 * j + 1] = r * std::sin(a);
    }
    std::vector<std::vector<double>> cell_mean(40, base);
    for (auto& m : cell_mean)
        for (auto& v : m) v += 0.05 * normal();
    DataSet d{"large", Matrix(n, 2 * k + 1), Matrix(n, 2), Matrix(n, 1), 9};
    for (int i = 0; i < n; ++i) {
        const int g1 = i % 10, g2 = (i / 10) % 4;
        const auto& m = cell_mean[static_cast<std::size_t>(g1 * 4 + g2)];
        const double s = 0.5 + uniform(), a = 2 * M_PI * uniform(), tx = 10 * normal(), ty = 10 * normal();
        double size = 0;
        for (int j = 0; j < k; ++j) {
            const double x = m[2 * j] + 0.02 * normal(), y = m[2 * j + 1] + 0.02 * normal();
            d.data(i, 2 * j) = s * (x * std::cos(a) - y * std::sin(a)) + tx;
            d.data(i, 2 * j + 1) = s * (x * std::sin(a) + y * std::cos(a)) + ty;
            size += s * s * (x * x + y * y);
        }
        d.data(i, 2 * k) = std::sqrt(size);
        d.glist(i, 0) = g1 + 1;
        d.glist(i, 1) = g2 + 1;
        d.clist(i, 0) = std::log(std::sqrt(size));
    }
    return d;
}

double process_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

bool one_way(const std::string& action) { return action.rfind("RunOne", 0) == 0; }
bool needs_covariate(const std::string& action) { return action.find("Cov") != std::string::npos; }

void run_action(benchmark::State& state, const DataSet* d, const std::string& action, int model, KernelVariant kernel) {
    if (!select_kernel(kernel)) {
        state.SkipWithError("this processor lacks the kernel");
        return;
    }
    MemoryGui gui;
    build_memory_window(gui);
    std::ostringstream sink;
    Console console(sink);
    Shell shell(gui, console);
    Workspace& ws = shell.workspace();
    ws.landmarks = d->data;
    ws.groups = one_way(action) ? Matrix(d->glist.leftCols(1)) : d->glist;
    ws.covariate = d->clist;
    shell.options().seed = 1;
    shell.options().threads = 1;
    gui.set(gui.findobj_tag(kPermBox).front(), "String", Value(std::to_string(d->perms)));
    gui.set(gui.findobj_tag(kCovBox).front(), "Value", Value(static_cast<double>(model)));
    double wall = 0, cpu = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const double c0 = process_cpu_seconds();
        const Outcome o = shell.quillan_action(action);
        cpu += process_cpu_seconds() - c0;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (o != Outcome::Reported) state.SkipWithError(("the action did not report: " + shell.last_message()).c_str());
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
    static const std::vector<DataSet> sets = {
        bundled("plethodon", "plethodon", true), bundled("mosquito", "mosquito", false),
        bundled("larvalHead", "larvalMorph", true), bundled("pupfish", "pupfish", true), large()};
    struct Job {
        const char* action;
        int model;
    };
    const Job jobs[] = {{"RunOneWay", 1},  {"RunTwoWay", 1},    {"RunTwoWayF", 1}, {"RunTwoWayNest", 1},
                        {"RunTwoStandF", 5}, {"RunOneCov", 1}, {"RunTwoCov", 1}};
    for (const DataSet& d : sets)
        for (const auto& job : jobs) {
            if (needs_covariate(job.action) && d.clist.size() == 0) continue;
            for (const KernelVariant kernel : all_kernels()) {
                if (!kernel_available(kernel)) continue;
                std::string name = d.name + "/" + job.action + "/";
                if (job.model != 1) name += "model:" + std::to_string(job.model) + "/";
                name += kernel_name(kernel);
                auto* b = benchmark::RegisterBenchmark(
                    name.c_str(), [d = &d, job, kernel](benchmark::State& s) { run_action(s, d, job.action, job.model, kernel); });
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
