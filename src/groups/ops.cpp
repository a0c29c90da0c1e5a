// Adapters of the group-coding operations for calls by name.
#include "shell/operations.hpp"

namespace quillan {

void add_groups_ops(OpImpls&, Console&) {}

}  // namespace quillan
