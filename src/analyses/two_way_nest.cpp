// "RunTwoWayNest": the second grouping variable nested within the first.  The
// subgroups are the cells of both variables, so a subgroup code need only be
// unique within its main group.  Here the specimens are shuffled among the
// fixed codes, which keeps every subgroup's size.
#include "analyses/action_env.hpp"
#include "analyses/common.hpp"
#include "analyses/degenerate.hpp"
#include "analyses/designs.hpp"
#include "analyses/permutation_engine.hpp"
#include "analyses/records.hpp"
#include "analyses/report.hpp"
#include "analyses/scoring.hpp"
#include "geometry/geometry.hpp"
#include "platform/format.hpp"

namespace quillan {

void run_two_way_nest(ActionEnv& env) {
    const Workspace& ws = env.ws();
    const double md = static_cast<double>(ws.landmarks.rows());
    const double df_unit = shape_df_per_unit(ws.landmarks.cols());
    env.require_two_way_list();
    const PreparedTable table(require_landmarks(ws));
    const double tssd = table.total_ss();
    const long long nperm = read_nperm(env);
    require_groups(ws, 2);
    const Codes g1 = column_codes(ws.groups, 0), g2 = column_codes(ws.groups, 1);
    const Codes glistc = cells_of(env.console(), g1, g2);

    require_shape_variation(tssd, table.specimens());
    Scorer scorer(table);
    SingleGroupNotice notice;
    const GroupSums sub = scorer.score(glistc);
    notice.observed(sub.single_codes, "subgroup");
    const GroupSums main = scorer.score(g1);
    require_testable_grouping(main.groups(), main.specimens(), "The main grouping variable (column 1 of the group file)");
    require_testable_grouping(sub.groups(), sub.specimens(), "The subgroups (both columns of the group file together)",
                              "subgroup");
    if (sub.groups() == main.groups())
        throw Refused(
            "Every main group holds a single subgroup, so there is no nested factor to test (its F ratio would be 0/0). "
            "There is nothing to test, so no test was run.");
    notice.observed(main.single_codes, "main group");
    const double ncells = sub.groups(), ngroups1 = main.groups();
    const int nss1 = main.specimens();

    const double SSsg = tssd - sub.sum(), SSA = tssd - main.sum(), SSasg = SSsg - SSA, eSS = sub.sum();
    const double dfA = ngroups1 - 1, dfsg = ncells - 1, dfasg = ncells - ngroups1, dfe = md - ncells;
    const double Fsg = (SSsg / dfsg) / (eSS / dfe), FA = (SSA / dfA) / (eSS / dfe), Fasg = (SSasg / dfasg) / (eSS / dfe);

    PermutationEngine engine(env.options(), &env.console());
    auto result = engine.run<ShuffleState>(
        nperm, {Fsg, FA, Fasg}, std::vector<Exceeds>(3, Exceeds::Greater), [&] { return std::make_unique<ShuffleState>(table); },
        [&](ShuffleState& s, long long, Rng& rng, double* stats) {
            // Row j of the permuted table is specimen rp1(j), under the codes
            // of position j.  Scoring the specimens in their own order under
            // the codes they receive gives the same groups of specimens, with
            // each group's rows in one canonical order, so a permutation that
            // keeps every specimen in its subgroup scores exactly the
            // observed sums instead of differing from them by rounding.
            randperm(s.rp1, nss1, rng);
            s.p1.resize(glistc.size());
            s.p2.resize(g1.size());
            for (std::size_t j = 0; j < s.rp1.size(); ++j) {
                s.p1[static_cast<std::size_t>(s.rp1[j])] = glistc[j];
                s.p2[static_cast<std::size_t>(s.rp1[j])] = g1[j];
            }
            const double peSS = s.within(s.p1);
            const double pSSA = s.explained(tssd, s.p2);
            const double pSSsg = tssd - peSS, pSSasg = pSSsg - pSSA;
            stats[0] = (pSSsg / dfsg) / (peSS / dfe);
            stats[1] = (pSSA / dfA) / (peSS / dfe);
            stats[2] = (pSSasg / dfasg) / (peSS / dfe);
            return false;  // the subgroup sizes never change
        });
    const auto& c = result.counts;

    std::string report =
        strcat({"In the Two Way Manova, Nested design, with no Covariate",
                sprintf("\\n   %s \\n    %s", {ws.landmarks_info, ws.groups_info}),
                sprintf("\\nTotal SS=%1.4f  error SS=%1.4f\\n SS(Main)=%1.4f SS(Nested)=%1.4f SS(Explained by Main+nested)=%1.4f",
                        {tssd, eSS, SSA, SSasg, SSsg}),
                sprintf("\\n\\nFor Total Explained (Main+Nested), F=%2.3f df1(numerator) %i df2(denominator) %i",
                        {Fsg, dfsg * df_unit, dfe * df_unit}),
                count_piece(c[0], nperm, "\\n\\nThe observed F for Main+Nested  was exceeded by 0 permutations, p< %f",
                            "\\n\\nThe observed F for Main+Nested was exceeded by %i permutations, p= %f ")});
    report = strcat({report,
                     sprintf("\\n\\nFor the Main Factor, F=%2.3f df1(numerator): %i df2(denominator): %i",
                             {FA, dfA * df_unit, dfe * df_unit}),
                     count_piece(c[1], nperm, "\\n\\nThe observed F for the Main Factor was exceeded by 0 permutations, p< %f",
                                 "\\n\\nThe observed F for the Main factor  was exceeded by %i permutations, p= %f ")});
    report = strcat({report,
                     sprintf("\\n\\nFor the Nested Factor, F=%2.3f df1(numerator) %i df2(denominator) %i",
                             {Fasg, dfasg * df_unit, dfe * df_unit}),
                     count_piece(c[2], nperm, "\\n\\nThe Observed Nested F was exceeded by 0 permutations, p< %f",
                                 "\\n\\nThe Observed Nested F was exceeded by %i permutations, p= %f ")});
    notice.tell(env);
    ResultRecord& rec = env.record();
    rec.model("main + nested")
        .set("total_ss", tssd)
        .set("error_ss", eSS)
        .set("ss", SSsg)
        .set("F", Fsg)
        .set("df1", dfsg * df_unit)
        .set("df2", dfe * df_unit)
        .test("F", Fsg, c[0], result.counts_ge[0], nperm);
    rec.model("main (G1)")
        .set("ss", SSA)
        .set("F", FA)
        .set("df1", dfA * df_unit)
        .set("df2", dfe * df_unit)
        .test("F", FA, c[1], result.counts_ge[1], nperm);
    rec.model("nested (G2 within G1)")
        .set("ss", SSasg)
        .set("F", Fasg)
        .set("df1", dfasg * df_unit)
        .set("df2", dfe * df_unit)
        .test("F", Fasg, c[2], result.counts_ge[2], nperm);
    env.set_report(report);
}

}  // namespace quillan
