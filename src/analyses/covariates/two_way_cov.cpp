// "RunTwoCov": the form of the dependence of shape on the covariate when the
// specimens are classified by two grouping variables.  The report has four
// sections: the slope models over the cells of G1 x G2; the cell model
// against the models in which one of the two variables is randomised; and the
// different-slopes model of each variable alone.
#include "analyses/action_env.hpp"
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/covariates/slope_models.hpp"
#include "analyses/degenerate.hpp"
#include "analyses/permutation_engine.hpp"
#include "analyses/records.hpp"
#include "analyses/report.hpp"
#include "analyses/scoring.hpp"
#include "groups/groups.hpp"
#include "platform/format.hpp"

#include <set>

namespace quillan {

namespace {

const char* const kLine = "\\n\\n--------------------------------------------------\\n";

// The different-slopes block and the random-grouping test of one variable.
struct SingleVariableTexts {
    const char* heading;
    const char* stempc_zero;
    const char* stempc;
    const char* stempd_zero;
    const char* stempd;
    bool closing_note;
};

const SingleVariableTexts kFirstVariable = {
    "\\n\\nTests of the g1 x Covariate Model:\\nThe results of a 1-Way Covariate test using %i permutations",
    "\\n\\nCovariate & Group (G1 x Covariate, Different Means)\\n\\n Total SS=%1.4f Explained SS=%1.4f Unexplained SS=%1.4f "
    "\\nPercent Explained=%1.4f \\n   permutation test of significance p<%1.5f",
    "\\n\\nCov & Group (G1 x Covariate, Different Means) \\n\\n Total SS=%1.4f Explained SS=%1.4f Unexplained SS=%1.4f "
    "\\nPercent "
    "Explained=%1.4f \\n  permutation test of significance p=%1.5f",
    "\\n\\nPermutation Test of Covariate x Group (G1 x Covariate) model vs Covariate Only model p<%1.4f, \\n(Low p means G1 x "
    "Covariate is significantly better than Covariate alone,Test Criteria is explained SS)",
    "\\n----------\\nPermutation Test of Covariate & Group (G1 x Covariate) model vs Covariate Only model p=%1.4f \\n (Low p "
    "means "
    "G1 x Covariate is significantly better than Covariate alone,Test Criteria is explained SS)",
    false,
};

// The second variable's note still speaks of G1 x Covariate; the report has
// always read so.
const SingleVariableTexts kSecondVariable = {
    "\\n\\nTests of the g2 x Covariate Model:\\nThe results of a 1-Way Covariate test using %i permutations",
    "\\n\\nCovariate & Group (G2 x Covariate, Different Means)\\n\\n Total SS=%1.4f Explained SS=%1.4f Unexplained SS=%1.4f "
    "\\nPercent Explained=%1.4f \\n  permutation test of significance p<%1.5f",
    "\\n\\nCov & Group (G2 x Covariate, Different Means) \\n\\n Total SS=%1.4f Explained SS=%1.4f Unexplained SS=%1.4f "
    "\\nPercent "
    "Explained=%1.4f \\n  permutation test of significance p=%1.5f",
    "\\n\\nPermutation Test of Covariate x Group (G2 x Covariate) model vs Covariate Only model p<%1.4f, \\n(Low p means G1 x "
    "Covariate is significantly better than Covariate alone,Test Criteria is explained SS)",
    "\\n----------\\nPermutation Test of Covariate & Group (G2 x Covariate) model vs Covariate Only model p=%1.4f \\n (Low p "
    "means "
    "G1 x Covariate is significantly better than Covariate alone,Test Criteria is explained SS)",
    true,
};

int distinct_codes(const Codes& codes) { return static_cast<int>(std::set<double>(codes.begin(), codes.end()).size()); }

std::string single_variable_section(const std::string& stemp, const SingleVariableTexts& t, const SlopeModels& y,
                                    long long nperm) {
    const double y1 = y.sstotal, y3 = y.explained_ms();
    std::vector<std::string> pieces = {
        stemp,
        format_expand_reuse(t.heading, {nperm}),
        format_expand_reuse(kLine),
        format_expand_reuse("\\n\\n Mean square distance, F-test and p estimate for each model"),
        probability_piece(y.exc_ms, nperm, t.stempc_zero, t.stempc, {y1, y3, y1 - y3, 100 * y3 / y1}),
        probability_piece(y.cdraw_exc, nperm, t.stempd_zero, t.stempd),
    };
    if (t.closing_note) pieces.push_back(format_expand_reuse("\\n\\nNote:all p values derived by permutation"));
    pieces.push_back(format_expand_reuse(kLine));
    return concat_trimmed(pieces);
}

// Section A: the cell models.  Both blocks print "p<" whatever the count.
std::string cell_models_section(const Workspace& ws, const SlopeModels& y2, double total_ss, long long nperm) {
    const double e_ss = y2.explained_ss(), e_ms = y2.explained_ms();
    const char* const common_slope =
        "\\n\\nCovariate only (Common Slope model) \\nTotal SS=%1.4f Explained SS=%1.4f Unexplained "
        "SS=%1.4f\\nPercent Explained %2.3f \\n permutation test of significance p<%1.5f";
    return concat_trimmed({
        format_expand_reuse(
            "\\nEstablishing the form of the dependence on the covariate\\nThe results of a 2-Way Covariate test using %i "
            "permutations",
            {nperm}),
        format_expand_reuse("\\n   %s \\n    %s \\n   %s", {ws.landmarks_info, ws.groups_info, ws.covariate_info}),
        format_expand_reuse(kLine),
        format_expand_reuse("\\n Mean square distances and p estimate for each model"),
        probability_piece(y2.exc_ss, nperm, common_slope, common_slope, {total_ss, e_ss, total_ss - e_ss, 100 * e_ss / total_ss}),
        probability_piece(y2.exc_ms, nperm,
                          "\\n\\nG1xG2xCovariate (All different slopes) \\nTotal SS=%1.4f Explained SS=%1.4f Unexplained "
                          "SS=%1.4f\\nPercent Explained %2.3f  \\n permutation test of significance p<%1.5f",
                          "\\n\\nG1xG2xCovariate (All different slopes) \\nTotal SS=%1.4f Explained SS=%1.4f Unexplained "
                          "SS=%1.4f\\nPercent Explained %2.3f \\n permutation test of significance p<%1.5f",
                          {total_ss, e_ms, total_ss - e_ms, 100 * e_ms / total_ss}),
        probability_piece(y2.cdraw_exc, nperm,
                          "\\n\\nPermutation Test of All different slope model vs Common Slope model permutation p<%1.4f",
                          "\\nPermutation Test of All different slope model vs Common slope model permutation p=%1.4f"),
        format_expand_reuse(
            "\\nLow P indicates the G1xG2xCovariate model (all differing slopes) is significantly better than the Common Slope "
            "Model"),
        format_expand_reuse(kLine),
    });
}

// Section B: the cell model against G1 with G2 randomised, and against G2
// with G1 randomised.
std::string random_term_section(const TwoGroupCov& y, long long nperm) {
    return concat_trimmed({
        format_expand_reuse("\\n\\nResults of comparing both single interaction models with the 2 group interaction model"),
        probability_piece(y.exceeded_g1, nperm,
                          "\\n\\nThe G1 x G2 x z model explained more variance than the G1 x Random G2 x z model at permutation "
                          "p<%1.5f",
                          "\\n\\nThe G1 x G2 x z model explained more variance than the G1 x Random G2 x z model at permuation "
                          "p<%1.5f"),
        format_expand_reuse(
            "\\nLow p indicates the G1xG2xcovariate model is statistically significantly better than G1xcovariate with a "
            "random term"),
        probability_piece(y.exceeded_g2, nperm,
                          "\\n\\nThe G1 x G2 x z model explained more variance than the Random G1 x G2 x z model at p<%1.5f",
                          "\\n\\nThe G1 x G2 x z model explained more variance than the Random G1 x G2 x z model at p<%1.5f"),
        format_expand_reuse(
            "\\nLow p indicates the G1xG2xcovariate model is statistically significantly better than G2xcovariate with a "
            "random term"),
        format_expand_reuse(kLine),
    });
}

void record_random_terms(ActionEnv& env, const TwoGroupCov& y, long long nperm) {
    env.record()
        .model("G1 x G2 x covariate against G1 x random G2 x covariate")
        .test("unexplained SS", y.unexplained_cells, y.exceeded_g1, y.exc1_ge, nperm,
              y.exceeded_g1 == 0 ? 1.0 / static_cast<double>(nperm)
                                 : static_cast<double>(y.exceeded_g1) / static_cast<double>(nperm),
              y.exceeded_g1 == 0);
    env.record()
        .model("G1 x G2 x covariate against random G1 x G2 x covariate")
        .test("unexplained SS", y.unexplained_cells, y.exceeded_g2, y.exc2_ge, nperm,
              y.exceeded_g2 == 0 ? 1.0 / static_cast<double>(nperm)
                                 : static_cast<double>(y.exceeded_g2) / static_cast<double>(nperm),
              y.exceeded_g2 == 0);
}

}  // namespace

void run_two_cov(ActionEnv& env) {
    const Workspace& ws = env.ws();
    env.require_two_way_list(kRegressionRefusal);
    const long long nperm = read_nperm(env);
    const Matrix& data = require_landmarks(env);
    const Matrix& glist = require_groups(env, 2);
    const std::vector<double> clist = column_codes(require_covariate(env), 0);
    const Codes g1 = column_codes(glist, 0), g2 = column_codes(glist, 1);
    // A variable with a single group gives the slope tests nothing to compare.
    const int n = static_cast<int>(g1.size());
    require_testable_grouping(distinct_codes(g1), n, "The first grouping variable (column 1 of the group file)");
    require_testable_grouping(distinct_codes(g2), n, "The second grouping variable (column 2 of the group file)");
    const PreparedTable table(data, ws.dimensions);
    const double total_ss = table.total_ss();
    require_shape_variation(total_ss, table.specimens());
    Console& console = env.console();
    PermutationEngine engine(env.options(), &console);

    // Every permutation loop of the action draws from its own streams, taken
    // in the order the loops run.
    const TwoGroupCov y = two_variable_slopes_test(engine, console, table.shapes(), g1, g2, clist, nperm, engine.take_streams());
    console.echo("y", Value(y.result()));
    const CombinedCode cells = cell_codes(g1, g2, &console);
    const CovGroups cell_groups = cov_groups(cells.cell_list, clist, [&cells](double c) { return cell_name(cells, c); });
    const SlopeModels y2 = test_slope_models(engine, console, table.shapes(), cell_groups, total_ss, nperm,
                                             SlopeEcho::WithDegreesOfFreedom, engine.take_streams(kSlopeModelStreams));
    std::string stemp = concat_trimmed({cell_models_section(ws, y2, total_ss, nperm), random_term_section(y, nperm)});

    // Sections C and D: each variable alone.  The total is that of the same
    // table, so it is not computed again.
    const SlopeModels first =
        test_slope_models(engine, console, table.shapes(), cov_groups(g1, clist, first_variable_group), total_ss, nperm,
                          SlopeEcho::WithDegreesOfFreedom, engine.take_streams(kSlopeModelStreams));
    stemp = single_variable_section(stemp, kFirstVariable, first, nperm);
    const SlopeModels second =
        test_slope_models(engine, console, table.shapes(), cov_groups(g2, clist, second_variable_group), total_ss, nperm,
                          SlopeEcho::WithDegreesOfFreedom, engine.take_streams(kSlopeModelStreams));
    stemp = single_variable_section(stemp, kSecondVariable, second, nperm);
    record_slope_models(env, "G1 x G2 cells", y2, nperm);
    record_random_terms(env, y, nperm);
    record_slope_models(env, "G1", first, nperm, false);
    record_slope_models(env, "G2", second, nperm, false);
    env.set_report(stemp);
}

}  // namespace quillan
