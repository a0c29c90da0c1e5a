// Adapters of the covariate model operations for calls by name.
#include "shell/operations.hpp"

namespace quillan {

void add_model_ops(OpImpls&, Console&) {}

}  // namespace quillan
