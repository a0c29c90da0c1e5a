// "RunPhyloIntegration": two-block PLS on a tree, as geomorph's
// phylo.integration: the tips' data multiplied by the tree's centring
// transformation (phylo_centring.hpp) and centred, then the PLS of the
// modules of --partition FILE (every pair's, and their mean with more than
// two) or of shape against the table of --block2 FILE, p from shuffling the
// rows of the first block.
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/permutation_recorder.hpp"
#include "analyses/phylo/phylo_centring.hpp"
#include "analyses/phylo/tree_inputs.hpp"
#include "analyses/toolkit/pls_report.hpp"
#include "analyses/toolkit/shape_inputs.hpp"
#include "analyses/toolkit/side_tables.hpp"
#include "analyses/toolkit/two_block_pls.hpp"

namespace quillan {

namespace {

using Eigen::MatrixXd;

// The colours of G1 for the rows on the tree; none for the means of a
// factor's levels, which belong to no one group.
FigureGroups tip_groups(ActionEnv& env, const TreeData& data) {
    if (!env.options().recorder || !env.settings().text("species-means").empty()) return {};
    const FigureGroups all = figure_groups(env);
    if (all.names.empty()) return all;
    FigureGroups out{all.names, {}};
    for (const int row : data.match.rows) out.group_of.push_back(all.group_of[static_cast<std::size_t>(row)]);
    return out;
}

std::string transformation_words() {
    return "The tips' values multiplied by D (I - 1 1'C^-1 / 1'C^-1 1), D the symmetric inverse square root of the tree's "
           "covariance C, and centred, as geomorph's phylo.integration\n";
}

void modules_on_tree(ActionEnv& env, const MatrixXd& shapes, const SideFile* partition) {
    const int dimensions = env.ws().dimensions;
    std::vector<std::string> labels;
    const std::vector<int> module = partition_of(partition, static_cast<int>(shapes.cols() / dimensions), &labels);
    const TreeData data = data_on_tree(env, shapes);
    const long long nperm = read_nperm(env);
    name_integration_statistics(env, labels, "Phylogenetic integration");
    PermutationEngine engine(env.options(), &env.console());
    const MatrixXd t = phylo_centring(data.match.tree, data.match.tip_of_row, engine);
    const IntegrationResult r = integration_test(engine, phylo_centred(t, data.x), module, dimensions, nperm);
    std::string text =
        shape_report_head(env, "Phylogenetic integration: two-block PLS between the modules of " + partition->path) + data.words;
    text += std::to_string(labels.size()) + " modules, one superimposition of all the landmarks\n" + transformation_words() +
            pls_method_text(nperm);
    text += integration_text(env, r, labels, {.title = "Phylogenetic integration", .groups = tip_groups(env, data)});
    env.set_report(text);
}

void block_on_tree(ActionEnv& env, const MatrixXd& shapes, const SideFile* table) {
    std::vector<std::string> names;
    const MatrixXd block = block_of(table, shapes.rows(), names);
    // Matched (and averaged by --species-means) together, so that both
    // blocks keep the same rows.
    MatrixXd both(shapes.rows(), shapes.cols() + block.cols());
    both << shapes, block;
    const TreeData data = data_on_tree(env, both);
    const long long nperm = read_nperm(env);
    if (PermutationRecorder* recorder = env.options().recorder)
        recorder->name_statistics(0,
                                  {"Phylogenetic integration: r-PLS of shape and the table",
                                   "Phylogenetic integration: r-PLS (again, as the mean of one pair)"},
                                  PValueRule::ReachedWithObserved);
    PermutationEngine engine(env.options(), &env.console());
    const MatrixXd t = phylo_centring(data.match.tree, data.match.tip_of_row, engine);
    const PlsResult r = two_block_pls(engine, phylo_centred(t, data.x.leftCols(shapes.cols())),
                                      phylo_centred(t, data.x.rightCols(block.cols())), nperm);
    std::string text =
        shape_report_head(env, "Phylogenetic integration: two-block PLS of shape against the table " + table->path) + data.words;
    text += std::to_string(block.cols()) + " variable(s), centred, not scaled\n" + transformation_words() +
            pls_method_text(nperm) + "\n" + pls_text(r);
    record_pls(env, r, "shape - table", nperm);
    if (PermutationRecorder* recorder = env.options().recorder) {
        ToolkitFigures figures;
        figures.pls.push_back(pls_figure(r, "Phylogenetic integration: first axis of shape and the table", "Shape",
                                         names.size() == 1 ? names.front() : "The table", tip_groups(env, data)));
        recorder->keep_figures(figures);
    }
    env.set_report(text);
}

}  // namespace

void run_phylo_integration(ActionEnv& env) {
    require_tree(env);
    const MatrixXd shapes = aligned_shapes(env);
    const SideFile* partition = env.params().side_file("partition");
    const SideFile* table = env.params().side_file("block2");
    if (partition && table)
        throw Refused(
            "Phylogenetic integration takes either the modules of a partition (--partition FILE) or a second block "
            "(--block2 FILE), not both.");
    if (!partition && !table)
        throw Refused(
            "Phylogenetic integration needs the modules of a partition of the landmarks (--partition FILE) or a second "
            "block of variables (--block2 FILE).");
    if (partition) modules_on_tree(env, shapes, partition);
    else block_on_tree(env, shapes, table);
}

}  // namespace quillan
