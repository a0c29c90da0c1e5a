// "RunTwoWay": the two-group (cell) model of two grouping variables against
// each variable alone, and against models in which one of the two variables
// is replaced by a shuffled copy of itself.
#include "analyses/action_env.hpp"
#include "analyses/analyses.hpp"
#include "analyses/group_tests/designs.hpp"
#include "analyses/records.hpp"
#include "analyses/report.hpp"
#include "platform/format.hpp"

namespace quillan {

namespace {

std::string sums_piece(double total_ss, double explained, double unexplained, long long nperm) {
    return format_expand_reuse(
        "\\nTotal SS=%1.4f Explained SS=%1.4f Unexplained SS=%1.4f \\nPercent Explained=%2.3f\\n using %i permutations",
        {total_ss, explained, unexplained, 100 * explained / total_ss, static_cast<double>(nperm)});
}

}  // namespace

void run_two_way(ActionEnv& env) {
    const Workspace& ws = env.ws();
    env.require_two_way_list();
    const PreparedTable table(require_landmarks(env), ws.dimensions);
    const double total_ss = table.total_ss();
    const long long nperm = read_nperm(env);
    require_groups(env, 2);
    const TwoWayResult r = two_way_test(env.options(), env.console(), table, total_ss, column_codes(ws.groups, 0),
                                        column_codes(ws.groups, 1), nperm, false);
    r.notice.tell(env);

    std::string report =
        concat_trimmed({"In the Two Way Manova, with no Covariate",
                        format_expand_reuse("\\n   %s \\n    %s", {ws.landmarks_info, ws.groups_info}),
                        format_expand_reuse("\\n\\nThe two group interaction model had"),
                        sums_piece(total_ss, r.expvar, r.unexpvar, nperm), explained_count_piece(r.exceeded_cells, nperm)});
    const std::string first_heading = format_expand_reuse("\\n\\nUsing only the first grouping variable  produced");
    env.console().line(first_heading);
    report = concat_trimmed({report, first_heading, sums_piece(total_ss, r.expvar1, r.unexpvar1, nperm),
                             explained_count_piece(r.exceeded_g1, nperm), first_model_piece(r.exceeded_g2_shuffled, nperm)});
    const std::string second_heading = format_expand_reuse("\\n\\nUsing only the second grouping variable  produced");
    env.console().line(second_heading);
    report = concat_trimmed({report, second_heading, sums_piece(total_ss, r.expvar2, r.unexpvar2, nperm),
                             explained_count_piece(r.exceeded_g2, nperm), second_model_piece(r.exceeded_g1_shuffled, nperm)});
    record_two_way(env, r, total_ss, nperm);
    env.set_report(report);
}

}  // namespace quillan
