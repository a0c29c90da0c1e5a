// One-way tests: does one grouping variable explain a significant part of the
// shape variation?  "RunOneWay" uses the explained sum of squares as its
// statistic, "RunOneWayF" the F ratio; both shuffle the group codes among the
// specimens.
#include "analyses/actions.hpp"
#include "analyses/common.hpp"
#include "analyses/engine.hpp"
#include "analyses/report.hpp"
#include "analyses/scoring.hpp"
#include "platform/format.hpp"

namespace quillan {

namespace {

struct OneWayState {
    explicit OneWayState(const PreparedTable& t) : scorer(t) {}
    Scorer scorer;
    std::vector<int> rp;
    Codes shuffled;
};

struct OneWayRun {
    double tssd = 0, expvar = 0, unexpvar = 0, stat = 0;
    int ng = 0, md = 0, nd = 0;
    long long nperm = 0, exc = 0;
};

// The steps both one-way tests share: the total before the design is tested,
// the observed grouping, then the shuffles.  `f_test` picks the statistic.
OneWayRun run_one_way_design(ActionEnv& env, bool f_test) {
    const Workspace& ws = env.ws();
    const Eigen::Index n = ws.glist.cols();
    OneWayRun r;
    r.md = static_cast<int>(ws.data.rows());
    r.nd = static_cast<int>(ws.data.cols());
    const PreparedTable table(require_landmarks(ws));
    r.tssd = table.total_ss();
    r.nperm = read_nperm(env);
    if (n > 1) throw Refused(kOneWayRefusal);
    const Codes codes = column_codes(require_groups(ws), 0);

    Scorer scorer(table);
    const GroupSums observed = scorer.score(codes);
    SingleGroupNotice notice;
    notice.observed(observed.single_codes);
    r.ng = observed.groups();
    const int nss = observed.specimens();
    r.unexpvar = observed.sum();
    r.expvar = r.tssd - r.unexpvar;
    const double k1 = r.ng - 1, k2 = r.md - r.ng;
    r.stat = f_test ? (r.expvar / k1) / (r.unexpvar / k2) : r.expvar;

    PermutationEngine engine(env);
    const double tssd = r.tssd;
    auto result = engine.run<OneWayState>(
        r.nperm, {r.stat}, {Exceeds::Greater}, [&] { return std::make_unique<OneWayState>(table); },
        [&](OneWayState& s, long long, Rng& rng, double* stats) {
            randperm(s.rp, nss, rng);
            permute_codes(codes, s.rp, s.shuffled);
            const GroupSums& p = s.scorer.score(s.shuffled);
            const double pexpvar = tssd - p.sum();
            stats[0] = f_test ? (pexpvar / k1) / (p.sum() / k2) : pexpvar;
            return !p.single_codes.empty();
        });
    r.exc = result.counts[0];
    notice.tell(env);
    return r;
}

std::string groups_piece(ActionEnv& env, int ng) {
    const std::string piece = sprintf("\\n\\nA single classifying variable with %i groups was used", {ng});
    env.console().line(piece);
    return piece;
}

std::string sums_piece(const OneWayRun& r) {
    return sprintf("\\n\\n\\nTotal SS=%1.4f Explained SS=%1.4f Unexplained SS=%1.4f \\nPercent Explained =%2.3f\\n",
                   {r.tssd, r.expvar, r.unexpvar, 100 * r.expvar / r.tssd});
}

}  // namespace

void run_one_way(ActionEnv& env) {
    const OneWayRun r = run_one_way_design(env, false);
    const Workspace& ws = env.ws();
    env.set_report(strcat({
        "The Results of a One-Way Classification",
        sprintf("\\n\\n   %s \\n    %s", {ws.dfileinfo, ws.gfileinfo}),
        groups_piece(env, r.ng),
        sums_piece(r),
        count_piece(r.exc, r.nperm, "\\n\\nThe explained variance was exceeded by 0 permutations out of %i, p< %f",
                    "\\n\\nThe explained variance was exceeded by %i permutations out of %i, p= %f ", true),
    }));
}

void run_one_way_f(ActionEnv& env) {
    const OneWayRun r = run_one_way_design(env, true);
    const Workspace& ws = env.ws();
    const double df1 = (r.ng - 1.0) * (r.nd - 5.0), df2 = (static_cast<double>(r.md) - r.ng) * (r.nd - 5.0);
    env.set_report(strcat({
        "The Results of a One-Way Classification, using F-tests",
        sprintf("\\n\\n   %s \\n    %s", {ws.dfileinfo, ws.gfileinfo}),
        groups_piece(env, r.ng),
        sums_piece(r),
        sprintf("\\n\\nF=%2.4f, df1 (numerator)=%1.4f, df2(denominator)=%1.4f", {r.stat, df1, df2}),
        count_piece(r.exc, r.nperm, "\\n\\nThe observed F was exceeded by 0 permutations out of %i, p< %f",
                    "\\n\\nThe observed F was exceeded by %i permutations out of %i, p= %f ", true),
    }));
}

}  // namespace quillan
