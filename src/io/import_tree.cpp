#include "io/import_tree.hpp"

#include "io/text.hpp"
#include "io/tree_text.hpp"
#include "platform/capped_read.hpp"
#include "platform/error.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillan::io {

namespace {

// A node as the file gives it, before single children are folded and the
// nodes numbered.
struct RawNode {
    int parent = -1;
    int children = 0;
    int first_tip = 0;  // an inner node's tips are the tips read from its '(' to its ')'
    bool tip = false;
    double length = 0;
};

class NewickReader {
public:
    NewickReader(TreeText& t, const TipTranslation& translate) : t_(t), translate_(translate) {}

    PhyloTree read() {
        t_.skip_space();
        if (t_.at_end()) t_.refuse_here("the file holds no tree");
        if (t_.peek() != '(') t_.refuse_here("a tree opens with '(', not " + what_is_here());
        int current = -1;
        bool starting = true;  // at the start of a subtree: after '(' or ','
        for (;;) {
            t_.skip_space();
            if (starting) {
                current = start_subtree();
                starting = current < 0;
                continue;
            }
            after_node(current);
            t_.skip_space();
            const char c = t_.peek();
            if (c == ',') {
                if (open_.empty()) t_.refuse_here("a ',' after the tree's last ')' (is a '(' missing?)");
                t_.advance();
                starting = true;
            } else if (c == ')') {
                if (open_.empty()) t_.refuse_here("a ')' without its '('");
                current = open_.back();
                open_.pop_back();
                t_.advance();
            } else if (c == ';' && open_.empty()) {
                t_.advance();
                return build();
            } else if (c == ';') {
                t_.refuse_here("the tree ends with " + std::to_string(open_.size()) + " '(' not closed");
            } else if (t_.at_end()) {
                t_.refuse_here(open_.empty() ? "the tree does not end with ';'" : "the file ends inside the tree");
            } else {
                t_.refuse_here("expected ',', ')' or ';' here, not " + what_is_here() +
                               " (a label with blanks or punctuation must be in single quotes)");
            }
        }
    }

private:
    std::string what_is_here() const {
        if (t_.at_end()) return "the end of the file";
        const char c = t_.peek();
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) return "a character of its own";
        return "'" + std::string(1, c) + "'";
    }

    int add_node(bool tip) {
        RawNode n;
        n.tip = tip;
        n.first_tip = static_cast<int>(labels_.size());
        n.parent = open_.empty() ? -1 : open_.back();
        if (n.parent >= 0) ++nodes_[static_cast<std::size_t>(n.parent)].children;
        nodes_.push_back(n);
        return static_cast<int>(nodes_.size()) - 1;
    }

    // '(' opens an inner node (and the subtree goes on); a label makes a tip.
    // Returns the tip made, or -1 after a '('.
    int start_subtree() {
        if (t_.peek() == '(') {
            open_.push_back(add_node(false));
            t_.advance();
            return -1;
        }
        const TextPlace at = t_.place();
        std::string label = t_.word();
        if (label.empty()) {
            if (t_.at_end()) t_.refuse_here("the file ends inside the tree");
            if (t_.peek() == ',' || t_.peek() == ')' || t_.peek() == ':' || t_.peek() == '\'')
                t_.refuse(at, "a tip without a label");
            t_.refuse_here("expected a tip's label or '(' here, not " + what_is_here());
        }
        if (const auto it = translate_.find(label); it != translate_.end()) label = it->second;
        const auto [seen, fresh] = first_place_.emplace(label, at);
        if (!fresh)
            t_.refuse(at, "this tip and the one at line " + std::to_string(seen->second.line) + ", column " +
                              std::to_string(seen->second.column) + " are both labelled " + quoted_label(label));
        const int tip = add_node(true);
        labels_.push_back(std::move(label));
        return tip;
    }

    // After a tip's label or an inner node's ')': the inner node's own label
    // (ignored), then ':' and the branch length.
    void after_node(int v) {
        RawNode& n = nodes_[static_cast<std::size_t>(v)];
        if (!n.tip && (t_.peek() == '\'' || !TreeText::ends_word(t_.peek()))) static_cast<void>(t_.word());
        t_.skip_space();
        const bool root = n.parent < 0;
        if (t_.peek() != ':') {
            if (n.tip && !TreeText::ends_word(t_.peek()))
                t_.refuse_here("expected ':' and the length of the branch above " + node_name(v) + ", not " + what_is_here() +
                               " (a label with blanks must be in single quotes)");
            if (!root) t_.refuse_here("the branch above " + node_name(v) + " has no length");
            return;
        }
        t_.advance();
        t_.skip_space();
        const TextPlace at = t_.place();
        const std::string text = t_.word();
        const auto length = parse_number(text);
        if (!length)
            t_.refuse(at, "the branch above " + node_name(v) + " has no length a number can be read from" +
                              (text.empty() ? std::string() : " (" + quoted_label(text) + ")"));
        if (*length < 0) t_.refuse(at, "the branch above " + node_name(v) + " has a negative length (" + text + ")");
        // The root's own branch (a root edge) is read and left out.
        nodes_[static_cast<std::size_t>(v)].length = root ? 0 : *length;
    }

    std::string node_name(int v) const {
        const RawNode& n = nodes_[static_cast<std::size_t>(v)];
        if (n.tip) return "tip " + quoted_label(labels_[static_cast<std::size_t>(n.first_tip)]);
        if (labels_.size() <= static_cast<std::size_t>(n.first_tip)) return "the inner node that ends here";
        const std::size_t last = labels_.size() - 1;
        return "the inner node that ends here (tips " + quoted_label(labels_[static_cast<std::size_t>(n.first_tip)]) + " to " +
               quoted_label(labels_[last]) + ")";
    }

    PhyloTree build();

    TreeText& t_;
    const TipTranslation& translate_;
    std::vector<RawNode> nodes_;
    std::vector<std::string> labels_;
    std::vector<int> open_;  // the inner nodes whose ')' is still to come
    std::unordered_map<std::string, TextPlace> first_place_;
};

// Folds the nodes of one child and numbers the rest: the tips in the order
// read, then the inner nodes in the order of their '(', which is preorder.
PhyloTree NewickReader::build() {
    if (labels_.size() < 2) t_.refuse_here("a tree needs two tips or more, and this one has " + std::to_string(labels_.size()));
    // Parents come before their children, so one pass settles each node's
    // parent among the nodes kept: a node of one child hands its branch to
    // that child (the lengths added), and the only child of the root hands
    // its children to the root (its branch is a root edge, left out).
    const std::size_t count = nodes_.size();
    std::vector<int> up(count, -1);
    std::vector<double> length(count, 0.0);
    std::vector<char> folded(count, 0);
    int root_children = nodes_[0].children;
    for (std::size_t v = 1; v < count; ++v) {
        const RawNode& n = nodes_[v];
        auto p = static_cast<std::size_t>(n.parent);
        double l = n.length;
        if (folded[p]) {
            l += length[p];
            p = static_cast<std::size_t>(up[p]);
        }
        up[v] = static_cast<int>(p);
        length[v] = l;
        if (n.tip) continue;
        if (n.children == 1) {
            folded[v] = 1;
        } else if (p == 0 && root_children == 1) {
            folded[v] = 1;
            length[v] = 0;
            root_children = n.children;
        }
    }
    std::vector<int> number(count, -1);
    int next_tip = 0, next_inner = static_cast<int>(labels_.size());
    for (std::size_t v = 0; v < count; ++v)
        if (!folded[v]) number[v] = nodes_[v].tip ? next_tip++ : next_inner++;
    PhyloTree tree;
    tree.labels = std::move(labels_);
    tree.parent.assign(static_cast<std::size_t>(next_inner), -1);
    tree.length.assign(static_cast<std::size_t>(next_inner), 0.0);
    for (std::size_t v = 1; v < count; ++v) {
        if (folded[v]) continue;
        const auto at = static_cast<std::size_t>(number[v]);
        tree.parent[at] = number[static_cast<std::size_t>(up[v])];
        tree.length[at] = length[v];
    }
    tree.source = t_.path();
    return tree;
}

std::string shortest_text(double d) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.4g", d);
    return buffer;
}

}  // namespace

PhyloTree read_newick_tree(TreeText& t, const TipTranslation& translate) { return NewickReader(t, translate).read(); }

PhyloTree tree_from_bytes(const std::string& bytes, const std::string& path, const std::string& tree_name) {
    std::string_view text(bytes);
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF")
        refuse_tree_file(path, "it is UTF-16 text: save it as UTF-8");
    TreeText t(text, path);
    if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
        TreeText at(text.substr(0, nul), path);
        while (!at.at_end()) at.advance();
        at.refuse_here("a NUL byte: it is no text file");
    }
    t.skip_space();
    if (t.take_keyword("#nexus")) return read_nexus_tree(t, tree_name);
    if (!tree_name.empty())
        refuse_tree_file(path, "it is a Newick file, which names no trees, so no tree named " + quoted_label(tree_name) +
                                   " can be chosen from it (only a NEXUS file names its trees)");
    return read_newick_tree(t);
}

PhyloTree read_tree_file(const std::string& path, const std::string& tree_name, const ReadLimits& limits) {
    return tree_from_bytes(read_file_capped(path, limits), path, tree_name);
}

TreeSummary summarize_tree(const PhyloTree& tree) {
    TreeSummary s;
    s.tips = tree.tip_count();
    const int n = tree.node_count();
    std::vector<double> depth(static_cast<std::size_t>(n), 0.0);
    std::vector<int> children(static_cast<std::size_t>(n), 0);
    // Inner nodes come after their parents; tips hang from inner nodes.
    for (int v = tree.root() + 1; v < n; ++v)
        depth[static_cast<std::size_t>(v)] =
            depth[static_cast<std::size_t>(tree.parent[static_cast<std::size_t>(v)])] + tree.length[static_cast<std::size_t>(v)];
    double low = 0, high = 0;
    bool first = true;
    for (int v = 0; v < n; ++v) {
        if (v == tree.root()) continue;
        const auto u = static_cast<std::size_t>(v);
        ++children[static_cast<std::size_t>(tree.parent[u])];
        const double l = tree.length[u];
        s.shortest = first ? l : std::min(s.shortest, l);
        s.longest = first ? l : std::max(s.longest, l);
        if (tree.is_tip(v)) {
            const double d = depth[static_cast<std::size_t>(tree.parent[u])] + l;
            low = first ? d : std::min(low, d);
            high = first ? d : std::max(high, d);
        }
        first = false;
    }
    for (int v = tree.root(); v < n; ++v) s.polytomies += children[static_cast<std::size_t>(v)] > 2;
    s.height = high;
    s.ultrametric = high - low <= 1e-8 * high;
    return s;
}

std::string tree_file_info(const std::string& name, const PhyloTree& tree) {
    const TreeSummary s = summarize_tree(tree);
    const std::string polytomies = s.polytomies == 0   ? "no polytomies"
                                   : s.polytomies == 1 ? "1 polytomy"
                                                       : std::to_string(s.polytomies) + " polytomies";
    return "\nTree File: " + name + " with " + std::to_string(s.tips) + " tips, " +
           (s.ultrametric ? "ultrametric" : "not ultrametric") + ", " + polytomies + ", branches " + shortest_text(s.shortest) +
           " to " + shortest_text(s.longest);
}

}  // namespace quillan::io
