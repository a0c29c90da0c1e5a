#include "analyses/phylo/tip_matching.hpp"

#include "platform/error.hpp"

#include <unordered_map>

namespace quillan {

namespace {

// "a, b, c and 4 more" of the first few names.
std::string listed(const std::vector<std::string>& names) {
    constexpr std::size_t kShown = 5;
    std::string out;
    for (std::size_t i = 0; i < names.size() && i < kShown; ++i) out += (i ? ", " : "") + names[i];
    if (names.size() > kShown) out += " and " + std::to_string(names.size() - kShown) + " more";
    return out;
}

std::unordered_map<std::string, int> index_of(const std::vector<std::string>& names, const std::string& what) {
    std::unordered_map<std::string, int> at;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (!at.emplace(names[i], static_cast<int>(i)).second)
            throw Refused("The name \"" + names[i] + "\" is given to two " + what + "; each must be named once to be matched.");
    return at;
}

std::string tree_words(const PhyloTree& tree) { return tree.source.empty() ? "the tree" : "the tree " + tree.source; }

}  // namespace

TipMatch match_tips(const PhyloTree& tree, const std::vector<std::string>& names, bool prune, const std::string& noun) {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i].empty())
            throw Refused("The " + noun + " in row " + std::to_string(i + 1) +
                          " has no name, so it cannot be matched to a tip of " + tree_words(tree) + ".");
    const auto tips = index_of(tree.labels, "tips of " + tree_words(tree));
    const auto rows = index_of(names, noun + "s");
    std::vector<std::string> lone_tips, lone_rows;
    std::vector<bool> keep(tree.labels.size(), false);
    TipMatch m;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto t = tips.find(names[i]);
        if (t == tips.end()) {
            lone_rows.push_back(names[i]);
            continue;
        }
        keep[static_cast<std::size_t>(t->second)] = true;
        m.rows.push_back(static_cast<int>(i));
    }
    for (const auto& label : tree.labels)
        if (!rows.count(label)) lone_tips.push_back(label);
    if (!prune && !(lone_tips.empty() && lone_rows.empty())) {
        std::string text;
        if (!lone_rows.empty())
            text += std::to_string(lone_rows.size()) + " " + noun + "(s) have no tip in " + tree_words(tree) + ": " +
                    listed(lone_rows) + ".  ";
        if (!lone_tips.empty())
            text += std::to_string(lone_tips.size()) + " tip(s) of " + tree_words(tree) + " have no " + noun + ": " +
                    listed(lone_tips) + ".  ";
        throw Refused(text + "Give --prune to leave them out.");
    }
    if (m.rows.size() < 3)
        throw Refused("Only " + std::to_string(m.rows.size()) + " " + noun + "(s) match a tip of " + tree_words(tree) +
                      "; an analysis on the tree needs three at least.");
    m.dropped_tips = static_cast<int>(lone_tips.size());
    m.dropped_rows = static_cast<int>(lone_rows.size());
    m.tree = m.dropped_tips > 0 ? pruned_tree(tree, keep) : tree;
    const auto kept = index_of(m.tree.labels, "tips");
    for (const int r : m.rows) m.tip_of_row.push_back(kept.at(names[static_cast<std::size_t>(r)]));
    return m;
}

PhyloTree pruned_tree(const PhyloTree& tree, const std::vector<bool>& keep) {
    const int nodes = tree.node_count();
    std::vector<int> below(static_cast<std::size_t>(nodes), 0), kids(static_cast<std::size_t>(nodes), 0);
    std::vector<std::vector<int>> children(static_cast<std::size_t>(nodes));
    for (int v = 0; v < nodes; ++v)
        if (const int p = tree.parent[static_cast<std::size_t>(v)]; p >= 0) children[static_cast<std::size_t>(p)].push_back(v);
    // Kept tips below each node, from a walk that visits children first.
    std::vector<int> order{tree.root()};
    for (std::size_t k = 0; k < order.size(); ++k)
        for (const int c : children[static_cast<std::size_t>(order[k])]) order.push_back(c);
    for (auto k = order.size(); k-- > 0;) {
        const auto v = static_cast<std::size_t>(order[k]);
        if (tree.is_tip(static_cast<int>(v))) below[v] = keep[v] ? 1 : 0;
        if (const int p = tree.parent[v]; p >= 0 && below[v] > 0) {
            below[static_cast<std::size_t>(p)] += below[v];
            ++kids[static_cast<std::size_t>(p)];
        }
    }
    PhyloTree out;
    out.source = tree.source;
    std::vector<int> tip_id(static_cast<std::size_t>(tree.tip_count()), -1);
    for (int t = 0; t < tree.tip_count(); ++t)
        if (keep[static_cast<std::size_t>(t)]) {
            tip_id[static_cast<std::size_t>(t)] = static_cast<int>(out.labels.size());
            out.labels.push_back(tree.labels[static_cast<std::size_t>(t)]);
        }
    const auto tips = static_cast<int>(out.labels.size());
    out.parent.assign(static_cast<std::size_t>(tips), -1);
    out.length.assign(static_cast<std::size_t>(tips), 0);
    struct Visit {
        int node, parent;
        double added;  // the lengths of folded edges above it
    };
    std::vector<Visit> stack{{tree.root(), -1, 0}};
    while (!stack.empty()) {
        const Visit at = stack.back();
        stack.pop_back();
        const auto v = static_cast<std::size_t>(at.node);
        const double length = at.parent < 0 ? 0 : at.added + tree.length[v];
        if (tree.is_tip(at.node)) {
            out.parent[static_cast<std::size_t>(tip_id[v])] = at.parent;
            out.length[static_cast<std::size_t>(tip_id[v])] = length;
            continue;
        }
        int id = at.parent;
        double added = at.parent < 0 ? 0 : length;
        if (kids[v] >= 2) {  // a node of the pruned tree
            id = static_cast<int>(out.parent.size());
            out.parent.push_back(at.parent);
            out.length.push_back(length);
            added = 0;
        }
        const auto& c = children[v];
        for (auto k = c.size(); k-- > 0;)
            if (below[static_cast<std::size_t>(c[k])] > 0) stack.push_back({c[k], id, added});
    }
    return out;
}

}  // namespace quillan
