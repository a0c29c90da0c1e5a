// "RunTwoWay": the two-group (cell) model of two grouping variables against
// each variable alone, and against models in which one of the two variables
// is replaced by a shuffled copy of itself.
#include "analyses/actions.hpp"
#include "analyses/common.hpp"
#include "analyses/engine.hpp"
#include "analyses/report.hpp"
#include "analyses/scoring.hpp"
#include "platform/format.hpp"

namespace quillan {

namespace {

struct TwoWayState {
    explicit TwoWayState(const PreparedTable& t) : scorer(t) {}
    Scorer scorer;
    CellCoder coder;
    std::vector<int> rp, rp1, rp2;
    Codes shuffled, shuffled1, shuffled2, cells1, cells2;
};

std::string sums_piece(double tssd, double explained, double unexplained, long long nperm) {
    return sprintf("\\nTotal SS=%1.4f Explained SS=%1.4f Unexplained SS=%1.4f \\nPercent Explained=%2.3f\\n using %i permutations",
                   {tssd, explained, unexplained, 100 * explained / tssd, static_cast<double>(nperm)});
}

std::string probability_piece(long long count, long long nperm) {
    return count_piece(count, nperm, "\\n\\nThe explained variance was exceeded by 0 permutations, p< %f",
                       "\\n\\nThe explained variance was exceeded by %i permutations, p= %f ");
}

}  // namespace

void run_two_way(ActionEnv& env) {
    const Workspace& ws = env.ws();
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
    const int nss = cells.specimens();
    const double unexpvar = cells.sum(), expvar = tssd - unexpvar;
    const GroupSums first = scorer.score(g1);
    notice.observed(first.single_codes, "group of the first variable");
    const double unexpvar1 = first.sum(), expvar1 = tssd - unexpvar1;
    const GroupSums second = scorer.score(g2);
    notice.observed(second.single_codes, "group of the second variable");
    const double unexpvar2 = second.sum(), expvar2 = tssd - unexpvar2;

    // Statistics of one permutation: the cells, each variable alone (all
    // shuffled by the same permutation), then the two models with one
    // variable shuffled on its own, each compared with the cell model.
    PermutationEngine engine(env);
    auto result = engine.run<TwoWayState>(
        nperm, {expvar, expvar1, expvar2, expvar, expvar}, std::vector<Exceeds>(5, Exceeds::Greater),
        [&] { return std::make_unique<TwoWayState>(table); },
        [&](TwoWayState& s, long long, Rng& rng, double* stats) {
            randperm(s.rp, nss, rng);
            randperm(s.rp1, nss, rng);
            randperm(s.rp2, nss, rng);
            permute_codes(g2, s.rp2, s.shuffled2);
            s.coder.code(g1, s.shuffled2, s.cells1);
            permute_codes(g1, s.rp1, s.shuffled1);
            s.coder.code(s.shuffled1, g2, s.cells2);
            bool single = false;
            auto explained = [&](const Codes& codes) {
                const GroupSums& p = s.scorer.score(codes);
                single = single || !p.single_codes.empty();
                return tssd - p.sum();
            };
            permute_codes(glistc, s.rp, s.shuffled);
            stats[0] = explained(s.shuffled);
            stats[3] = explained(s.cells1);
            stats[4] = explained(s.cells2);
            permute_codes(g1, s.rp, s.shuffled);
            stats[1] = explained(s.shuffled);
            permute_codes(g2, s.rp, s.shuffled);
            stats[2] = explained(s.shuffled);
            return single;
        });
    notice.permuted(result.single_groups, nperm);
    const auto& c = result.counts;

    std::string report = strcat({"In the Two Way Manova, with no Covariate", sprintf("\\n   %s \\n    %s", {ws.dfileinfo, ws.gfileinfo}),
                                 "\n\nThe two group interaction model had", sums_piece(tssd, expvar, unexpvar, nperm),
                                 probability_piece(c[0], nperm)});
    const std::string first_heading = sprintf("\\n\\nUsing only the first grouping variable  produced");
    env.console().line(first_heading);
    report = strcat({report, first_heading, sums_piece(tssd, expvar1, unexpvar1, nperm), probability_piece(c[1], nperm),
                     count_piece(c[3], nperm,
                                 "\\n\\nThe 2 Group explained variance was exceeded by 0 permutations of the 1st Group Model, p< %f that "
                                 "the 1st Group Model explains as much as the 2 Group Model",
                                 "\\n\\nThe 2 Group explained variance was exceeded by %i permutations of the 1st Group Model, p= %f "
                                 "that the 1st Group Model explains as much as the 2 Group Model")});
    const std::string second_heading = sprintf("\\n\\nUsing only the second grouping variable  produced");
    env.console().line(second_heading);
    report = strcat({report, second_heading, sums_piece(tssd, expvar2, unexpvar2, nperm), probability_piece(c[2], nperm),
                     count_piece(c[4], nperm,
                                 "\\n\\nThe 2 Group explained variance was exceeded by 0 permutations of the 2nd Group Model, p< %f that "
                                 "the 2nd Group Model explains as much as the 2 Group Model",
                                 "\\n\\nThe 2 Group explained variance was exceeded by %i permutations of the 2nd Group Model, p= %f "
                                 "that the 2nd Group Model explains as much as the 2 Group Model")});
    notice.tell(env);
    env.set_report(report);
}

}  // namespace quillan
