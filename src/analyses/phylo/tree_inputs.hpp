// What the analyses on a tree read before their computation: the loaded
// tree, the rows of shape matched to its tips (each specimen by its ID, or
// each level of a factor by the mean shape of its specimens), and the lines
// of the report that say so.
#pragma once

#include "analyses/action_env.hpp"
#include "analyses/phylo/tip_matching.hpp"

#include <Eigen/Dense>

#include <string>

namespace quillan {

struct TreeData {
    TipMatch match;
    Eigen::MatrixXd x;  // one row a matched tip, in the order of match.rows
    std::string words;  // the report's lines on the tree and the matching
    // With species means, each specimen's level of the factor averaged (the
    // numbering of match.rows) and the factor's name; empty otherwise.
    std::vector<int> level_of_specimen;
    std::string species;
};

// The loaded tree, or a refusal saying how to load one.
const PhyloTree& require_tree(const ActionEnv& env);

// `shapes` (one row a specimen) matched to the tree as the options
// `prune` and `species-means` ask.
TreeData data_on_tree(const ActionEnv& env, const Eigen::MatrixXd& shapes);

}  // namespace quillan
