#include "geometry/kernel_dispatch.hpp"

#include "geometry/tile_ops.hpp"
#include "platform/error.hpp"

#include <atomic>
#include <cstdlib>
#include <mutex>

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

KernelVariant best_kernel() {
    // AVX2 before AVX-512: on the machines measured (AMD EPYC) the 8-lane
    // kernel ran 10-60% slower than the 4-lane one, so it is used only when
    // QUILLAN_KERNEL asks for it.
    if (kernel_available(KernelVariant::Avx2)) return KernelVariant::Avx2;
    if (kernel_available(KernelVariant::Avx512)) return KernelVariant::Avx512;
    return KernelVariant::Baseline;
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
