// The body of a kernel file for a wider instruction set.  The file defines
// QUILLAN_KERNEL_VARIANT (the namespace of its code; its table of loops is
// returned by VARIANT_ops()), QUILLAN_KERNEL_LANES and QUILLAN_KERNEL_TARGET
// (the instruction sets, as the compiler's target attribute spells them) and
// then includes this header, once.
//
// Everything included from elsewhere is included first, for the baseline
// instruction set; only the kernel code that follows is compiled for the
// wider one, inside the namespace of its own.  So no inline function compiled
// for the wider set (one the linker could pick for every caller) escapes into
// code that runs on other processors; the table is called only after the
// processor has been asked (kernel_dispatch.cpp).  Contraction stays off: FMA
// may be in the instruction set but is never used, because a fused
// multiply-add rounds once where the baseline rounds twice and the reports
// would differ in their last bits between machines.
#include "geometry/tile_ops.hpp"

#include <cmath>
#include <cstddef>
#include <cstring>

#define QUILLAN_KERNEL_PRAGMA(text) _Pragma(#text)
#define QUILLAN_KERNEL_CAT2(a, b) a##b
#define QUILLAN_KERNEL_CAT(a, b) QUILLAN_KERNEL_CAT2(a, b)
#define QUILLAN_KERNEL_OPS QUILLAN_KERNEL_CAT(QUILLAN_KERNEL_VARIANT, _ops)

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#if defined(__clang__)
#define QUILLAN_KERNEL_TARGET_ON(t) QUILLAN_KERNEL_PRAGMA(clang attribute push(__attribute__((target(t))), apply_to = function))
#define QUILLAN_KERNEL_TARGET_OFF QUILLAN_KERNEL_PRAGMA(clang attribute pop)
#else
#define QUILLAN_KERNEL_TARGET_ON(t) QUILLAN_KERNEL_PRAGMA(GCC push_options) QUILLAN_KERNEL_PRAGMA(GCC target(t))
#define QUILLAN_KERNEL_TARGET_OFF QUILLAN_KERNEL_PRAGMA(GCC pop_options)
#endif

QUILLAN_KERNEL_TARGET_ON(QUILLAN_KERNEL_TARGET)
#define QUILLAN_TILE_OPS_BODY
#include "geometry/tile_ops.hpp"
QUILLAN_KERNEL_TARGET_OFF

namespace quillan::kernels {
const KernelOps* QUILLAN_KERNEL_OPS() { return &kOps; }
}  // namespace quillan::kernels

#else  // a compiler or processor family without these instruction sets

namespace quillan::kernels {
const KernelOps* QUILLAN_KERNEL_OPS() { return nullptr; }
}  // namespace quillan::kernels

#endif
