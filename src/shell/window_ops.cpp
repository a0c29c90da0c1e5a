// Adapters of the window utilities (openfig, guihandles, guidata, movegui,
// isvarname, iskeyword); they join the table when the utilities are built.
#include "shell/operations.hpp"

namespace quillan {

void add_window_ops(OpImpls&, Gui&) {}

}  // namespace quillan
