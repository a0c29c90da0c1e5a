#include "analyses/phylo/phylo_pca.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quillan {

namespace {

// The common depth of the tips when every tip has the same one (exactly, as
// geomorph's test of a unit tree compares them), else 1.
double unit_depth(const PhyloTree& tree) {
    std::vector<double> depth(static_cast<std::size_t>(tree.node_count()), 0.0);
    for (int v = tree.root() + 1; v < tree.node_count(); ++v)
        depth[static_cast<std::size_t>(v)] =
            depth[static_cast<std::size_t>(tree.parent[static_cast<std::size_t>(v)])] + tree.length[static_cast<std::size_t>(v)];
    const auto tip_depth = [&](int t) {
        return depth[static_cast<std::size_t>(tree.parent[static_cast<std::size_t>(t)])] +
               tree.length[static_cast<std::size_t>(t)];
    };
    const double first = tip_depth(0);
    for (int t = 1; t < tree.tip_count(); ++t)
        if (tip_depth(t) != first) return 1;
    return first > 0 ? first : 1;
}

// ||C C||_F^2, the aligned components' RV denominator, C applied to the
// columns of the identity a block at a time (no n x n matrix kept).
double squared_covariance_norm(const TreeAlgebra& algebra) {
    const Eigen::Index n = algebra.size(), block = 256;
    double sum = 0;
    for (Eigen::Index first = 0; first < n; first += block) {
        const Eigen::Index b = std::min(block, n - first);
        Eigen::MatrixXd e = Eigen::MatrixXd::Zero(n, b);
        for (Eigen::Index j = 0; j < b; ++j) e(first + j, j) = 1;
        sum += algebra.covariance_times(algebra.covariance_times(e)).squaredNorm();
    }
    return sum;
}

// The right singular vectors of `m` with a singular value above rounding
// (geomorph's tolerance: sqrt(eps) of the largest standard deviation), each
// one's largest element made positive; `squares` their squared singular values.
Eigen::MatrixXd directions_of(const Eigen::MatrixXd& m, Eigen::VectorXd& squares) {
    const Eigen::BDCSVD<Eigen::MatrixXd> svd(m, Eigen::ComputeThinV);
    const Eigen::VectorXd s = svd.singularValues();
    Eigen::Index k = 0;
    const double tol = std::sqrt(std::numeric_limits<double>::epsilon());
    while (k < s.size() && s(k) > s(0) * tol) ++k;
    Eigen::MatrixXd v = svd.matrixV().leftCols(k);
    for (Eigen::Index j = 0; j < k; ++j) {
        Eigen::Index at = 0;
        v.col(j).cwiseAbs().maxCoeff(&at);
        if (v(at, j) < 0) v.col(j) *= -1;
    }
    squares = s.head(k).array().square();
    return v;
}

}  // namespace

Eigen::MatrixXd ancestral_states(const PhyloTree& tree, const std::vector<int>& tip_of_row, const TreeAlgebra& algebra,
                                 const Eigen::MatrixXd& x) {
    // C[node, tips] R sums, over the edges from the root to the node, the
    // edge's length times the sum of R over the tips below it.
    const Eigen::RowVectorXd a = algebra.gls_mean(x);
    const Eigen::MatrixXd r = algebra.solve(x.rowwise() - a);
    Eigen::MatrixXd below = Eigen::MatrixXd::Zero(tree.node_count(), x.cols());
    for (std::size_t i = 0; i < tip_of_row.size(); ++i) below.row(tip_of_row[i]) = r.row(static_cast<Eigen::Index>(i));
    for (int v = 0; v < tree.tip_count(); ++v) below.row(tree.parent[static_cast<std::size_t>(v)]) += below.row(v);
    for (int v = tree.node_count() - 1; v > tree.root(); --v) below.row(tree.parent[static_cast<std::size_t>(v)]) += below.row(v);
    const int inner = tree.node_count() - tree.tip_count();
    Eigen::MatrixXd states(inner, x.cols());
    states.row(0) = a;
    for (int v = tree.root() + 1; v < tree.node_count(); ++v)
        states.row(v - tree.root()) = states.row(tree.parent[static_cast<std::size_t>(v)] - tree.root()) +
                                      tree.length[static_cast<std::size_t>(v)] * below.row(v);
    return states;
}

PhyloPca phylo_pca(const PhyloTree& tree, const std::vector<int>& tip_of_row, const Eigen::MatrixXd& x, TreeComponents kind) {
    const TreeAlgebra algebra(tree, tip_of_row);
    const double n1 = std::max<double>(1, static_cast<double>(x.rows()) - 1);
    PhyloPca r;
    r.kind = kind;
    r.unit = unit_depth(tree);
    r.center = kind == TreeComponents::Gls ? Eigen::RowVectorXd(algebra.gls_mean(x)) : Eigen::RowVectorXd(x.colwise().mean());
    const Eigen::MatrixXd z = x.rowwise() - r.center;
    Eigen::VectorXd squares;
    if (kind == TreeComponents::Principal) {
        r.rotation = directions_of(z, squares);
        r.variances = squares / n1;
    } else if (kind == TreeComponents::Gls) {
        // (PZ)'(PZ) = Z'C^-1 Z for the pruning's P; the unit tree's C is C / unit.
        r.rotation = directions_of(algebra.transform(z), squares);
        r.variances = squares * r.unit / n1;
    } else {
        r.rotation = directions_of(algebra.covariance_times(z), squares);
        const double total = squares.sum();
        r.variances = squares / total * z.squaredNorm() / n1;
        const Eigen::MatrixXd zz = z.transpose() * z;
        r.rv = squares / std::sqrt(squared_covariance_norm(algebra) * zz.squaredNorm());
    }
    r.scores = z * r.rotation;
    r.ancestors = ancestral_states(tree, tip_of_row, algebra, x);
    r.ancestor_scores = (r.ancestors.rowwise() - r.center) * r.rotation;
    return r;
}

}  // namespace quillan
