// Canonical variates of the groups of a factor and the discriminant
// classification that goes with them.  Both work on the principal component
// scores of the aligned shapes (every component of non-zero variance), so
// that the pooled within-group covariance can be inverted: the canonical
// variates, the Mahalanobis and Procrustes distances between the group
// means with permutation p-values, and each specimen's posterior
// probabilities of the groups, by resubstitution and left out in turn, with
// priors in proportion to the groups' sizes, as MASS::lda computes them.
#pragma once

#include "analyses/permutation_engine.hpp"

#include "geometry/decompositions.hpp"

#include <vector>

namespace quillan {

struct CvaPair {
    int a = 0, b = 0;  // 0-based group codes, a < b
    double mahalanobis = 0, procrustes = 0;
    long long mahalanobis_ge = 0, procrustes_ge = 0;  // permutations that reached the observed distance
    double mahalanobis_p = 0, procrustes_p = 0;       // (reached + 1) / (permutations + 1)
};

struct Classification {
    Eigen::MatrixXd posterior;   // specimens x groups
    std::vector<int> predicted;  // 0-based group of the largest posterior
    Eigen::MatrixXi confusion;   // true group (row) x predicted group (column)
    double percent_correct = 0;
};

struct CvaResult {
    int components = 0;            // principal components used
    std::vector<int> sizes;        // specimens per group
    Eigen::VectorXd eigenvalues;   // between- over within-group variance of each variate
    Eigen::MatrixXd coefficients;  // shape variables x variates: a variate's score per unit of each coordinate
    Eigen::MatrixXd shape_change;  // shape variables x variates: the change of shape per unit of the variate's score
    Eigen::MatrixXd scores;        // specimens x variates, about the grand mean
    std::vector<CvaPair> pairs;    // (0,1), (0,2), ..., (1,2), ...
    Classification resubstitution;
    Classification cross_validated;  // empty when not asked for
    long long nperm = 0;
};

struct CvaOptions {
    long long nperm = 0;
    bool cross_validate = true;
};

// `shapes`: one row of aligned coordinates per specimen; `groups`: 0-based
// codes, at least two groups, every code from 0 up with a specimen.
// Refuses too few specimens for the pooled covariance of the components and
// (with cross-validation) a group of one.  Permutation i shuffles the
// groups over the specimens with the engine's stream (loop, i) and
// recomputes every pair's distances, the pooled covariance included.
CvaResult canonical_variates(PermutationEngine& engine, const Eigen::MatrixXd& shapes, const std::vector<int>& groups,
                             const CvaOptions& options, int loop = 0);

}  // namespace quillan
