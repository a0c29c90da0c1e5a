// The workspace: what stays loaded from one action to the next.  Only the
// three load actions and "Clear" change it; every analysis reads it and keeps
// everything else it computes local.  The shell owns it; the analyses see it
// through their ActionEnv.
#pragma once

#include "analyses/phylo/phylo_tree.hpp"
#include "platform/value.hpp"

#include <optional>

#include <string>

namespace quillan {

struct Workspace {
    // One row per specimen: x1 y1 ... xk yk and a trailing value; with
    // `dimensions` 3, x1 y1 z1 ... xk yk zk and the trailing value.
    Matrix landmarks;
    int dimensions = 2;
    // One or two (or more) columns of group codes, one row per specimen.
    Matrix groups;
    // One value per specimen.
    Matrix covariate;
    // The phylogeny the analyses on a tree read, when one is loaded.
    std::optional<PhyloTree> tree;
    // The descriptions the file box shows, as the loads wrote them.
    std::string landmarks_info;
    std::string groups_info;
    std::string covariate_info;
    std::string tree_info;
};

}  // namespace quillan
