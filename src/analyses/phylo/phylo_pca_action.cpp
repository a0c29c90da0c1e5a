// "RunPhyloPca": the phylomorphospace, the tips and their ancestors in the
// components the option chooses (principal, phylogenetic PCA, or the
// phylogenetically aligned components), each inner node's estimated shape
// in the record.
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/permutation_recorder.hpp"
#include "analyses/phylo/phylo_pca.hpp"
#include "analyses/phylo/tree_inputs.hpp"
#include "analyses/toolkit/figure_data.hpp"
#include "analyses/toolkit/pls_report.hpp"
#include "analyses/toolkit/shape_inputs.hpp"

#include <algorithm>

namespace quillan {

namespace {

const char* components_title(TreeComponents kind) {
    switch (kind) {
        case TreeComponents::Gls:
            return "phylogenetic PCA (GLS: the components of (X - 1a)'C^-1(X - 1a), a the GLS mean)";
        case TreeComponents::Aligned:
            return "phylogenetically aligned components (the right singular vectors of C(X - 1 mean))";
        default:
            return "principal components of the tips, the ancestors projected";
    }
}

// Each component's variance and share (and, aligned, its RV).
ReportTable component_table(const PhyloPca& r) {
    const bool aligned = r.kind == TreeComponents::Aligned;
    std::vector<ReportTable::Column> columns{{"component", 11, true}, {"variance", 14, false, "variance"}, {"percent", 10}};
    if (aligned) columns.push_back({"RV", 10, false, "RV"});
    ReportTable table(std::move(columns));
    const double total = r.variances.sum();
    for (Eigen::Index j = 0; j < r.variances.size(); ++j) {
        std::vector<ReportTable::Cell> cells{ReportTable::words("C" + std::to_string(j + 1)), ReportTable::number(r.variances(j)),
                                             ReportTable::number(100 * r.variances(j) / total, true)};
        if (aligned) cells.push_back(ReportTable::number(r.rv(j), true));
        table.row("", std::move(cells));
    }
    return table;
}

// The scores on the first two components, one line a tip or node (the
// record holds them all).
std::string score_lines(const std::vector<std::string>& names, const Eigen::MatrixXd& scores) {
    const Eigen::Index shown_components = std::min<Eigen::Index>(2, scores.cols());
    std::vector<ReportTable::Column> columns{{"", 24, true}};
    for (Eigen::Index j = 0; j < shown_components; ++j) columns.push_back({"", 14});
    ReportTable table(std::move(columns));
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::vector<ReportTable::Cell> cells{ReportTable::words(names[i])};
        for (Eigen::Index j = 0; j < shown_components; ++j)
            cells.push_back(ReportTable::number(scores(static_cast<Eigen::Index>(i), j)));
        table.row("", std::move(cells));
    }
    return table.headless().text();
}

// The coordinates' names of a shape row: "L1 x", "L1 y" (and "L1 z").
std::string coordinate_name(Eigen::Index j, int dimensions) {
    static const char* axes[] = {"x", "y", "z"};
    return "L" + std::to_string(j / dimensions + 1) + " " + axes[j % dimensions];
}

PhylomorphospaceFigure figure_of(const PhyloPca& r, const PhyloTree& tree, const std::vector<int>& tip_of_row,
                                 std::vector<std::string> tips) {
    PhylomorphospaceFigure f;
    f.axis = r.kind == TreeComponents::Gls ? "Phylogenetic PC" : r.kind == TreeComponents::Aligned ? "PaC" : "PC";
    const Eigen::Index k = std::min<Eigen::Index>(2, r.scores.cols());
    for (Eigen::Index j = 0; j < k; ++j) f.percent.push_back(100 * r.variances(j) / r.variances.sum());
    f.tips = std::move(tips);
    f.tip_scores = r.scores.leftCols(k);
    f.node_scores = r.ancestor_scores.leftCols(k);
    for (int t : tip_of_row) f.tip_parent.push_back(tree.parent[static_cast<std::size_t>(t)] - tree.root());
    for (int v = tree.root(); v < tree.node_count(); ++v)
        f.node_parent.push_back(v == tree.root() ? -1 : tree.parent[static_cast<std::size_t>(v)] - tree.root());
    return f;
}

// `codes` (one a tip, -1 for none) as groups of the levels `names` that
// some tip has, in the levels' order.
FigureGroups used_levels(const std::vector<int>& codes, const std::vector<std::string>& names) {
    std::vector<int> number(names.size(), -1);
    for (int c : codes)
        if (c >= 0) number[static_cast<std::size_t>(c)] = 0;
    FigureGroups g;
    for (std::size_t k = 0; k < names.size(); ++k)
        if (number[k] == 0) {
            number[k] = static_cast<int>(g.names.size());
            g.names.push_back(names[k]);
        }
    for (int c : codes) g.group_of.push_back(c < 0 ? 0 : number[static_cast<std::size_t>(c)]);
    return g;
}

// The colours of the tips: G1's levels where each tip's specimens share one
// (each specimen its own tip, or species whose specimens all have one level
// of G1, a clade or a habitat), else with species means the species
// themselves; one colour without either.
void colour_tips(ActionEnv& env, const TreeData& data, PhylomorphospaceFigure& f) {
    const std::vector<int>& rows = data.match.rows;
    if (rows.empty()) return;
    std::vector<int> tip_of_row(static_cast<std::size_t>(*std::max_element(rows.begin(), rows.end()) + 1), -1);
    for (std::size_t i = 0; i < rows.size(); ++i) tip_of_row[static_cast<std::size_t>(rows[i])] = static_cast<int>(i);
    const FigureGroups g1 = figure_groups(env);
    if (g1.names.size() > 1) {
        std::vector<int> level(rows.size(), -1);
        bool shared = true;
        for (std::size_t s = 0; s < g1.group_of.size() && shared; ++s) {
            const auto row = data.level_of_specimen.empty() ? s : static_cast<std::size_t>(data.level_of_specimen[s]);
            const int tip = row < tip_of_row.size() ? tip_of_row[row] : -1;
            if (tip < 0) continue;  // a specimen pruned away
            int& l = level[static_cast<std::size_t>(tip)];
            shared = l < 0 || l == g1.group_of[s];
            l = g1.group_of[s];
        }
        if (shared) {
            f.groups = used_levels(level, g1.names);
            return;
        }
    }
    if (data.species.empty()) return;
    // Each tip is a level of its own, named as the tip.
    std::vector<std::string> names(tip_of_row.size());
    for (std::size_t i = 0; i < rows.size(); ++i) names[static_cast<std::size_t>(rows[i])] = f.tips[i];
    f.groups = used_levels(rows, names);
    f.factor = data.species;
}

}  // namespace

void run_phylo_pca(ActionEnv& env) {
    const Eigen::MatrixXd shapes = aligned_shapes(env);
    const TreeData data = data_on_tree(env, shapes);
    const OptionValues& o = env.settings();
    const auto kind = o.has("components") ? o.choice<TreeComponents>("components") : TreeComponents::Principal;
    const PhyloTree& tree = data.match.tree;
    const PhyloPca r = phylo_pca(tree, data.match.tip_of_row, data.x, kind);
    std::vector<std::string> tips, nodes;
    for (int t : data.match.tip_of_row) tips.push_back(tree.labels[static_cast<std::size_t>(t)]);
    for (Eigen::Index v = 0; v < r.ancestors.rows(); ++v)
        nodes.push_back("node " + std::to_string(tree.tip_count() + v + 1) + (v == 0 ? " (root)" : ""));
    std::string text = shape_report_head(env, "Phylomorphospace") + data.words;
    text += std::string("Components: ") + components_title(kind) + "\n";
    text +=
        "Ancestors: the GLS estimates of Brownian motion on the tree (the root the GLS mean, each node a + C[node, tips] "
        "C^-1 (X - 1a))\n";
    if (kind == TreeComponents::Gls && r.unit != 1)
        text += "Variances with the tree scaled to unit height (its tips' depth " + shown(r.unit) + ")\n";
    const ReportTable components = component_table(r);
    text += "\n" + components.text() + "\nScores of the tips\n\n" + score_lines(tips, r.scores) +
            "\nScores of the ancestors\n\n" + score_lines(nodes, r.ancestor_scores);
    const auto put_scores = [](RecordedModel& m, const Eigen::MatrixXd& s, Eigen::Index i) {
        for (Eigen::Index j = 0; j < s.cols(); ++j) m.set("C" + std::to_string(j + 1), s(i, j));
    };
    components.record_into(env.record().model("Components"),
                           [](std::size_t j, const std::string& key) { return "C" + std::to_string(j + 1) + " " + key; });
    for (std::size_t i = 0; i < tips.size(); ++i)
        put_scores(env.record().model("Tip " + tips[i]), r.scores, static_cast<Eigen::Index>(i));
    const int dimensions = env.ws().dimensions;
    for (std::size_t v = 0; v < nodes.size(); ++v) {
        RecordedModel& m = env.record().model("Node " + std::to_string(tree.tip_count() + static_cast<int>(v) + 1));
        const auto row = static_cast<Eigen::Index>(v);
        m.set("parent", v == 0 ? 0 : tree.parent[static_cast<std::size_t>(tree.root()) + v] + 1);
        for (Eigen::Index j = 0; j < r.ancestors.cols(); ++j) m.set(coordinate_name(j, dimensions), r.ancestors(row, j));
        put_scores(m, r.ancestor_scores, row);
    }
    if (PermutationRecorder* recorder = env.options().recorder) {
        ToolkitFigures figures;
        figures.phylomorphospace = figure_of(r, tree, data.match.tip_of_row, tips);
        colour_tips(env, data, *figures.phylomorphospace);
        recorder->keep_figures(figures);
    }
    env.set_report(text);
}

}  // namespace quillan
