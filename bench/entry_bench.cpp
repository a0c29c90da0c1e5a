// A 99-permutation model on plethodon through the library entry, as a
// binding calls it: the cost the Python module's timing script
// (bench/python_binding.py) compares its own call with.
#include "quillan_api.hpp"

#include <benchmark/benchmark.h>

#include <string>

namespace {

void BM_EntryModel99(benchmark::State& state) {
    const std::string data = QUILLAN_DATA_DIR;
    const quillan::api::Data shapes = quillan::api::read(data + "/plethodon.tps");
    const quillan::api::Request request{
        "model",
        &shapes,
        {{"factors", data + "/plethodon.csv"}, {"formula", "species * site"}, {"perm", "99"}, {"seed", "1"}, {"threads", "1"}}};
    for (auto _ : state) benchmark::DoNotOptimize(quillan::api::run(request));
}
BENCHMARK(BM_EntryModel99)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
