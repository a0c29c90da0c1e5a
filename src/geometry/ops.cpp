// Adapters of the geometry operations for calls by name.
#include "shell/operations.hpp"

namespace quillan {

void add_geometry_ops(OpImpls&, Console&) {}

}  // namespace quillan
