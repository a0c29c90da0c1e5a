// "RunTwoWayF": the two grouping variables as a crossed design, split like a
// two-way analysis of variance into the parts of each variable, their
// interaction and the within-cell error, each tested by an F ratio whose
// significance comes from shuffling both variables independently.
#include "analyses/actions.hpp"
#include "analyses/common.hpp"
#include "analyses/engine.hpp"
#include "analyses/report.hpp"
#include "analyses/scoring.hpp"
#include "platform/format.hpp"

namespace quillan {

namespace {

struct TwoWayFState {
    explicit TwoWayFState(const PreparedTable& t) : scorer(t) {}
    Scorer scorer;
    CellCoder coder;
    std::vector<int> rp1, rp2;
    Codes p1, p2, cells;
};

}  // namespace

void run_two_way_f(ActionEnv& env) {
    const Workspace& ws = env.ws();
    const double md = static_cast<double>(ws.data.rows()), nd = static_cast<double>(ws.data.cols());
    const double nlm = nd - 5;
    env.require_two_way_list();
    const PreparedTable table(require_landmarks(ws));
    const double tssd = table.total_ss();
    const long long nperm = read_nperm(env);
    require_groups(ws, 2);
    const Codes g1 = column_codes(ws.glist, 0), g2 = column_codes(ws.glist, 1);
    CellCoder coder;
    Codes glistc;
    coder.code(g1, g2, glistc);
    env.console().echo("ccount", coder.cells());

    Scorer scorer(table);
    SingleGroupNotice notice;
    const GroupSums cells = scorer.score(glistc);
    notice.observed(cells.single_codes, "cell");
    const GroupSums first = scorer.score(g1);
    notice.observed(first.single_codes, "group of the first variable");
    const GroupSums second = scorer.score(g2);
    notice.observed(second.single_codes, "group of the second variable");
    const int nss1 = first.specimens(), nss2 = second.specimens();
    const double ng1 = first.groups(), ng2 = second.groups();

    const double SSA = tssd - first.sum(), SSB = tssd - second.sum(), eSS = cells.sum();
    const double SSAB = (tssd - eSS) - SSA - SSB;
    const double dfA = ng1 - 1, dfB = ng2 - 1, dfAB = dfA * dfB, dfe = md - dfA * dfB;
    const double FA = (SSA / dfA) / (eSS / dfe), FB = (SSB / dfB) / (eSS / dfe), FAB = (SSAB / dfAB) / (eSS / dfe);

    PermutationEngine engine(env);
    auto result = engine.run<TwoWayFState>(
        nperm, {FA, FB, FAB}, std::vector<Exceeds>(3, Exceeds::Greater), [&] { return std::make_unique<TwoWayFState>(table); },
        [&](TwoWayFState& s, long long, Rng& rng, double* stats) {
            randperm(s.rp1, nss1, rng);
            permute_codes(g1, s.rp1, s.p1);
            randperm(s.rp2, nss2, rng);
            permute_codes(g2, s.rp2, s.p2);
            s.coder.code(s.p1, s.p2, s.cells);
            bool single = false;
            auto within = [&](const Codes& codes) {
                const GroupSums& p = s.scorer.score(codes);
                single = single || !p.single_codes.empty();
                return p.sum();
            };
            const double peSS = within(s.cells);
            const double pSSA = tssd - within(s.p1);
            const double pSSB = tssd - within(s.p2);
            const double pSSAB = (tssd - peSS) - pSSA - pSSB;
            stats[0] = (pSSA / dfA) / (peSS / dfe);
            stats[1] = (pSSB / dfB) / (peSS / dfe);
            stats[2] = (pSSAB / dfAB) / (peSS / dfe);
            return single;
        });
    notice.permuted(result.single_groups, nperm);
    const auto& c = result.counts;
    const char* explained_zero = "\\n\\nThe explained variance was exceeded by 0 permutations, p< %f";
    const char* explained_some = "\\n\\nThe explained variance was exceeded by %i permutations, p= %f ";

    std::string report = strcat(
        {"In the Two Way Manova, with no Covariate", sprintf("\\n   %s \\n    %s", {ws.dfileinfo, ws.gfileinfo}),
         sprintf("\\n\\nThe two group interaction model had\\n"),
         sprintf("\\nTotal SS=%1.4f Cell SS=%1.4f error SS=%1.4f\\n SS1=%1.4f SS2=%1.4f SS1x2=%1.4f", {tssd, tssd - eSS, eSS, SSA, SSB, SSAB}),
         sprintf("\\n\\nFor Group1, F=%2.3f df1(numerator) %i df2(denominator) %i", {FA, dfA * nlm, dfe * nlm}),
         count_piece(c[0], nperm, "\\n\\nThe observed F for group1  was exceeded by 0 permutations, p< %f",
                     "\\n\\nThe observed F for group 1 was exceeded by %i permutations, p= %f ")});
    report = strcat({report, sprintf("\\n\\nFor Group2, F=%2.3f df1(numerator): %i df2(denominator): %i", {FB, dfB * nlm, dfe * nlm}),
                     count_piece(c[1], nperm, explained_zero, explained_some)});
    report = strcat({report, sprintf("\\n\\nFor Group1x2 interaction, F=%2.3f df1(numerator) %i df2(denominator) %i", {FAB, dfAB * nlm, dfe * nlm}),
                     count_piece(c[2], nperm, explained_zero, explained_some)});
    notice.tell(env);
    env.set_report(report);
}

}  // namespace quillan
