// One-way tests: does one grouping variable explain a significant part of the
// shape variation?  "RunOneWay" uses the explained sum of squares as its
// statistic, "RunOneWayF" the F ratio; both shuffle the group codes among the
// specimens.
#include "analyses/action_env.hpp"
#include "analyses/analyses.hpp"
#include "analyses/group_tests/designs.hpp"
#include "analyses/records.hpp"
#include "analyses/report.hpp"
#include "geometry/geometry.hpp"
#include "platform/format.hpp"

namespace quillan {

namespace {

struct OneWayRun {
    double total_ss = 0;
    long long nperm = 0;
    OneWayResult r;
};

// Both one-way tests: the total comes before the design is tested.
OneWayRun run_design(ActionEnv& env, bool f_test) {
    const Workspace& ws = env.ws();
    const Eigen::Index n = ws.groups.cols();
    const double md = static_cast<double>(ws.landmarks.rows());
    const PreparedTable table(require_landmarks(env), ws.dimensions);
    OneWayRun run;
    run.total_ss = table.total_ss();
    run.nperm = read_nperm(env);
    if (n > 1) throw Refused(kOneWayRefusal);
    const Codes codes = column_codes(require_groups(env), 0);
    run.r = one_way_test(env.options(), env.console(), table, run.total_ss, codes, run.nperm, f_test, md);
    run.r.notice.tell(env);
    return run;
}

std::string sums_piece(const OneWayRun& run) {
    return format_expand_reuse("\\n\\n\\nTotal SS=%1.4f Explained SS=%1.4f Unexplained SS=%1.4f \\nPercent Explained =%2.3f\\n",
                               {run.total_ss, run.r.expvar, run.r.unexpvar, 100 * run.r.expvar / run.total_ss});
}

}  // namespace

void run_one_way(ActionEnv& env) {
    const OneWayRun run = run_design(env, false);
    const Workspace& ws = env.ws();
    record_one_way(env, run.r, run.total_ss, run.nperm);
    env.set_report(concat_trimmed({
        "The Results of a One-Way Classification",
        format_expand_reuse("\\n\\n   %s \\n    %s", {ws.landmarks_info, ws.groups_info}),
        one_way_groups_piece(env, run.r.groups),
        sums_piece(run),
        count_piece(run.r.exceeded, run.nperm, "\\n\\nThe explained variance was exceeded by 0 permutations out of %i, p< %f",
                    "\\n\\nThe explained variance was exceeded by %i permutations out of %i, p= %f ", true),
    }));
}

void run_one_way_f(ActionEnv& env) {
    const OneWayRun run = run_design(env, true);
    const Workspace& ws = env.ws();
    const double md = static_cast<double>(ws.landmarks.rows()), df_unit = shape_df_per_unit(ws.landmarks.cols(), ws.dimensions);
    const double ng = run.r.groups;
    record_one_way_f(env, run.r, run.total_ss, run.nperm, (ng - 1) * df_unit, (md - ng) * df_unit);
    env.set_report(concat_trimmed({
        "The Results of a One-Way Classification, using F-tests",
        format_expand_reuse("\\n\\n   %s \\n    %s", {ws.landmarks_info, ws.groups_info}),
        one_way_groups_piece(env, run.r.groups),
        sums_piece(run),
        f_piece(run.r.observed_f, (ng - 1) * df_unit, (md - ng) * df_unit),
        observed_f_count_piece(run.r.exceeded, run.nperm),
    }));
}

}  // namespace quillan
