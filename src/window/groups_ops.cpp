// Adapters of the group-coding operations for calls by name.  Lists (dlist,
// splitc, d_ord and the blocks of unsplit_by_group) are Lists of matrices.
#include "groups/groups.hpp"
#include "groups/within_groups.hpp"
#include "platform/console.hpp"
#include "platform/error.hpp"
#include "platform/format.hpp"
#include "window/operations.hpp"

#include <cmath>
#include <string>

namespace quillan {

namespace {

template <class T>
Matrix row_from(const std::vector<T>& v) {
    Matrix m(1, static_cast<Eigen::Index>(v.size()));
    for (std::size_t i = 0; i < v.size(); ++i) m(0, static_cast<Eigen::Index>(i)) = static_cast<double>(v[i]);
    return m;
}

// A count or row number given as a double: a whole number of at least `least`.
std::size_t whole(double v, double least, const char* op, const char* what) {
    if (!(v >= least) || v != std::floor(v) || v > 1e15)
        throw QuillanError(std::string(op) + ": " + what + " " + format_number(v) + " is not a whole number of at least " +
                           format_number(least) + ".");
    return static_cast<std::size_t>(v);
}

}  // namespace

void add_groups_ops(OpImpls& impls, Console& console) {
    impls["split_groups"] = [](const std::vector<Value>& args, int) -> std::vector<Value> {
        SplitGroups s = split_by_group(arg_matrix(args, 0, "split_groups"), arg_codes(args, 1, "split_groups"),
                                       arg_codes(args, 2, "split_groups"));
        List dlist, splitc, d_ord;
        for (std::size_t g = 0; g < s.gcodes.size(); ++g) {
            dlist.emplace_back(std::move(s.dlist[g]));
            splitc.emplace_back(row_from(s.splitc[g]));
            d_ord.emplace_back(row_from(s.d_ord[g]));
        }
        return {Value(std::move(dlist)), Value(row_from(s.gcodes)), Value(row_from(s.ssize)), Value(std::move(splitc)),
                Value(std::move(d_ord))};
    };
    impls["unsplit_groups"] = [](const std::vector<Value>& args, int) -> std::vector<Value> {
        const char* op = "unsplit_groups";
        const List& xl = arg_list(args, 0, op);
        const List& ol = arg_list(args, 1, op);
        const std::size_t ngroups = whole(arg_scalar(args, 2, op), 0, op, "the number of groups");
        std::vector<Matrix> X;
        std::vector<std::vector<std::size_t>> d_ord;
        for (std::size_t i = 0; i < ngroups && i < xl.size() && i < ol.size(); ++i) {
            if (!xl[i].is_matrix() || !ol[i].is_matrix())
                throw QuillanError(std::string(op) + ": block " + std::to_string(i + 1) + " is not numeric.");
            X.push_back(xl[i].matrix());
            std::vector<std::size_t> rows;
            for (double r : elements(ol[i].matrix())) rows.push_back(whole(r, 1, op, "row number"));
            d_ord.push_back(std::move(rows));
        }
        if (ngroups > X.size())
            throw QuillanError(std::string(op) + ": " + std::to_string(ngroups) + " groups asked for, but only " +
                               std::to_string(X.size()) + " blocks given.");
        return {Value(unsplit_by_group(X, d_ord, ngroups))};
    };
    impls["combined_code"] = [&console](const std::vector<Value>& args, int) -> std::vector<Value> {
        const Matrix& g1 = arg_matrix(args, 0, "combined_code");
        // The first vector's length is its larger dimension; elements are
        // taken in column-major order.
        Codes c1 = elements(g1);
        c1.resize(static_cast<std::size_t>(std::max(g1.rows(), g1.cols())));
        CombinedCode r = cell_codes(c1, arg_codes(args, 1, "combined_code"), &console);
        return {Value(row_from(r.cell_list)), Value(std::move(r.ccode))};
    };
    impls["sq_d_wg"] = [&console](const std::vector<Value>& args, int) -> std::vector<Value> {
        WithinGroups w = within_group_ss(arg_matrix(args, 0, "sq_d_wg"), arg_codes(args, 1, "sq_d_wg"));
        for (double c : w.single_codes)
            console.line("sq_d_wg: the group with code " + format_number(c) +
                         " has a single specimen; its within-group sum is 0.");
        return {Value(row_from(w.wgsd)), Value(row_from(w.gcodes)), Value(row_from(w.ssize))};
    };
}

}  // namespace quillan
