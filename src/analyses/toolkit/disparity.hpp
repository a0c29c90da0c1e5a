// Which group varies more: the Procrustes variance of each group (the mean
// squared distance of its specimens from a model's fitted shapes), the
// absolute difference of every pair of groups, and a permutation p-value
// of each difference from shuffling the specimens' squared distances among
// the groups, as geomorph's morphol.disparity computes them.
#pragma once

#include "analyses/permutation_engine.hpp"

#include <Eigen/Dense>

#include <vector>

namespace quillan {

struct DisparityPair {
    int a = 0, b = 0;        // 0-based group codes, a < b
    double difference = 0;   // |variance a - variance b|
    long long count_ge = 0;  // permutations whose difference reached the observed one
    double p = 0;            // (count_ge + 1) / (permutations + 1)
};

struct DisparityResult {
    std::vector<int> sizes;            // specimens per group
    std::vector<double> variance;      // Procrustes variance per group
    std::vector<DisparityPair> pairs;  // (0,1), (0,2), ..., (1,2), ...
    long long nperm = 0;
};

// Each row's squared distance from the fitted values of the least-squares
// fit of `shapes` on the columns of `design` (an intercept alone: the mean).
std::vector<double> squared_residuals(const Eigen::MatrixXd& shapes, const Eigen::MatrixXd& design);

// `squared`: one squared distance per specimen; `groups`: 0-based codes,
// every group with at least one specimen.  Permutation i shuffles the
// squared distances over the specimens with the engine's stream (loop, i).
DisparityResult disparity_test(PermutationEngine& engine, const std::vector<double>& squared, const std::vector<int>& groups,
                               long long nperm, int loop = 0);

}  // namespace quillan
