// Two-block partial least squares: how strongly two sets of variables of
// the same specimens covary (two modules of landmarks, or shape and a table
// of other variables), as geomorph's two.b.pls and integration.test compute
// it: the singular value decomposition of the blocks' cross-covariance, the
// correlation r-PLS of the first pair of scores, its effect size Z and the
// p-value from shuffling one block's rows.
#pragma once

#include "analyses/permutation_engine.hpp"

#include "geometry/decompositions.hpp"

#include <vector>

namespace quillan {

struct PlsAxis {
    double singular_value = 0;
    double percent = 0;  // of the summed squared singular values (the squared covariance)
    double r = 0;        // correlation of the axis's two scores
};

struct PlsResult {
    std::vector<PlsAxis> axes;
    Eigen::MatrixXd left, right;         // variables x axes: each block's vectors
    Eigen::MatrixXd x_scores, y_scores;  // specimens x axes
    double r_pls = 0;                    // the first axis's r
    double z = 0;                        // effect size of r_pls among the permutations
    long long count_ge = 0;              // permutations whose r reached the observed
    double p = 0;                        // (count_ge + 1) / (permutations + 1)
};

struct IntegrationResult {
    std::vector<std::pair<int, int>> pairs;  // 0-based modules, (0,1), (0,2), ..., (1,2), ...
    std::vector<PlsResult> pls;              // one per pair, with its own Z and p
    double mean_r = 0;                       // mean r-PLS over the pairs
    double z = 0;                            // of the mean
    long long count_ge = 0;
    double p = 0;
    long long nperm = 0;
};

// The blocks' rows are specimens in the same order; both are centred here.
PlsResult two_block_pls(PermutationEngine& engine, const Eigen::MatrixXd& x, const Eigen::MatrixXd& y, long long nperm,
                        int loop = 0);

// The PLS of every pair of modules of `shapes` (one row per specimen, the
// landmarks' coordinates together), `module` giving each landmark's 0-based
// module.  One permutation shuffles the rows of the first block of every
// pair at once (as integration.test does), so the mean's test is one loop.
IntegrationResult integration_test(PermutationEngine& engine, const Eigen::MatrixXd& shapes, const std::vector<int>& module,
                                   int dimensions, long long nperm, int loop = 0);

// The leading eigenvector (unit length, either sign) of a symmetric positive
// semi-definite matrix, found as each permutation finds its first PLS axis:
// by repeated squaring, with a full decomposition when the two leading
// eigenvalues are too close to be told apart that way.
Eigen::VectorXd leading_eigenvector(const Eigen::MatrixXd& m);

// The columns of `shapes` of the landmarks of module `m`.
Eigen::MatrixXd module_columns(const Eigen::MatrixXd& shapes, const std::vector<int>& module, int m, int dimensions);

}  // namespace quillan
