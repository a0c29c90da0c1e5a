// Adapters of the geometry operations for calls by name.
#include "geometry/geometry.hpp"
#include "window/operations.hpp"

namespace quillan {

namespace {

Matrix row_matrix(const Centroid& c) {
    Matrix m(1, 2);
    m << c.x, c.y;
    return m;
}

}  // namespace

void add_geometry_ops(OpImpls& impls, Console&) {
    impls["centpos"] = [](const std::vector<Value>& args, int) -> std::vector<Value> {
        const Codes x = arg_codes(args, 0, "centpos");
        return {Value(row_matrix(centroid_of(x)))};
    };
    impls["centsize"] = [](const std::vector<Value>& args, int) -> std::vector<Value> {
        const Eigen::VectorXd y = centroid_sizes(arg_matrix(args, 0, "centsize"));
        Matrix m(y.size(), 1);
        for (Eigen::Index i = 0; i < y.size(); ++i) m(i, 0) = y(i);
        return {Value(std::move(m))};
    };
    impls["standardsize"] = [](const std::vector<Value>& args, int) -> std::vector<Value> {
        StandardSizeResult r = standardise_along_lines(arg_matrix(args, 0, "standardsize"), arg_codes(args, 1, "standardsize"),
                                                       arg_scalar(args, 2, "standardsize"));
        return {Value(std::move(r.y)), Value(std::move(r.tvect))};
    };
    impls["getfullpsup"] = [](const std::vector<Value>& args, int) -> std::vector<Value> {
        return {Value(full_procrustes_fit(arg_matrix(args, 0, "getfullpsup"), arg_matrix(args, 1, "getfullpsup")))};
    };
    impls["fullpdist"] = [](const std::vector<Value>& args, int) -> std::vector<Value> {
        return {Value(full_procrustes_distances(arg_matrix(args, 0, "fullpdist"), arg_matrix(args, 1, "fullpdist")))};
    };
    impls["getconsensuspcafull"] = [](const std::vector<Value>& args, int) -> std::vector<Value> {
        Consensus c = full_procrustes_consensus(arg_matrix(args, 0, "getconsensuspcafull"));
        return {Value(std::move(c.y)), Value(std::move(c.xpt))};
    };
    impls["getconsensus"] = [](const std::vector<Value>& args, int) -> std::vector<Value> {
        Consensus c = rotation_only_consensus(arg_matrix(args, 0, "getconsensus"));
        return {Value(std::move(c.y)), Value(std::move(c.xpt))};
    };
}

}  // namespace quillan
