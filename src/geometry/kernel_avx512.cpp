// The kernels for AVX-512 (AVX-512F): 8 lanes (how: wide_kernel.hpp).
#define QUILLAN_KERNEL_VARIANT avx512
#define QUILLAN_KERNEL_LANES 8
#define QUILLAN_KERNEL_TARGET "avx512f,avx2,fma"
#include "geometry/wide_kernel.hpp"
