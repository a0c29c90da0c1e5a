#include "analyses/phylo/phylo_centring.hpp"

#include "analyses/phylo/tree_algebra.hpp"

#include <cmath>

namespace quillan {

Eigen::MatrixXd phylo_centring(const PhyloTree& tree, const std::vector<int>& tip_of_row, const PermutationEngine& engine) {
    // The algebra refuses a tree whose covariance is singular (two tips on
    // one whole path), by name, and gives the weights in linear time.
    const TreeAlgebra algebra(tree, tip_of_row);
    const Eigen::VectorXd w = algebra.gls_weights();
    engine.step(0, 2);
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eig(tree_covariance(tree, tip_of_row));
    engine.step(1, 2);
    // C is positive definite once the algebra has accepted it; the absolute
    // values only keep a rounding below zero from becoming a NaN.
    const Eigen::VectorXd root = eig.eigenvalues().cwiseAbs().cwiseSqrt().cwiseInverse();
    Eigen::MatrixXd t = eig.eigenvectors() * root.asDiagonal() * eig.eigenvectors().transpose();
    // D - (D 1) w', in place: the one n x n matrix kept.
    const Eigen::VectorXd d1 = t.rowwise().sum();
    t.noalias() -= d1 * w.transpose();
    return t;
}

Eigen::MatrixXd phylo_centred(const Eigen::MatrixXd& t, const Eigen::MatrixXd& x) {
    Eigen::MatrixXd y = t * x;
    y.rowwise() -= y.colwise().mean();
    return y;
}

}  // namespace quillan
