// "RunOneCov": the form of the dependence of shape on the covariate within
// the groups of one grouping variable.  The common-slope and the
// different-slopes models are fitted and each is judged by shuffling the
// covariate; random groups of the real groups' sizes test whether the real
// groups' own slopes explain more than a shared one.
#include "analyses/action_env.hpp"
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/covariates/slope_models.hpp"
#include "analyses/degenerate.hpp"
#include "analyses/permutation_engine.hpp"
#include "analyses/records.hpp"
#include "analyses/report.hpp"
#include "analyses/scoring.hpp"
#include "platform/format.hpp"

namespace quillan {

void run_one_cov(ActionEnv& env) {
    const Workspace& ws = env.ws();
    const CovariateInputs in = read_covariate_inputs(env);
    const long long nperm = in.nperm;
    const CovGroups& groups = in.groups;
    const PreparedTable table(*in.landmarks, in.dimensions);
    const double total_ss = table.total_ss();
    require_shape_variation(total_ss, table.specimens());
    PermutationEngine engine(env.options(), &env.console());
    const SlopeModels y = test_slope_models(engine, env.console(), table.shapes(), groups, total_ss, nperm);

    const double y1 = y.sstotal, y2 = y.explained_ss(), y3 = y.explained_ms();
    record_slope_models(env, "G1", y, nperm);
    const std::string stemp2 =
        format_expand_reuse("\\nTests only the significance of the covariate, use 1-Way with Covariate Next");
    env.console().line(stemp2);
    env.set_report(concat_trimmed({
        format_expand_reuse(
            "\\nEstablishing the form of the dependence on the covariate:\\nThe results of a 1-Way Covariate test using %i "
            "permutations",
            {nperm}),
        stemp2,
        format_expand_reuse("\\n   %s \\n    %s \\n   %s", {ws.landmarks_info, ws.groups_info, ws.covariate_info}),
        format_expand_reuse("\\n\\n Mean square distance, p estimate for each model"),
        probability_piece(y.exc_ss, nperm,
                          "\\n\\nCommon Slope model \\n\\n  Total SS=%1.4f Explained SS=%1.4f Unexplained SS=%1.4f\\n Percent "
                          "Explained=%1.4f \\n  p<%1.5f",
                          "\\n\\nCommon Slope model \\n\\n Total SS=%1.4f Explained SS=%1.4f Unexplained SS=%1.4f \\nPercent "
                          "Explained=%1.4f \\n  p=%1.5f",
                          {y1, y2, y1 - y2, 100 * y2 / y1}),
        probability_piece(
            y.exc_ms, nperm,
            "\\n\\nDifferent Slopes (G1 x Covariate dependence)\\n\\n Total SS=%1.4f Explained SS=%1.4f Unexplained "
            "SS=%1.4f \\nPercent Explained=%1.4f \\n  p<%1.5f",
            "\\n\\nDifferent Slope(G1 x Covariate dependence) \\n\\n Total SS=%1.4f Explained SS=%1.4f Unexplained "
            "SS=%1.4f \\nPercent Explained=%1.4f \\n   p=%1.5f",
            {y1, y3, y1 - y3, 100 * y3 / y1}),
        probability_piece(
            y.cdraw_exc, nperm,
            "\\n\\nPermutation Test of Different Slope (G1 x Covariate) model vs Common Slope model p<%1.4f, \\n(Low p "
            "means G1 x Covariate is significantly better than Covariate alone,Test Criteria is explained SS)",
            "\\n----------\\nPermutation Test of Different Slope (G1 x Covariate) model vs Common Slope model "
            "p=%1.4f \\n (Low p means the different slope model is significantly better than the common slope "
            "model,Test Criteria is explained SS)"),
        format_expand_reuse("\\n\\nNote:all p values derived by permutation"),
    }));
}

}  // namespace quillan
