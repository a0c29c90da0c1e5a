// The phylomorphospace: the shapes of the tips and of their ancestors in the
// plane of two components.  The ancestors are the GLS estimates of Brownian
// motion on the tree (the root the GLS mean a, every other node
// a + C[node, tips] C^-1 (X - 1a), what phytools' fastAnc and geomorph's
// gm.prcomp give), and the components are one of three:
// - the principal components of the tips (about their mean);
// - the phylogenetic PCA: the eigenvectors of (X - 1a)'C^-1(X - 1a) / (n - 1),
//   the tips' scores their deviations from a projected onto them;
// - the phylogenetically aligned components (PaCA): the right singular
//   vectors of C(X - 1 xbar), the directions of shape that follow the tree
//   most, with each one's share of the variance and its RV coefficient.
#pragma once

#include "analyses/phylo/tree_algebra.hpp"

#include <Eigen/Dense>

#include <vector>

namespace quillan {

enum class TreeComponents { Principal, Gls, Aligned };

struct PhyloPca {
    TreeComponents kind = TreeComponents::Principal;
    Eigen::RowVectorXd center;  // the tips' mean, or the GLS mean a for the phylogenetic PCA
    Eigen::VectorXd variances;  // per component, as geomorph's d
    Eigen::VectorXd rv;         // the aligned components' RV coefficients (empty otherwise)
    Eigen::MatrixXd rotation;   // p x components, unit columns, each one's largest element positive
    Eigen::MatrixXd scores;     // the tips' (rows of the data) scores
    Eigen::MatrixXd ancestors;  // one row per inner node (the root first, in the tree's numbering): its shape
    Eigen::MatrixXd ancestor_scores;
    // What the tree's covariance was divided by (the common depth of the
    // tips of an ultrametric tree, as geomorph's unit tree; else 1): the
    // phylogenetic PCA's variances are in that unit.
    double unit = 1;
};

// The GLS ancestral states of every inner node of `tree` (root first),
// `x` one row a tip (`tip_of_row`), in time linear in the tree.
Eigen::MatrixXd ancestral_states(const PhyloTree& tree, const std::vector<int>& tip_of_row, const TreeAlgebra& algebra,
                                 const Eigen::MatrixXd& x);

PhyloPca phylo_pca(const PhyloTree& tree, const std::vector<int>& tip_of_row, const Eigen::MatrixXd& x, TreeComponents kind);

}  // namespace quillan
