// Which copy of the Procrustes kernels runs: the one for baseline x86-64
// (SSE2, 2 specimens per vector), for AVX2 with FMA (4 per vector) or for
// AVX-512 (8 per vector).  The fastest one the processor has is chosen when
// it is first needed (see best_kernel); the
// environment variable QUILLAN_KERNEL=baseline|avx2|avx512 forces one.
// Every copy does each specimen's arithmetic in the same order with the same
// roundings (no fused multiply-add anywhere), so every copy gives the same
// numbers to the last bit; only the speed differs.
#pragma once

#include <string>
#include <vector>

namespace quillan {

enum class KernelVariant { Baseline, Avx2, Avx512 };

// Every variant, slowest first.
std::vector<KernelVariant> all_kernels();
// "baseline", "avx2", "avx512".
const char* kernel_name(KernelVariant v);
// Whether this build has the variant and this processor can run it.
bool kernel_available(KernelVariant v);
// The variant used unless QUILLAN_KERNEL says otherwise: where the processor
// has both AVX2 and AVX-512, whichever a short timing of their passes finds
// faster (AVX-512 only where its 512-bit units are full width), measured once
// per process; else the one it has, else the baseline.
KernelVariant best_kernel();
// The variant QUILLAN_KERNEL asks for, or the best one when it is unset or
// empty.  Throws QuillanError naming the variable when it names no variant
// or a variant this processor (or this build) cannot run.
KernelVariant kernel_from_environment();

// The variant in use; the first call settles it from the environment (and
// throws as kernel_from_environment does).
KernelVariant active_kernel();
// Makes `v` the variant used by consensuses started from now on; false (and
// nothing changed) when it is not available.  For tests and benchmarks.
bool select_kernel(KernelVariant v);

}  // namespace quillan
