#include "geometry/kernel_dispatch.hpp"

#include "geometry/tile_ops.hpp"
#include "platform/error.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace quillan {

namespace {

bool cpu_has(KernelVariant v) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    __builtin_cpu_init();
    switch (v) {
        case KernelVariant::Baseline:
            return true;
        case KernelVariant::Avx2:
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
        case KernelVariant::Avx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }
    return false;
#else
    return v == KernelVariant::Baseline;
#endif
}

const kernels::KernelOps* ops_of(KernelVariant v) {
    switch (v) {
        case KernelVariant::Baseline:
            return kernels::baseline_ops();
        case KernelVariant::Avx2:
            return kernels::avx2_ops();
        case KernelVariant::Avx512:
            return kernels::avx512_ops();
    }
    return nullptr;
}

std::atomic<const kernels::KernelOps*> g_ops{nullptr};
std::atomic<KernelVariant> g_variant{KernelVariant::Baseline};
std::once_flag g_settled;

void settle() {
    std::call_once(g_settled, [] {
        if (g_ops.load() != nullptr) return;  // chosen by select_kernel first
        const KernelVariant v = kernel_from_environment();
        g_variant.store(v);
        g_ops.store(ops_of(v));
    });  // a throw leaves the flag unset, so the next call says it again
}

}  // namespace

std::vector<KernelVariant> all_kernels() { return {KernelVariant::Baseline, KernelVariant::Avx2, KernelVariant::Avx512}; }

const char* kernel_name(KernelVariant v) {
    switch (v) {
        case KernelVariant::Baseline:
            return "baseline";
        case KernelVariant::Avx2:
            return "avx2";
        case KernelVariant::Avx512:
            return "avx512";
    }
    return "?";
}

bool kernel_available(KernelVariant v) { return ops_of(v) != nullptr && cpu_has(v); }

namespace {

// Nanoseconds of one consensus pass of `ops` over a made-up block of 64 rows
// of 24 landmarks, the least of `turns` runs.
double pass_time(const kernels::KernelOps& ops, int turns) {
    constexpr int k = 24, rows = 64;
    const std::size_t m1 = 2 * k;
    std::vector<double> tiles(rows * m1), ref(m1 + 1), acc(kernels::acc_room(k));
    // Any finite numbers do: the time of a pass does not depend on them.
    for (std::size_t i = 0; i < tiles.size(); ++i) tiles[i] = static_cast<double>(i % 13) - 6.0;
    for (std::size_t q = 0; q < m1; ++q) ref[q] = static_cast<double>(q % 5) - 2.0;
    kernels::TileBlock b;
    b.tiles = tiles.data();
    b.n = rows;
    b.count = rows / static_cast<std::size_t>(ops.lanes);
    b.k = k;
    double least = 1e300;
    for (int t = 0; t < turns; ++t) {
        const auto t0 = std::chrono::steady_clock::now();
        ops.fit_pass(b, Procedure::Full, ref.data(), acc.data());
        const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
        least = std::min(least, ns);
    }
    return least;
}

// Whether the 8-lane kernel earns its width here.  Processors that have
// AVX-512 either run its 512-bit operations at full width (twice the work of
// AVX2 per instruction) or split each in two halves (no faster than AVX2, and
// slower where the 8-lane code has more shuffling to do), and no feature flag
// tells them apart, so a few microseconds of each kernel's own pass decide.
// The choice moves no number: every kernel gives the same results.
bool avx512_pays() {
    const kernels::KernelOps* wide = kernels::avx512_ops();
    const kernels::KernelOps* narrow = kernels::avx2_ops();
    double t512 = 1e300, t2 = 1e300;
    for (int round = 0; round < 4; ++round) {  // alternating, so a pause hits both alike
        t512 = std::min(t512, pass_time(*wide, 2));
        t2 = std::min(t2, pass_time(*narrow, 2));
    }
    return t512 < 0.8 * t2;
}

}  // namespace

KernelVariant best_kernel() {
    static const KernelVariant best = [] {
        const bool avx2 = kernel_available(KernelVariant::Avx2), avx512 = kernel_available(KernelVariant::Avx512);
        if (avx2 && avx512) return avx512_pays() ? KernelVariant::Avx512 : KernelVariant::Avx2;
        if (avx2) return KernelVariant::Avx2;
        if (avx512) return KernelVariant::Avx512;
        return KernelVariant::Baseline;
    }();
    return best;
}

KernelVariant kernel_from_environment() {
    const char* e = std::getenv("QUILLAN_KERNEL");
    if (e == nullptr || *e == '\0') return best_kernel();
    const std::string want = e;
    for (const KernelVariant v : all_kernels()) {
        if (want != kernel_name(v)) continue;
        if (ops_of(v) == nullptr)
            throw QuillanError("QUILLAN_KERNEL=" + want + " asks for the " + want +
                               " kernel, which this build of the program does not have. Unset QUILLAN_KERNEL to use the "
                               "best kernel available.");
        if (!cpu_has(v))
            throw QuillanError("QUILLAN_KERNEL=" + want + " asks for the " + want +
                               " kernel, but this processor lacks its instructions. Unset QUILLAN_KERNEL to use the best "
                               "kernel this processor has (" +
                               kernel_name(best_kernel()) + ").");
        return v;
    }
    throw QuillanError("QUILLAN_KERNEL=" + want + " names no kernel: use baseline, avx2 or avx512, or unset it.");
}

KernelVariant active_kernel() {
    settle();
    return g_variant.load();
}

bool select_kernel(KernelVariant v) {
    if (!kernel_available(v)) return false;
    g_variant.store(v);
    g_ops.store(ops_of(v));
    return true;
}

namespace kernels {

const KernelOps& ops_for_rows(std::size_t n) {
    const KernelOps* ops = g_ops.load(std::memory_order_acquire);
    if (ops == nullptr) {
        settle();
        ops = g_ops.load();
    }
    // A block narrower than the tiles computes the spare lanes for nothing:
    // the widest variant up to the one in use whose tiles the rows fill is
    // as fast and wastes less (the processor has every narrower variant).
    if (n >= static_cast<std::size_t>(ops->lanes)) return *ops;
    const KernelOps* best = baseline_ops();
    for (const KernelOps* narrower : {avx2_ops(), avx512_ops()})
        if (narrower != nullptr && narrower->lanes < ops->lanes && static_cast<std::size_t>(narrower->lanes) <= n)
            best = narrower;
    return *best;
}

}  // namespace kernels

}  // namespace quillan
