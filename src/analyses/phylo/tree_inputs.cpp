#include "analyses/phylo/tree_inputs.hpp"

#include "platform/error.hpp"

#include <algorithm>

namespace quillan {

namespace {

// The mean shape of each level of factor `column`, the levels the rows' names.
Eigen::MatrixXd level_means(const ActionEnv& env, const Eigen::MatrixXd& shapes, const std::string& column,
                            std::vector<std::string>& names, std::vector<int>& codes) {
    const ModelVariables vars = env.model_variables();
    const auto v = std::find_if(vars.begin(), vars.end(), [&](const ModelVariable& m) { return m.name == column; });
    if (v == vars.end() || !v->is_factor()) {
        std::string known;
        for (const auto& m : vars)
            if (m.is_factor()) known += (known.empty() ? "" : ", ") + m.name;
        throw Refused("--species-means names \"" + column + "\", which is no factor of the loaded data" +
                      (known.empty() ? std::string(" (they have none)") : "; the factors are: " + known) + ".");
    }
    if (v->codes.size() != static_cast<std::size_t>(shapes.rows()))
        throw Refused("The factor \"" + column + "\" has " + std::to_string(v->codes.size()) + " values, but there are " +
                      std::to_string(shapes.rows()) + " specimens.");
    Eigen::MatrixXd means = Eigen::MatrixXd::Zero(static_cast<Eigen::Index>(v->levels.size()), shapes.cols());
    Eigen::VectorXd count = Eigen::VectorXd::Zero(means.rows());
    for (Eigen::Index i = 0; i < shapes.rows(); ++i) {
        means.row(v->codes[static_cast<std::size_t>(i)]) += shapes.row(i);
        count(v->codes[static_cast<std::size_t>(i)]) += 1;
    }
    names = v->levels;
    codes = v->codes;
    return means.array().colwise() / count.array().max(1.0);
}

}  // namespace

const PhyloTree& require_tree(const ActionEnv& env) {
    if (!env.ws().tree)
        throw Refused(
            "This analysis works on a phylogeny, and none is loaded: give one with --tree FILE (Newick or NEXUS), "
            "or load it with Load tree.");
    return *env.ws().tree;
}

TreeData data_on_tree(const ActionEnv& env, const Eigen::MatrixXd& shapes) {
    const PhyloTree& tree = require_tree(env);
    const OptionValues& o = env.settings();
    const std::string column = o.has("species-means") ? o.text("species-means") : std::string();
    const bool prune = o.has("prune") && o.flag("prune");
    TreeData d;
    std::vector<std::string> names;
    Eigen::MatrixXd rows = shapes;
    std::string noun = "specimen";
    if (!column.empty()) {
        rows = level_means(env, shapes, column, names, d.level_of_specimen);
        d.species = column;
        noun = "species";
    } else {
        names = env.specimen_ids();
        if (names.size() != static_cast<std::size_t>(shapes.rows()))
            throw Refused(
                "The specimens have no IDs to match to the tips of the tree: load landmarks whose file names them "
                "(TPS ID=, a table's ID column), or average a factor's levels with --species-means COLUMN.");
    }
    d.match = match_tips(tree, names, prune, noun);
    d.x.resize(static_cast<Eigen::Index>(d.match.rows.size()), rows.cols());
    for (std::size_t i = 0; i < d.match.rows.size(); ++i) d.x.row(static_cast<Eigen::Index>(i)) = rows.row(d.match.rows[i]);
    const PhyloTree& t = d.match.tree;
    d.words = "Tree: " + (tree.source.empty() ? std::string("loaded") : tree.source) + ", " + std::to_string(t.tip_count()) +
              " tips matched to " + (column.empty() ? "the specimens' IDs" : "the mean shapes of the levels of " + column) + "\n";
    if (d.match.dropped_tips > 0 || d.match.dropped_rows > 0)
        d.words += "Pruned: " + std::to_string(d.match.dropped_tips) + " tip(s) without a " + noun + " and " +
                   std::to_string(d.match.dropped_rows) + " " + noun + "(s) without a tip left out\n";
    return d;
}

}  // namespace quillan
