// Rates of shape evolution on a phylogeny under Brownian motion (Adams's
// sigma^2 of multivariate data): the shapes transformed by the tree,
// E = C^-1/2 (X - 1a) with a the GLS mean, so that each tip's row of E is
// free of the covariance the tree gives the tips.
//
// The rate of a group of tips is the mean squared length of their rows of E
// per variable; the rate of a module of landmarks is the squared length of
// its columns of E per tip and per variable.  Their ratio (the largest to the
// smallest; with more than two, the largest of every pair's ratio) is tested
// by shuffling the rows of E over the tips (groups only: a shuffle leaves
// every column as it is) or against data simulated by Brownian motion on the
// tree with the rate matrix of all tips.
#pragma once

#include "analyses/permutation_engine.hpp"
#include "analyses/phylo/tree_algebra.hpp"

#include <Eigen/Dense>

#include <string>
#include <vector>

namespace quillan {

enum class RateMethod { Permutation, Simulation };

struct RateOptions {
    long long nperm = 999;  // the random sets the p counts (the observed data among them, as geomorph counts them)
    RateMethod method = RateMethod::Permutation;
    // Count as geomorph 4.0.8 does: the observed order of the tips is one of
    // the permutations (so the observed ratio is in the set twice), and a
    // simulated module's rate is divided by the number of every variable
    // (the observed by its own), its pairs matched to the observed ones by
    // the order of the labels' first appearance where the observed follow
    // their sorted order.  Off: nperm shuffles beside the observed data, each
    // module by its own variables, pairs as they are.
    bool geomorph_counts = true;
    int loop = 0;
};

struct RatePair {
    int a = 0, b = 0;  // groups or modules, a < b
    double ratio = 0;  // the larger rate over the smaller
    double p = 0;
};

struct EvolRates {
    double all = 0;               // the rate of every tip over every variable
    std::vector<double> rates;    // per group or module
    std::vector<int> sizes;       // tips per group, variables per module
    double ratio = 0;             // the largest over the smallest
    double p = 0, z = 0;          // of the ratio among the random sets
    long long exceeded = 0;       // random sets with a larger ratio
    long long ties = 0;           // sets with the observed ratio, at half weight (the observed order, when a set, too)
    long long drawn = 0;          // shuffles or simulations drawn (nperm, or nperm - 1 beside the observed order)
    std::vector<RatePair> pairs;  // every pair in order (with two, the one pair: ratio and p as above)
    Eigen::MatrixXd simulated;    // the rate matrix a simulation draws from (empty for permutations)
};

// The rates of the groups of tips (`group[i]` the 0-based group of row i of
// `x`; every group has a tip).  Rows of `x` are matched to the tree's tips
// by `tip_of_row`.
EvolRates group_rates(PermutationEngine& engine, const PhyloTree& tree, const std::vector<int>& tip_of_row,
                      const Eigen::MatrixXd& x, const std::vector<int>& group, const RateOptions& options);

// The rates of modules of variables (`module[j]` the 0-based module of
// column j), numbered as `labels` (at least two) name them, by simulation.
EvolRates module_rates(PermutationEngine& engine, const PhyloTree& tree, const std::vector<int>& tip_of_row,
                       const Eigen::MatrixXd& x, const std::vector<int>& module, const std::vector<std::string>& labels,
                       const RateOptions& options);

// The rate matrix of the simulations: (X - 1a)'C^-1(X - 1a) / n with its
// diagonal set to the rate of all tips, made positive definite as geomorph's
// makePD makes it (eigenvalues at most 1e-6 of the largest dropped, then
// those below 1e-8 of it raised to that, and the diagonal restored).
Eigen::MatrixXd simulation_rate_matrix(const TreeAlgebra& tree, const Eigen::MatrixXd& x);

}  // namespace quillan
