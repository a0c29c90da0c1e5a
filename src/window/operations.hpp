// The table of operations callable by name, in their registration order.
// Each module contributes the adapters of its own operations; the table lists
// every declared operation whose module has been built.
#pragma once

#include "window/optable.hpp"

#include <map>
#include <string>

namespace quillan {

class Shell;
class Console;
class Gui;

using OpImpls = std::map<std::string, OpFn>;

// The declared operations: name, inputs and results, in registration order.
struct OpDecl {
    const char* name;
    int nin;
    int nout;
};
const std::vector<OpDecl>& declared_operations();

// Adapters of each module (a module adds only the operations it defines).
void add_shell_ops(OpImpls& impls, Shell& shell);  // quillan_action, mfload, dload
void add_window_ops(OpImpls& impls, Gui& gui);     // openfig, guihandles, guidata, movegui, isvarname, iskeyword
void add_geometry_ops(OpImpls& impls, Console& console);
void add_groups_ops(OpImpls& impls, Console& console);
void add_model_ops(OpImpls& impls, Console& console);

// Builds the table for a shell.  `quillan`, the main window operation, is
// supplied by the desktop program when it has one.
OpTable build_op_table(Shell& shell, OpFn quillan = {});

// Argument helpers for adapters.
const Matrix& arg_matrix(const std::vector<Value>& args, std::size_t i, const char* op);
const std::string& arg_text(const std::vector<Value>& args, std::size_t i, const char* op);
double arg_scalar(const std::vector<Value>& args, std::size_t i, const char* op);
Codes arg_codes(const std::vector<Value>& args, std::size_t i, const char* op);  // elements in column-major order
const List& arg_list(const std::vector<Value>& args, std::size_t i, const char* op);

}  // namespace quillan
