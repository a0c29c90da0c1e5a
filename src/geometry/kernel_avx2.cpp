// The kernels for AVX2 with FMA: 4 lanes (how: wide_kernel.hpp).
#define QUILLAN_KERNEL_VARIANT avx2
#define QUILLAN_KERNEL_LANES 4
#define QUILLAN_KERNEL_TARGET "avx2,fma"
#include "geometry/wide_kernel.hpp"
