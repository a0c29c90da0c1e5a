// "RunPhyloModularity": the covariance ratio on a tree, as geomorph's
// phylo.modularity: the rotation search on the tips' shapes as aligned,
// then CR and its random partitions on the turned shapes multiplied by the
// tree's centring transformation (phylo_centring.hpp).
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/phylo/phylo_centring.hpp"
#include "analyses/phylo/tree_inputs.hpp"
#include "analyses/toolkit/modularity.hpp"
#include "analyses/toolkit/modularity_report.hpp"
#include "analyses/toolkit/shape_inputs.hpp"
#include "analyses/toolkit/side_tables.hpp"

namespace quillan {

void run_phylo_modularity(ActionEnv& env) {
    require_tree(env);
    const Eigen::MatrixXd shapes = aligned_shapes(env);
    const int dimensions = env.ws().dimensions;
    std::vector<std::string> labels;
    const SideFile* partition = env.params().side_file("partition");
    const std::vector<int> module = partition_of(partition, static_cast<int>(shapes.cols() / dimensions), &labels);
    const TreeData data = data_on_tree(env, shapes);
    const long long nperm = read_nperm(env);
    name_modularity_statistics(env, "Phylogenetic modularity");
    PermutationEngine engine(env.options(), &env.console());
    const Eigen::MatrixXd t = phylo_centring(data.match.tree, data.match.tip_of_row, engine);
    const ModularityResult r =
        modularity_test(engine, data.x, module, dimensions,
                        {.nperm = nperm, .rotation_search = !env.settings().flag("no-rotation-search"), .rows_transform = &t});
    std::string text =
        shape_report_head(env, "Phylogenetic modularity: covariance ratio of the modules of " + partition->path) + data.words;
    text +=
        "CR of the tips' shapes multiplied by D (I - 1 1'C^-1 / 1'C^-1 1), D the symmetric inverse square root of the "
        "tree's covariance C, after the rotation search on the shapes as aligned, as geomorph's phylo.modularity\n";
    env.set_report(text + modularity_text(env, r, labels));
}

}  // namespace quillan
