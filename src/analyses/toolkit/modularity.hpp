// Whether a partition of the landmarks into modules is more modular than
// chance: the covariance ratio CR (the covariation between modules relative
// to that within them, geomorph's modularity.test), tested against random
// partitions of the landmarks into modules of the same sizes.  For 2-D
// data the specimens are first turned together by the angle at which CR is
// nearest its average over the angles from 0 to 89.95 degrees, as
// modularity.test does by default, since CR of 2-D landmarks depends on the
// orientation of the axes.
#pragma once

#include "analyses/permutation_engine.hpp"

#include <Eigen/Dense>

#include <vector>

namespace quillan {

struct ModularityResult {
    double cr = 0;  // mean CR over the pairs of modules
    std::vector<std::pair<int, int>> pairs;
    std::vector<double> pair_cr;  // CR of each pair of modules
    double angle = 0;             // degrees the specimens were turned (0: no search)
    bool rotation_searched = false;
    double z = 0;            // effect size of CR among the random partitions (negative: modular)
    long long count_le = 0;  // random partitions whose CR was at most the observed
    long long ties = 0;      // of them, those whose CR was the observed
    double p = 0;            // (count_le - ties / 2 + 1) / (permutations + 1), ties at half weight as geomorph ranks them
    long long nperm = 0;
};

struct ModularityOptions {
    long long nperm = 0;
    bool rotation_search = true;  // in the plane of x and y (about z in space)
    // When set (specimens x specimens), CR and its random partitions are
    // taken of its product with the shapes as turned, the search itself
    // still on the shapes as given: the phylogenetic test's transformation.
    const Eigen::MatrixXd* rows_transform = nullptr;
};

// `shapes`: one row per specimen, the landmarks' coordinates together (the
// specimens are first turned together onto the principal axes of their
// mean, as gpagen leaves them, before any rotation search);
// `module`: each landmark's 0-based module, at least two modules of at
// least two landmarks each.
ModularityResult modularity_test(PermutationEngine& engine, const Eigen::MatrixXd& shapes, const std::vector<int>& module,
                                 int dimensions, const ModularityOptions& options, int loop = 0);

// CR of the centred coordinates' cross-products `cross` (coordinates x
// coordinates) under a partition given per coordinate, and of each pair.
double covariance_ratio(const Eigen::MatrixXd& cross, const std::vector<int>& module_of_coordinate, int modules,
                        std::vector<double>* pairs = nullptr);

}  // namespace quillan
