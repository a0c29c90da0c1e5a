// "RunPhysignal": the phylogenetic signal of shape, Kmult on the loaded
// tree, tested by shuffling the shapes over the tips, and K along the
// phylogenetically aligned components.
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/phylo/phylo_signal.hpp"
#include "analyses/phylo/tree_inputs.hpp"
#include "analyses/toolkit/shape_inputs.hpp"

namespace quillan {

void run_physignal(ActionEnv& env) {
    const Eigen::MatrixXd shapes = aligned_shapes(env);
    const TreeData data = data_on_tree(env, shapes);
    const long long nperm = read_nperm(env);
    const TreeAlgebra tree(data.match.tree, data.match.tip_of_row);
    PermutationEngine engine(env.options(), &env.console());
    const PhyloSignal r = phylo_signal(engine, tree, data.x, nperm);
    std::string text = shape_report_head(env, "Phylogenetic signal of shape (Kmult)") + data.words;
    text += "Permutations: " + std::to_string(nperm) +
            " (the rows of shape shuffled over the tips, the tree fixed); Z: effect size of K among them; p = (permutations "
            "with K at least the observed + 1) / (permutations + 1)\n\n";
    text += "Kmult " + shown(r.k, true) + ", Z = " + shown(r.z, true) + ", p = " + shown(r.p, true) + "\n";
    RecordedModel& m = env.record().model("Kmult");
    m.set("K", r.k).set("Z", r.z).set("p", r.p).set("tips", data.match.tree.tip_count());
    m.test("K", r.k, r.count_ge, r.count_ge, nperm, r.p, false);
    if (!r.k_by_component.empty()) {
        ReportTable table({{"components", 12, true}, {"K", 10, false, "K"}});
        std::vector<std::string> firsts;
        for (std::size_t j = 0; j < r.k_by_component.size(); ++j) {
            firsts.push_back(j == 0 ? "1" : "1-" + std::to_string(j + 1));
            table.row("", {ReportTable::words(firsts.back()), ReportTable::number(r.k_by_component[j], true)});
        }
        text += "\nK of the first phylogenetically aligned components\n\n" + table.text();
        table.record_into(env.record().model("K of the first aligned components"),
                          [&](std::size_t j, const std::string&) { return firsts[j]; });
    }
    env.set_report(text);
}

}  // namespace quillan
