// A rooted phylogeny as the analyses on a tree read it.  The reader of tree
// files makes it; the workspace keeps the one loaded; the analyses turn it
// into the products with the tree's covariance they need (phylo/tree_algebra).
//
// Numbering, as ape numbers its `phylo` objects: the tips are nodes
// 0 .. tips-1 in the order the file names them, the root is node `tips`, and
// the other internal nodes follow in preorder, each after its parent, so that
// parent[v] < v for every internal node v.  A node may have any number of
// children of two or more (a polytomy is kept as it is); a node with one child
// is never made (the reader folds it into its child's edge).
#pragma once

#include <string>
#include <vector>

namespace quillan {

struct PhyloTree {
    // One label per tip, as the file spells it after unquoting.
    std::vector<std::string> labels;
    // One entry per node: the index of its parent, -1 for the root.
    std::vector<int> parent;
    // One entry per node: the length of the edge above it (0 for the root;
    // a root edge is not kept, since it adds the same to every entry of the
    // covariance and no analysis here reads it).
    std::vector<double> length;
    // The file the tree was read from, for messages and the record.
    std::string source;

    int tip_count() const { return static_cast<int>(labels.size()); }
    int node_count() const { return static_cast<int>(parent.size()); }
    int root() const { return tip_count(); }
    bool is_tip(int v) const { return v < tip_count(); }
};

}  // namespace quillan
