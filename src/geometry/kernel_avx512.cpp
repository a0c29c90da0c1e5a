// The kernels for AVX-512 (AVX-512F): 8 lanes.
//
// Everything this file includes from elsewhere is included first, for the
// baseline instruction set; only the kernel code that follows is compiled
// for the wider one, inside the namespace of its own that the macros below
// name.  So no inline function compiled here for avx512 (one the linker could
// pick for every caller) escapes into code that runs on other processors;
// it is called only after the processor has been asked (kernel_dispatch.cpp).
// Contraction stays off: FMA is enabled for the instruction set but never
// used, because a fused multiply-add rounds once where the baseline rounds
// twice and the reports would differ in their last bits between machines.
#define QUILLAN_KERNEL_VARIANT avx512
#define QUILLAN_KERNEL_LANES 8

#include "geometry/tile_ops.hpp"

#include <cmath>
#include <cstddef>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx2,fma"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx2,fma")
#endif

#define QUILLAN_TILE_OPS_BODY
#include "geometry/tile_ops.hpp"

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace quillan::kernels {
const KernelOps* avx512_ops() { return &kOps; }
}  // namespace quillan::kernels

#else

namespace quillan::kernels {
const KernelOps* avx512_ops() { return nullptr; }
}  // namespace quillan::kernels

#endif
