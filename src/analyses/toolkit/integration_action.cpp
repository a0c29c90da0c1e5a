// "RunIntegration": two-block PLS between the modules of a partition of
// the landmarks (--partition FILE): for two modules their PLS, for more
// every pair's and the mean r-PLS, each with Z and p.
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
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
    name_integration_statistics(env, labels, "Integration");
    PermutationEngine engine(env.options(), &env.console());
    const IntegrationResult r = integration_test(engine, shapes, module, dimensions, nperm);
    std::string text = shape_report_head(env, "Integration: two-block PLS between the modules of " + partition->path);
    text += std::to_string(labels.size()) + " modules, one superimposition of all the landmarks\n" + pls_method_text(nperm);
    text += integration_text(env, r, labels,
                             {.title = "Integration", .groups = env.options().recorder ? figure_groups(env) : FigureGroups{}});
    env.set_report(text);
}

}  // namespace quillan
