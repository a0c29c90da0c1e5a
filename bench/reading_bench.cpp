// Reading a large landmark table: the whole load of a generated file (read,
// cut into lines, every number read and checked) in megabytes a second, and
// the number reading of one long line by itself.  The file is 64 MB of
// 50-landmark specimens written as the measuring programs write them (six
// decimals, some negative); QUILLAN_READING_MB asks for another size.  And
// the fingerprint of the input files that every result records.
#include "platform/format.hpp"
#include "platform/random.hpp"
#include "platform/sha256.hpp"
#include "window/shell.hpp"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace quillan;

namespace {

std::string generated_line(Rng& rng, int values) {
    std::string line;
    char buf[32];
    for (int j = 0; j < values; ++j) {
        const double v = (static_cast<double>(rng.next() >> 11) * 0x1.0p-53 - 0.3) * 2000;
        std::snprintf(buf, sizeof buf, j ? " %.6f" : "%.6f", v);
        line += buf;
    }
    return line + "\n";
}

// The generated table, written once per run into the temporary folder.
class GeneratedTable {
public:
    GeneratedTable() {
        const char* mb = std::getenv("QUILLAN_READING_MB");
        const std::size_t bytes = (mb ? std::strtoull(mb, nullptr, 10) : 64) << 20;
        path_ = (std::filesystem::temp_directory_path() / ("quillan-reading-" + std::to_string(::getpid()) + ".lm.txt")).string();
        Rng rng(7);
        std::ofstream out(path_, std::ios::binary);
        while (size_ < bytes) {
            const std::string line = generated_line(rng, 101);
            out << line;
            size_ += line.size();
        }
    }
    ~GeneratedTable() { std::filesystem::remove(path_); }
    GeneratedTable(const GeneratedTable&) = delete;
    GeneratedTable& operator=(const GeneratedTable&) = delete;
    const std::string& path() const { return path_; }
    std::size_t size() const { return size_; }

private:
    std::string path_;
    std::size_t size_ = 0;
};

void BM_LoadLargeTable(benchmark::State& state) {
    static const GeneratedTable table;
    for (auto _ : state) benchmark::DoNotOptimize(dload_file(table.path()).x.data());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(table.size()));
    state.counters["MB"] = static_cast<double>(table.size()) / (1 << 20);
}
BENCHMARK(BM_LoadLargeTable)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_NumbersOfAMegabyte(benchmark::State& state) {
    Rng rng(11);
    std::string text;
    while (text.size() < (1 << 20)) text += generated_line(rng, 101);
    std::vector<double> values;
    for (auto _ : state) {
        values.clear();
        benchmark::DoNotOptimize(append_numbers(text, values));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_NumbersOfAMegabyte)->Unit(benchmark::kMicrosecond);

// The fingerprint every result records of its input files, over a megabyte:
// by the processor's SHA instructions (argument 1, where it has them) and by
// the portable code (0).
void BM_FingerprintOfAMegabyte(benchmark::State& state) {
    const std::string bytes(1 << 20, 'x');
    const bool before = sha256_use_instructions(state.range(0) != 0);
    for (auto _ : state) {
        Sha256 h;
        h.update(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(h.hex_digest());
    }
    sha256_use_instructions(before);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_FingerprintOfAMegabyte)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
