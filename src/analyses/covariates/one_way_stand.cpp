// One-way tests after the covariate's straight-line effect on shape has been
// removed: "RunOneStand" (explained sum) and "RunOneStandF" (F ratio with
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

void run_one_stand(ActionEnv& env) {
    const Workspace& ws = env.ws();
    const CovariateChoice model_choice = env.params().covariate.get();
    const double svalue = standardisation_value(ws);
    const CovariateModel model = apply_covariate_model(ws, env.words(), env.console(), model_choice, svalue, false);
    const PreparedTable data(require_landmarks(env), ws.dimensions), xdata(model.xdata, ws.dimensions);
    const StandardisationTotals totals = compare_totals(data, xdata);
    const long long nperm = read_nperm(env);
    env.require_one_way_list();
    const Codes codes = column_codes(require_groups(env), 0);
    const OneWayResult r = one_way_test(env.options(), env.console(), xdata, totals.total_ss, codes, nperm, false);
    r.notice.tell(env);
    record_standardisation(env, totals);
    record_one_way(env, r, totals.total_ss, nperm);

    env.set_report(concat_trimmed({
        "The Results of a One-Way Classification, after standardization",
        format_expand_reuse("\\n   %s \\n    %s \\n   %s", {ws.landmarks_info, ws.groups_info, ws.covariate_info}),
        model.line,
        totals.prior_line,
        format_expand_reuse(
            "\\n\\nTotal SS after Standardization = %1.4f \\nExplained SS=%1.4f Unexplained SS=%1.4f\\n Percent Explained =%2.4f",
            {totals.total_ss, r.expvar, r.unexpvar, 100 * r.expvar / totals.total_ss}),
        explained_count_piece(r.exceeded, nperm),
    }));
}

void run_one_stand_f(ActionEnv& env) {
    const Workspace& ws = env.ws();
    const CovariateChoice model_choice = env.params().covariate.get();
    const double svalue = standardisation_value(ws);
    const CovariateModel model = apply_covariate_model(ws, env.words(), env.console(), model_choice, svalue, false);
    const PreparedTable xdata(model.xdata, ws.dimensions);
    const double total_ss = xdata.total_ss();
    require_shape_variation(PreparedTable(ws.landmarks, ws.dimensions).total_ss(), xdata.specimens());
    const long long nperm = read_nperm(env);
    env.require_one_way_list();
    const Codes codes = column_codes(require_groups(env), 0);
    const double md = static_cast<double>(ws.landmarks.rows()), nd = static_cast<double>(ws.landmarks.cols());
    const double df_unit = shape_df_per_unit(ws.landmarks.cols(), ws.dimensions);
    const OneWayResult r = one_way_test(env.options(), env.console(), xdata, total_ss, codes, nperm, true, md, model.edf_red);
    r.notice.tell(env);
    Console& console = env.console();
    console.echo("md", md);
    console.echo("nd", nd);
    console.echo("edf_red", model.edf_red);
    Matrix sizes(1, static_cast<Eigen::Index>(r.ssize.size()));
    for (std::size_t i = 0; i < r.ssize.size(); ++i) sizes(0, static_cast<Eigen::Index>(i)) = r.ssize[i];
    console.echo("ssize", Value(sizes));
    console.echo("expvar", r.expvar);
    console.echo("unexpvar", r.unexpvar);

    const double ncodes = r.groups;
    const double dfe = md - ncodes - model.edf_red;
    warn_error_df(env, dfe);
    record_lost_df(env, model.edf_red * df_unit);
    record_one_way_f(env, r, total_ss, nperm, (ncodes - 1) * df_unit, dfe * df_unit, false);
    env.set_report(concat_trimmed({
        "The Results of a One-Way Classification, after removal of covariate effects using F-tests",
        format_expand_reuse(
            "\\n\\nNote loss of %i degrees of freedom due to use of the regression model to remove variation in shape associated "
            "with the covariate",
            {model.edf_red * df_unit}),
        format_expand_reuse("\\n\\n   %s \\n    %s", {ws.landmarks_info, ws.groups_info}),
        model.line,
        one_way_groups_piece(env, r.groups),
        f_piece(r.observed_f, (ncodes - 1) * df_unit, dfe * df_unit),
        observed_f_count_piece(r.exceeded, nperm),
    }));
}

}  // namespace quillan
