// The rows of the data matched to the tips of a tree by name: each
// specimen's ID (or each level of a factor, when its specimens are averaged)
// is a tip's label.  Names on one side only are refused, named, unless
// pruning is asked for; then they are dropped, the tree losing its unmatched
// tips as ape's drop.tip drops them.
#pragma once

#include "analyses/phylo/phylo_tree.hpp"

#include <string>
#include <vector>

namespace quillan {

struct TipMatch {
    PhyloTree tree;               // the tree, without its unmatched tips when pruned
    std::vector<int> rows;        // the rows of the data kept, in their order
    std::vector<int> tip_of_row;  // per kept row, its tip in `tree`
    int dropped_tips = 0, dropped_rows = 0;
};

// `names` are the rows' names; `noun` what a row is in messages
// ("specimen", "species").
TipMatch match_tips(const PhyloTree& tree, const std::vector<std::string>& names, bool prune, const std::string& noun);

// The tree with only the tips `keep` (true per tip): an inner node left
// with one child is folded into its child's edge, a root left with one child
// gives way to it; numbered as the tree type numbers its nodes.
PhyloTree pruned_tree(const PhyloTree& tree, const std::vector<bool>& keep);

}  // namespace quillan
