// Two-way tests after the covariate's straight-line effect on shape has been
// removed: "RunTwoStand" (the cell model against each variable alone and
// against one-variable-shuffled models) and "RunTwoStandF" (F ratios with
// the error degrees of freedom reduced by the lines fitted).
#include "analyses/action_env.hpp"
#include "analyses/analyses.hpp"
#include "analyses/covariates/covariate.hpp"
#include "analyses/degenerate.hpp"
#include "analyses/group_tests/designs.hpp"
#include "analyses/records.hpp"
#include "analyses/report.hpp"
#include "geometry/geometry.hpp"
#include "platform/format.hpp"

namespace quillan {

namespace {

std::string sums_piece(double total_ss, double explained, double unexplained) {
    return format_expand_reuse(
        "\\n\\nTotal SS after Standardization = %1.4f \\nExplained SS=%1.4f Unexplained SS=%1.4f\\n Percent Explained =%2.4f",
        {total_ss, explained, unexplained, 100 * explained / total_ss});
}

}  // namespace

void run_two_stand(ActionEnv& env) {
    const Workspace& ws = env.ws();
    const CovariateChoice model_choice = env.params().covariate.get();
    const double svalue = standardisation_value(ws);
    const CovariateModel model = apply_covariate_model(ws, env.words(), env.console(), model_choice, svalue, true);
    env.require_two_way_list();
    const PreparedTable data(require_landmarks(env), ws.dimensions), xdata(model.xdata, ws.dimensions);
    const StandardisationTotals totals = compare_totals(data, xdata);
    const long long nperm = read_nperm(env);
    require_groups(env, 2);
    const double total_ss = totals.total_ss;
    const TwoWayResult r = two_way_test(env.options(), env.console(), xdata, total_ss, column_codes(ws.groups, 0),
                                        column_codes(ws.groups, 1), nperm, true);
    r.notice.tell(env);

    std::string report = concat_trimmed(
        {"In the Two Way Manova",
         format_expand_reuse("\\n   %s \\n    %s \\n   %s", {ws.landmarks_info, ws.groups_info, ws.covariate_info}), model.line,
         totals.prior_line,
         format_expand_reuse("\\n\\nUsing both grouping variables (G1 x G2) with %i distinct groups produced", {r.ncells}),
         sums_piece(total_ss, r.expvar, r.unexpvar), explained_count_piece(r.exceeded_cells, nperm)});
    report = concat_trimmed(
        {report,
         format_expand_reuse("\\n\\nUsing only the first grouping variable (G1 x Covariate) with %i distinct groups produced",
                             {r.ngroups1}),
         sums_piece(total_ss, r.expvar1, r.unexpvar1), explained_count_piece(r.exceeded_g1, nperm),
         first_model_piece(r.exceeded_g2_shuffled, nperm)});
    report = concat_trimmed(
        {report,
         format_expand_reuse("\\n\\nUsing only the second grouping variable (G2 x Covariate) with %i distinct groups produced",
                             {r.ngroups2}),
         sums_piece(total_ss, r.expvar2, r.unexpvar2), explained_count_piece(r.exceeded_g2, nperm),
         second_model_piece(r.exceeded_g1_shuffled, nperm)});
    record_standardisation(env, totals);
    record_two_way(env, r, total_ss, nperm);
    env.set_report(report);
}

void run_two_stand_f(ActionEnv& env) {
    const Workspace& ws = env.ws();
    const CovariateChoice model_choice = env.params().covariate.get();
    const double svalue = standardisation_value(ws);
    const double df_unit = shape_df_per_unit(ws.landmarks.cols(), ws.dimensions);
    const CovariateModel model = apply_covariate_model(ws, env.words(), env.console(), model_choice, svalue, true);
    env.require_two_way_list();
    const PreparedTable xdata(model.xdata, ws.dimensions);
    const double total_ss = xdata.total_ss();
    require_shape_variation(PreparedTable(ws.landmarks, ws.dimensions).total_ss(), xdata.specimens());
    const long long nperm = read_nperm(env);
    require_groups(env, 2);
    const double md = static_cast<double>(ws.landmarks.rows());
    const FTable r = two_way_f_test(env.options(), env.console(), xdata, total_ss, column_codes(ws.groups, 0),
                                    column_codes(ws.groups, 1), nperm, md, model.edf_red);
    r.notice.tell(env);
    warn_error_df(env, r.error_df);
    record_lost_df(env, model.edf_red * df_unit);
    record_two_way_f(env, r, total_ss, df_unit, nperm);

    const std::string head =
        concat_trimmed({"In the Two Way Manova, with effects of Covariate Removed",
                        format_expand_reuse("\\n\\nNote the loss of %i df due to removal of variance using the regression model",
                                            {model.edf_red * df_unit}),
                        format_expand_reuse("\\n\\n   %s \\n    %s", {ws.landmarks_info, ws.groups_info}), model.line});
    env.set_report(two_way_f_report(head, r, total_ss, df_unit, nperm,
                                    "\\n\\nFor Group 1x2 interaction, F=%2.3f df1(numerator) %i df2(denominator) %i"));
}

}  // namespace quillan
