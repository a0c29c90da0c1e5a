// "RunIntegration": two-block PLS between the modules of a partition of
// the landmarks (--partition FILE): for two modules their PLS, for more
// every pair's and the mean r-PLS, each with Z and p.
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/permutation_recorder.hpp"
#include "analyses/toolkit/pls_report.hpp"
#include "analyses/toolkit/shape_inputs.hpp"
#include "analyses/toolkit/side_tables.hpp"
#include "analyses/toolkit/two_block_pls.hpp"

namespace quillan {

void run_integration(ActionEnv& env) {
    const Eigen::MatrixXd shapes = aligned_shapes(env);
    const int dimensions = env.ws().dimensions;
    std::vector<std::string> labels;
    const SideFile* partition = env.params().side_file("partition");
    const std::vector<int> module = partition_of(partition, static_cast<int>(shapes.cols() / dimensions), &labels);
    const long long nperm = read_nperm(env);
    if (PermutationRecorder* recorder = env.options().recorder) {
        std::vector<std::string> names;
        for (std::size_t a = 0; a < labels.size(); ++a)
            for (std::size_t b = a + 1; b < labels.size(); ++b)
                names.push_back("Integration: r-PLS of modules " + labels[a] + " and " + labels[b]);
        names.push_back("Integration: mean r-PLS");
        recorder->name_statistics(0, names, PValueRule::ReachedWithObserved);
    }
    PermutationEngine engine(env.options(), &env.console());
    const IntegrationResult r = integration_test(engine, shapes, module, dimensions, nperm);
    std::string text = shape_report_head(env, "Integration: two-block PLS between the modules of " + partition->path);
    text += std::to_string(labels.size()) + " modules, one superimposition of all the landmarks\n" + pls_method_text(nperm);
    for (std::size_t k = 0; k < r.pairs.size(); ++k) {
        const std::string a = labels[static_cast<std::size_t>(r.pairs[k].first)];
        const std::string b = labels[static_cast<std::size_t>(r.pairs[k].second)];
        text += "\nModules " + a + " and " + b + "\n" + pls_text(r.pls[k]);
        record_pls(env, r.pls[k], "modules " + a + " - " + b, nperm);
    }
    if (r.pairs.size() > 1) {
        text += "\nMean r-PLS of the " + std::to_string(r.pairs.size()) + " pairs: " + shown(r.mean_r, true) +
                ", Z = " + shown(r.z, true) + ", p = " + shown(r.p, true) + "\n";
        env.record()
            .model("mean of the pairs")
            .set("r_pls", r.mean_r)
            .set("Z", r.z)
            .set("p", r.p)
            .test("mean r-PLS", r.mean_r, r.count_ge, r.count_ge, nperm, r.p, false);
    }
    if (PermutationRecorder* recorder = env.options().recorder) {
        ToolkitFigures figures;
        const FigureGroups groups = figure_groups(env);
        for (std::size_t k = 0; k < r.pairs.size(); ++k) {
            const std::string a = labels[static_cast<std::size_t>(r.pairs[k].first)];
            const std::string b = labels[static_cast<std::size_t>(r.pairs[k].second)];
            figures.pls.push_back(pls_figure(r.pls[k], "Integration: first PLS axis of modules " + a + " and " + b, "Module " + a,
                                             "Module " + b, groups));
        }
        recorder->keep_figures(figures);
    }
    env.set_report(text);
}

}  // namespace quillan
