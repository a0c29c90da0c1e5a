// "RunTwoWayF": the two grouping variables as a crossed design, split like a
// two-way analysis of variance into the parts of each variable, their
// interaction and the within-cell error, each tested by an F ratio whose
// significance comes from shuffling both variables independently.
#include "analyses/action_env.hpp"
#include "analyses/analyses.hpp"
#include "analyses/group_tests/designs.hpp"
#include "analyses/records.hpp"
#include "analyses/report.hpp"
#include "geometry/geometry.hpp"
#include "platform/format.hpp"

namespace quillan {

void run_two_way_f(ActionEnv& env) {
    const Workspace& ws = env.ws();
    const double md = static_cast<double>(ws.landmarks.rows()), df_unit = shape_df_per_unit(ws.landmarks.cols(), ws.dimensions);
    env.require_two_way_list();
    const PreparedTable table(require_landmarks(env), ws.dimensions);
    const double total_ss = table.total_ss();
    const long long nperm = read_nperm(env);
    require_groups(env, 2);
    const FTable r = two_way_f_test(env.options(), env.console(), table, total_ss, column_codes(ws.groups, 0),
                                    column_codes(ws.groups, 1), nperm, md, 0);
    r.notice.tell(env);

    record_two_way_f(env, r, total_ss, df_unit, nperm);
    const std::string head = concat_trimmed({"In the Two Way Manova, with no Covariate",
                                             format_expand_reuse("\\n   %s \\n    %s", {ws.landmarks_info, ws.groups_info})});
    env.set_report(two_way_f_report(head, r, total_ss, df_unit, nperm,
                                    "\\n\\nFor Group1x2 interaction, F=%2.3f df1(numerator) %i df2(denominator) %i"));
    tell_two_way_error_df(env, r, md, df_unit);
}

std::string two_way_f_report(const std::string& head, const FTable& r, double total_ss, double df_unit, long long nperm,
                             const char* interaction_format) {
    std::string report = concat_trimmed(
        {head, format_expand_reuse("\\n\\nThe two group interaction model had\\n"),
         format_expand_reuse(
             "\\nTotal SS=%1.4f Cell SS=%1.4f error SS=%1.4f\\n SS1=%1.4f SS2=%1.4f SS1x2=%1.4f",
             {total_ss, total_ss - r.error_ss, r.error_ss, r.terms[kTermA].ss, r.terms[kTermB].ss, r.terms[kTermAB].ss}),
         format_expand_reuse("\\n\\nFor Group1, F=%2.3f df1(numerator) %i df2(denominator) %i",
                             {r.terms[kTermA].F, r.terms[kTermA].df * df_unit, r.error_df * df_unit}),
         count_piece(r.terms[kTermA].exceeded, nperm, "\\n\\nThe observed F for group1  was exceeded by 0 permutations, p< %f",
                     "\\n\\nThe observed F for group 1 was exceeded by %i permutations, p= %f ")});
    report = concat_trimmed({report,
                             format_expand_reuse("\\n\\nFor Group2, F=%2.3f df1(numerator): %i df2(denominator): %i",
                                                 {r.terms[kTermB].F, r.terms[kTermB].df * df_unit, r.error_df * df_unit}),
                             explained_count_piece(r.terms[kTermB].exceeded, nperm)});
    return concat_trimmed(
        {report,
         format_expand_reuse(interaction_format, {r.terms[kTermAB].F, r.terms[kTermAB].df * df_unit, r.error_df * df_unit}),
         explained_count_piece(r.terms[kTermAB].exceeded, nperm)});
}

}  // namespace quillan
