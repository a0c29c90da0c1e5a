// The kernels for baseline x86-64 (and any other processor): 2 lanes.
#include "geometry/tile_ops.hpp"

#define QUILLAN_TILE_OPS_BODY
#include "geometry/tile_ops.hpp"

namespace quillan::kernels {
const KernelOps* baseline_ops() { return &kOps; }
}  // namespace quillan::kernels
