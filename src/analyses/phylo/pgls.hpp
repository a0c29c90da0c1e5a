// The phylogenetic linear model (PGLS) as RRPP's lm.rrpp fits it with a
// covariance: the shapes and every column of the design, the intercept
// included, multiplied by a P with P'P = C^-1, after which the ordinary
// machinery of the linear models (linear_model.hpp) runs unchanged but for
// the total, taken about the transformed intercept.  Every P gives the same
// sums of squares, F and Rsq; the permutations move the transformed rows,
// so their null distribution depends on the P chosen.
#pragma once

#include "analyses/action_env.hpp"
#include "analyses/linear_models/model_design.hpp"
#include "analyses/phylo/tree_algebra.hpp"

#include <Eigen/Dense>

#include <optional>
#include <string>

namespace quillan {

enum class PhyloTransform {
    Auto,       // cholesky up to kLargestCholesky tips, contrasts beyond
    Cholesky,   // P = (U')^-1, U = chol(C) in the data's row order, as RRPP
    Contrasts,  // the independent contrasts and the root, in linear time and memory
    None,       // an ordinary model, the loaded tree not read
};

constexpr int kLargestCholesky = 2000;

struct PglsInputs {
    Eigen::MatrixXd y;
    ModelDesign design;
    PhyloTransform transform = PhyloTransform::Cholesky;
    std::string words;  // the report's lines on the tree and the transformation
};

// P Y and P X of the rows in their order (tip_of_row as TreeAlgebra's).
void transform_for_tree(const PhyloTree& tree, const std::vector<int>& tip_of_row, PhyloTransform how, Eigen::MatrixXd& y,
                        Eigen::MatrixXd& x);

// The transformed data and design of `shapes` (one row a specimen) when a
// tree is loaded and the request does not set it aside; none otherwise.
std::optional<PglsInputs> pgls_inputs(const ActionEnv& env, const Eigen::MatrixXd& shapes, const ModelDesign& design);

}  // namespace quillan
