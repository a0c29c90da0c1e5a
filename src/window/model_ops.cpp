// Adapters of the covariate model operations for calls by name.  Per-group
// arguments (X, z and the result of standardise_by_group) are Lists: X of
// landmark blocks, z of covariate rows (any vector shape).  The operations
// that permute run on the permutation engine with its default options: all
// cores, a fresh seed.
#include "analyses/covariates/covariate.hpp"
#include "analyses/covariates/slope_models.hpp"
#include "analyses/permutation_engine.hpp"
#include "platform/console.hpp"
#include "platform/error.hpp"
#include "platform/format.hpp"
#include "window/operations.hpp"

#include <cmath>
#include <string>

namespace quillan {

namespace {

// A count given as a double: a whole number of at least `least`.
double whole_arg(const std::vector<Value>& args, std::size_t i, const char* op, const char* what, double least) {
    const double v = arg_scalar(args, i, op);
    if (!(v >= least) || v != std::floor(v) || v > 1e12)
        throw QuillanError(std::string(op) + ": " + what + " " + format_number(v) + " is not a whole number of at least " +
                           format_number(least) + ".");
    return v;
}

std::vector<Matrix> blocks_arg(const std::vector<Value>& args, std::size_t i, const char* op) {
    std::vector<Matrix> X;
    for (const Value& v : arg_list(args, i, op)) {
        if (!v.is_matrix()) throw QuillanError(std::string(op) + ": block " + std::to_string(X.size() + 1) + " is not numeric.");
        X.push_back(v.matrix());
    }
    return X;
}

std::vector<std::vector<double>> covariates_arg(const std::vector<Value>& args, std::size_t i, const char* op) {
    std::vector<std::vector<double>> z;
    for (const Value& v : arg_list(args, i, op)) {
        if (!v.is_matrix())
            throw QuillanError(std::string(op) + ": covariate " + std::to_string(z.size() + 1) + " is not numeric.");
        z.push_back(elements(v.matrix()));
    }
    return z;
}

OpFn slope_test_op(const char* op, SlopeEcho echo, Console& console) {
    return [op, echo, &console](const std::vector<Value>& args, int) -> std::vector<Value> {
        const std::vector<Matrix> X = blocks_arg(args, 0, op);
        const std::vector<std::vector<double>> z = covariates_arg(args, 1, op);
        const double ngroups = whole_arg(args, 2, op, "the number of groups", 1);
        const double sstotal = arg_scalar(args, 3, op);
        const double nperm = whole_arg(args, 4, op, "the number of permutations", 0);
        const RunOptions options;
        PermutationEngine engine(options);
        const SlopeModels y = test_slope_models(engine, console, X, z, static_cast<std::size_t>(ngroups), sstotal,
                                                static_cast<long long>(nperm), echo, op);
        return {Value(echo == SlopeEcho::WithDegreesOfFreedom ? y.result13() : y.result8())};
    };
}

}  // namespace

void add_model_ops(OpImpls& impls, Console& console) {
    impls["getpresida"] = [](const std::vector<Value>& args, int) -> std::vector<Value> {
        return {Value(procrustes_residuals(arg_matrix(args, 0, "getpresida")))};
    };
    impls["getunexplained"] = [](const std::vector<Value>& args, int) -> std::vector<Value> {
        return {Value(regression_unexplained_ss(arg_matrix(args, 0, "getunexplained"), arg_codes(args, 1, "getunexplained")))};
    };
    impls["stand_by_groupfunction"] = [&console](const std::vector<Value>& args, int) -> std::vector<Value> {
        const char* op = "stand_by_groupfunction";
        const std::vector<Matrix> X = blocks_arg(args, 0, op);
        const std::vector<std::vector<double>> z = covariates_arg(args, 1, op);
        const double ngroups = whole_arg(args, 2, op, "the number of groups", 0);
        const std::vector<Matrix> y =
            standardise_by_group(X, z, static_cast<std::size_t>(ngroups), arg_scalar(args, 3, op), &console);
        List out;
        for (const Matrix& m : y) out.emplace_back(m);
        return {Value(std::move(out))};
    };
    impls["group_cov_ss"] = [](const std::vector<Value>& args, int) -> std::vector<Value> {
        const char* op = "group_cov_ss";
        const double ngroups = whole_arg(args, 2, op, "the number of groups", 0);
        return {
            Value(different_slopes_ss(blocks_arg(args, 0, op), covariates_arg(args, 1, op), static_cast<std::size_t>(ngroups)))};
    };
    impls["common_slope_test2"] = slope_test_op("common_slope_test2", SlopeEcho::WithDegreesOfFreedom, console);
    impls["common_slope_test"] = slope_test_op("common_slope_test", SlopeEcho::WithoutDegreesOfFreedom, console);
    impls["twogroupcov"] = [&console](const std::vector<Value>& args, int) -> std::vector<Value> {
        const char* op = "twogroupcov";
        const Matrix& data = arg_matrix(args, 0, op);
        const double nperms = whole_arg(args, 4, op, "the number of permutations", 0);
        const RunOptions options;
        PermutationEngine engine(options);
        const TwoGroupCov y = two_variable_slopes_test(engine, console, data, arg_codes(args, 1, op), arg_codes(args, 2, op),
                                                       arg_codes(args, 3, op), static_cast<long long>(nperms));
        return {Value(y.result())};
    };
}

}  // namespace quillan
