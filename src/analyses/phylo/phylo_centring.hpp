// The transformation geomorph's phylo.integration and phylo.modularity put
// the tips' data through before their PLS and covariance ratio:
// T = D (I - 1 w'), D = C^-1/2 the symmetric inverse square root of the
// tree's covariance C and w = C^-1 1 / (1'C^-1 1) the GLS weights of the
// rows, so that T X = D (X - 1 a), a the GLS mean.  Unlike the products of
// tree_algebra.hpp this one is not any P with P'P = C^-1: the analyses
// centre the columns of T X and shuffle its rows, and both depend on which
// root is taken, so it is the symmetric one, dense (an n x n decomposition
// of C, cubic in the tips).
#pragma once

#include "analyses/permutation_engine.hpp"
#include "analyses/phylo/phylo_tree.hpp"

#include <Eigen/Dense>

#include <vector>

namespace quillan {

// T for the rows whose tips are `tip_of_row` (as TreeAlgebra's).  The
// decomposition of C is a long step of `engine` (progress, and a stop).
Eigen::MatrixXd phylo_centring(const PhyloTree& tree, const std::vector<int>& tip_of_row, const PermutationEngine& engine);

// T X with each column then centred on its mean: the data the analyses
// work on.
Eigen::MatrixXd phylo_centred(const Eigen::MatrixXd& t, const Eigen::MatrixXd& x);

}  // namespace quillan
