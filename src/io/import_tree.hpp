// Reading a phylogeny: a Newick file (.tre, .nwk, .newick) or the TREES block
// of a NEXUS file (.nex, .nexus, or any file that opens with #NEXUS), with its
// TRANSLATE table, into a PhyloTree numbered as ape numbers its trees.
//
// Kept: the tip labels as written (quotes removed, a doubled quote read as
// one, underscores left as underscores, as ape's read.tree leaves them), the
// branch lengths (zero and tiny ones too) and polytomies.  Ignored: comments
// ([&R], [&U] and the like, nested ones too), the labels of inner nodes
// (support values) and a root edge.  A node with one child is folded into
// its child's branch, the two lengths added.  Refused, naming the file, line
// and column: a branch without a length (naming its tip, or the tips its
// node spans), a negative length, two tips of one label (naming both
// places), a tip without a label, unbalanced parentheses, a tree not ended
// by ';', a NUL byte, UTF-16 text and a file past the read limits.
#pragma once

#include "analyses/phylo/phylo_tree.hpp"
#include "platform/capped_read.hpp"

#include <string>

namespace quillan::io {

// Reads the tree file at `path`.  `tree_name` chooses a tree of a NEXUS file
// by its name (the first tree when empty); a Newick file given a name is
// refused, since it names no trees.  Every refusal is a QuillanError whose
// message names the file and ends "Nothing was loaded."
PhyloTree read_tree_file(const std::string& path, const std::string& tree_name = {}, const ReadLimits& limits = {});
// The same for bytes already in memory (tests, the fuzz target).
PhyloTree tree_from_bytes(const std::string& bytes, const std::string& path, const std::string& tree_name = {});

// What the file box says of a tree: its tips, whether it is ultrametric (its
// tips equally far from the root, to 1e-8 of the tree's height), its
// polytomies and its shortest and longest branches.
struct TreeSummary {
    int tips = 0;
    bool ultrametric = false;
    int polytomies = 0;  // inner nodes of more than two children
    double shortest = 0, longest = 0, height = 0;
};
TreeSummary summarize_tree(const PhyloTree& tree);
// "\nTree File: NAME with N tips, ultrametric, no polytomies, branches 0.1 to 2.5".
std::string tree_file_info(const std::string& name, const PhyloTree& tree);

}  // namespace quillan::io
