// Phylogenetic signal of multivariate shape: Adams's Kmult, the ratio of
// the observed mean squared distance from the GLS mean to the one Brownian
// motion on the tree expects, tested by shuffling the rows of the data
// over the tips (the tree, and so its weights, fixed).
#pragma once

#include "analyses/permutation_engine.hpp"
#include "analyses/phylo/tree_algebra.hpp"

#include <Eigen/Dense>

#include <vector>

namespace quillan {

struct PhyloSignal {
    double k = 0;
    double z = 0;  // effect size of K among the permuted values, as geomorph's effect.size computes it
    double p = 0;  // (permutations with K at least the observed + 1) / (permutations + 1)
    long long count_ge = 0, nperm = 0;
    // K of the first 1, 2, ... phylogenetically aligned components (the
    // right singular vectors of C (X - 1 xbar)), as many as carry variation.
    std::vector<double> k_by_component;
};

// Kmult of `x` (one row a tip, in the algebra's row order):
// [tr((X - 1a)'(X - 1a)) / tr((X - 1a)'C^-1(X - 1a))] / [(tr C - n / 1'C^-1 1) / (n - 1)].
double kmult(const TreeAlgebra& tree, const Eigen::MatrixXd& x);

// K, its permutation test on stream `loop` of `engine`, and K along the
// aligned components.
PhyloSignal phylo_signal(PermutationEngine& engine, const TreeAlgebra& tree, const Eigen::MatrixXd& x, long long nperm,
                         int loop = 0);

}  // namespace quillan
