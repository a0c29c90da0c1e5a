#include "window/operations.hpp"

#include "platform/error.hpp"
#include "window/shell.hpp"

namespace quillan {

const std::vector<OpDecl>& declared_operations() {
    static const std::vector<OpDecl> decls = {
        {"quillan", kAny, kAny},
        {"quillan_action", 1, 0},
        {"guidata", 2, 1},
        {"guihandles", 1, 1},
        {"openfig", 2, 1},
        {"combined_code", 2, 2},
        {"common_slope_test", 5, 1},
        {"common_slope_test2", 5, 1},
        {"fullpdist", 2, 1},
        {"getconsensuspcafull", 1, 2},
        {"mfload", 1, 2},
        {"split_groups", 3, 5},
        {"sq_d_wg", 2, 3},
        {"stand_by_groupfunction", 4, 1},
        {"standardsize", 3, 2},
        {"twogroupcov", 5, 1},
        {"unsplit_groups", 3, 1},
        {"isvarname", 1, 1},
        {"movegui", kAny, 0},
        {"getpresida", 1, 1},
        {"getunexplained", 2, 1},
        {"getfullpsup", 2, 1},
        {"centpos", 1, 1},
        {"centsize", 1, 1},
        {"dload", 1, 1},
        {"group_cov_ss", 3, 1},
        {"iskeyword", 1, 1},
        {"getconsensus", 1, 2},
    };
    return decls;
}

void add_shell_ops(OpImpls& impls, Shell& shell) {
    impls["quillan_action"] = [&shell](const std::vector<Value>& args, int) -> std::vector<Value> {
        shell.quillan_action(arg_text(args, 0, "quillan_action"));
        return {};
    };
    impls["mfload"] = [&shell](const std::vector<Value>&, int) -> std::vector<Value> {
        auto r = mfload(shell.gui());
        if (!r) return {Value(Matrix()), Value(0.0)};
        return {Value(r->table.x), Value(r->fn)};
    };
    impls["dload"] = [](const std::vector<Value>& args, int) -> std::vector<Value> {
        return {Value(dload(arg_text(args, 0, "dload")))};
    };
}

OpTable build_op_table(Shell& shell, OpFn quillan) {
    OpImpls impls;
    if (quillan) impls["quillan"] = std::move(quillan);
    add_shell_ops(impls, shell);
    add_window_ops(impls, shell.gui());
    add_geometry_ops(impls, shell.console());
    add_groups_ops(impls, shell.console());
    add_model_ops(impls, shell.console());
    OpTable table;
    for (const auto& d : declared_operations()) {
        auto it = impls.find(d.name);
        if (it == impls.end()) continue;
        table.add(Operation{d.name, d.nin, d.nout, 1, it->second});
    }
    return table;
}

const Matrix& arg_matrix(const std::vector<Value>& args, std::size_t i, const char* op) {
    if (i >= args.size()) throw QuillanError(std::string("Not enough input arguments to ") + op + ".");
    if (!args[i].is_matrix()) throw QuillanError(std::string(op) + ": input " + std::to_string(i + 1) + " must be numeric.");
    return args[i].matrix();
}

const std::string& arg_text(const std::vector<Value>& args, std::size_t i, const char* op) {
    if (i >= args.size()) throw QuillanError(std::string("Not enough input arguments to ") + op + ".");
    if (!args[i].is_text()) throw QuillanError(std::string(op) + ": input " + std::to_string(i + 1) + " must be a text.");
    return args[i].text();
}

double arg_scalar(const std::vector<Value>& args, std::size_t i, const char* op) {
    const Matrix& m = arg_matrix(args, i, op);
    if (m.size() != 1) throw QuillanError(std::string(op) + ": input " + std::to_string(i + 1) + " must be a single number.");
    return m(0, 0);
}

Codes arg_codes(const std::vector<Value>& args, std::size_t i, const char* op) { return elements(arg_matrix(args, i, op)); }

const List& arg_list(const std::vector<Value>& args, std::size_t i, const char* op) {
    if (i >= args.size()) throw QuillanError(std::string("Not enough input arguments to ") + op + ".");
    if (!args[i].is_list()) throw QuillanError(std::string(op) + ": input " + std::to_string(i + 1) + " must be a list.");
    return args[i].list();
}

}  // namespace quillan
