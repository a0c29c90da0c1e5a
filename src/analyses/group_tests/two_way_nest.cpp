// "RunTwoWayNest": the second grouping variable nested within the first.  The
// subgroups are the cells of both variables, so a subgroup code need only be
// unique within its main group.  The test itself is nested_test (designs).
#include "analyses/action_env.hpp"
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/group_tests/designs.hpp"
#include "analyses/records.hpp"
#include "analyses/report.hpp"
#include "geometry/geometry.hpp"
#include "platform/format.hpp"

namespace quillan {

namespace {

std::string nested_report(const Workspace& ws, const FTable& r, double total_ss, double df_unit, long long nperm) {
    std::string report = concat_trimmed(
        {"In the Two Way Manova, Nested design, with no Covariate",
         format_expand_reuse("\\n   %s \\n    %s", {ws.landmarks_info, ws.groups_info}),
         format_expand_reuse(
             "\\nTotal SS=%1.4f  error SS=%1.4f\\n SS(Main)=%1.4f SS(Nested)=%1.4f SS(Explained by Main+nested)=%1.4f",
             {total_ss, r.error_ss, r.terms[kMain].ss, r.terms[kNested].ss, r.terms[kMainAndNested].ss}),
         format_expand_reuse("\\n\\nFor Total Explained (Main+Nested), F=%2.3f df1(numerator) %i df2(denominator) %i",
                             {r.terms[kMainAndNested].F, r.terms[kMainAndNested].df * df_unit, r.error_df * df_unit}),
         count_piece(r.terms[kMainAndNested].exceeded, nperm,
                     "\\n\\nThe observed F for Main+Nested  was exceeded by 0 permutations, p< %f",
                     "\\n\\nThe observed F for Main+Nested was exceeded by %i permutations, p= %f ")});
    report = concat_trimmed({report,
                             format_expand_reuse("\\n\\nFor the Main Factor, F=%2.3f df1(numerator): %i df2(denominator): %i",
                                                 {r.terms[kMain].F, r.terms[kMain].df * df_unit, r.error_df * df_unit}),
                             count_piece(r.terms[kMain].exceeded, nperm,
                                         "\\n\\nThe observed F for the Main Factor was exceeded by 0 permutations, p< %f",
                                         "\\n\\nThe observed F for the Main factor  was exceeded by %i permutations, p= %f ")});
    return concat_trimmed(
        {report,
         format_expand_reuse("\\n\\nFor the Nested Factor, F=%2.3f df1(numerator) %i df2(denominator) %i",
                             {r.terms[kNested].F, r.terms[kNested].df * df_unit, r.error_df * df_unit}),
         count_piece(r.terms[kNested].exceeded, nperm, "\\n\\nThe Observed Nested F was exceeded by 0 permutations, p< %f",
                     "\\n\\nThe Observed Nested F was exceeded by %i permutations, p= %f ")});
}

}  // namespace

void run_two_way_nest(ActionEnv& env) {
    const Workspace& ws = env.ws();
    const double md = static_cast<double>(ws.landmarks.rows());
    const double df_unit = shape_df_per_unit(ws.landmarks.cols(), ws.dimensions);
    env.require_two_way_list();
    const PreparedTable table(require_landmarks(env), ws.dimensions);
    const double total_ss = table.total_ss();
    const long long nperm = read_nperm(env);
    require_groups(env, 2);
    const FTable r = nested_test(env.options(), env.console(), table, total_ss, column_codes(ws.groups, 0),
                                 column_codes(ws.groups, 1), nperm, md);
    r.notice.tell(env);
    record_nested(env, r, total_ss, df_unit, nperm);
    env.set_report(nested_report(ws, r, total_ss, df_unit, nperm));
    tell_nested_error_df(env, r, df_unit);
}

}  // namespace quillan
