#include "analyses/group_tests/designs.hpp"

#include "analyses/degenerate.hpp"
#include "analyses/permutation_engine.hpp"
#include "platform/format.hpp"

namespace quillan {

void warn_error_df(ActionEnv& env, double dfe) {
    if (dfe > 0) return;
    env.message(format_expand_reuse(
                    "The error degrees of freedom are %i: there are too few specimens for the groups and regression lines "
                    "fitted, so the F ratios are undefined and their permutation probabilities mean nothing.",
                    {dfe}),
                "Too few specimens");
}

void tell_two_way_error_df(ActionEnv& env, const FTable& r, double md, double df_unit) {
    env.message(
        format_expand_reuse("The F ratios of this test are taken over an error of %i df: the specimens less dfA x dfB, not less "
                            "the %i cells, which leave the crossed design's error %i df. For the crossed design's F "
                            "ratios run model with the formula G1 * G2 (the Models tab).",
                            {r.error_df * df_unit, r.cells, (md - r.cells) * df_unit}),
        kErrorTermTitle);
}

void tell_nested_error_df(ActionEnv& env, const FTable& r, double df_unit) {
    env.message(
        format_expand_reuse("The Main Factor's F of this test is taken over the error within the subgroups (%i df), not over "
                            "the nested factor. For the nested design's own error term run model with the formula "
                            "G1 / G2 and --error G1:G2,Residuals (the Models tab's Error terms).",
                            {r.error_df * df_unit}),
        kErrorTermTitle);
}

namespace {

// Both variables need two groups or more, and the cells may not hold one
// specimen each.
void require_two_way_testable(Scorer& scorer, const GroupSums& cells, const Codes& g1, const Codes& g2) {
    const int n = cells.specimens();
    require_testable_grouping(scorer.score(g1).groups(), n, "The first grouping variable (column 1 of the group file)");
    require_testable_grouping(scorer.score(g2).groups(), n, "The second grouping variable (column 2 of the group file)");
    require_testable_grouping(cells.groups(), n, "The two grouping variables together", "cell");
}

}  // namespace

Codes cells_of(Console& console, const Codes& g1, const Codes& g2) {
    CellCoder coder;
    Codes cells;
    coder.code(g1, g2, cells);
    console.echo("ccount", coder.cells());
    return cells;
}

OneWayResult one_way_test(const RunOptions& options, Console& console, const PreparedTable& table, double total_ss,
                          const Codes& codes, long long nperm, bool f_test, double md, double edf_red) {
    require_shape_variation(total_ss, table.specimens());
    Scorer scorer(table);
    const GroupSums observed = scorer.score(codes);
    require_testable_grouping(observed.groups(), observed.specimens(), "The group file");
    SingleGroupNotice notice;
    notice.observed(observed.single_codes);
    OneWayResult r;
    r.groups = observed.groups();
    r.ssize = observed.ssize;
    r.unexpvar = observed.sum();
    r.expvar = total_ss - r.unexpvar;
    const double k1 = r.groups - 1.0, k2 = md - r.groups - edf_red;
    r.observed_f = (r.expvar / k1) / (r.unexpvar / k2);
    const int nss = observed.specimens();

    PermutationEngine engine(options, &console);
    auto result = engine.run<ShuffleState>(
        nperm, {f_test ? r.observed_f : r.expvar}, {Exceeds::Greater}, [&] { return std::make_unique<ShuffleState>(table); },
        [&](ShuffleState& s, long long, Rng& rng, double* stats) {
            s.single = false;
            randperm(s.rp, nss, rng);
            permute_codes(codes, s.rp, s.shuffled);
            const double punexpvar = s.within(s.shuffled), pexpvar = total_ss - punexpvar;
            stats[0] = f_test ? (pexpvar / k1) / (punexpvar / k2) : pexpvar;
            return s.single;
        });
    r.exceeded = result.counts[0];
    r.exceeded_ge = result.counts_ge[0];
    r.notice = std::move(notice);
    return r;
}

TwoWayResult two_way_test(const RunOptions& options, Console& console, const PreparedTable& table, double total_ss,
                          const Codes& g1, const Codes& g2, long long nperm, bool own_shuffles) {
    require_shape_variation(total_ss, table.specimens());
    const Codes cell_list = cells_of(console, g1, g2);
    Scorer scorer(table);
    SingleGroupNotice notice;
    TwoWayResult r;
    const GroupSums cells = scorer.score(cell_list);
    require_two_way_testable(scorer, cells, g1, g2);
    notice.observed(cells.single_codes, "cell");
    const int nss = cells.specimens();
    r.ncells = cells.groups();
    r.unexpvar = cells.sum();
    r.expvar = total_ss - r.unexpvar;
    const GroupSums first = scorer.score(g1);
    notice.observed(first.single_codes, "group of the first variable");
    r.ngroups1 = first.groups();
    r.unexpvar1 = first.sum();
    r.expvar1 = total_ss - r.unexpvar1;
    const GroupSums second = scorer.score(g2);
    notice.observed(second.single_codes, "group of the second variable");
    r.ngroups2 = second.groups();
    r.unexpvar2 = second.sum();
    r.expvar2 = total_ss - r.unexpvar2;

    // Statistics of a permutation: the shuffled cells, each variable alone,
    // and the models with the second or the first variable shuffled on its
    // own, both compared with the cell model.
    PermutationEngine engine(options, &console);
    auto result = engine.run<ShuffleState>(
        nperm, {r.expvar, r.expvar1, r.expvar2, r.expvar, r.expvar}, std::vector<Exceeds>(5, Exceeds::Greater),
        [&] { return std::make_unique<ShuffleState>(table); },
        [&](ShuffleState& s, long long, Rng& rng, double* stats) {
            s.single = false;
            randperm(s.rp, nss, rng);
            randperm(s.rp1, nss, rng);
            randperm(s.rp2, nss, rng);
            permute_codes(g1, s.rp1, s.p1);
            permute_codes(g2, s.rp2, s.p2);
            s.coder.code(g1, s.p2, s.cells1);
            s.coder.code(s.p1, g2, s.cells2);
            permute_codes(cell_list, s.rp, s.shuffled);
            if (!own_shuffles) {  // each variable in the cells' shuffle
                permute_codes(g1, s.rp, s.p1);
                permute_codes(g2, s.rp, s.p2);
            }
            // The five groupings together: their groups, of a few sizes,
            // fill the vector lanes better side by side.
            double within[5];
            s.within({&s.shuffled, &s.cells1, &s.cells2, &s.p1, &s.p2}, within);
            stats[0] = total_ss - within[0];
            stats[3] = total_ss - within[1];
            stats[4] = total_ss - within[2];
            stats[1] = total_ss - within[3];
            stats[2] = total_ss - within[4];
            return s.single;
        });
    notice.permuted(result.single_groups, nperm);
    r.exceeded_cells = result.counts[0];
    r.exceeded_g1 = result.counts[1];
    r.exceeded_g2 = result.counts[2];
    r.exceeded_g2_shuffled = result.counts[3];
    r.exceeded_g1_shuffled = result.counts[4];
    r.ge = result.counts_ge;
    r.notice = std::move(notice);
    return r;
}

void FTable::ratios(const std::array<double, 3>& ss, double error, double* F) const {
    for (std::size_t t = 0; t < terms.size(); ++t) F[t] = (ss[t] / terms[t].df) / (error / error_df);
}

namespace {

// The permutations of an F table: `shuffle(state, rng, ss)` fills one
// permutation's three term sums and returns its error sum; the F ratios of
// every permutation are taken as the observed ones are.
template <class Shuffle>
void permute_f_table(const RunOptions& options, Console& console, const PreparedTable& table, long long nperm, FTable& t,
                     Shuffle shuffle) {
    PermutationEngine engine(options, &console);
    auto result = engine.run<ShuffleState>(
        nperm, {t.terms[0].F, t.terms[1].F, t.terms[2].F}, std::vector<Exceeds>(3, Exceeds::Greater),
        [&] { return std::make_unique<ShuffleState>(table); },
        [&](ShuffleState& s, long long, Rng& rng, double* stats) {
            s.single = false;
            std::array<double, 3> ss{};
            const double error = shuffle(s, rng, ss);
            t.ratios(ss, error, stats);
            return s.single;
        });
    t.notice.permuted(result.single_groups, nperm);
    for (std::size_t i = 0; i < t.terms.size(); ++i) {
        t.terms[i].exceeded = result.counts[i];
        t.terms[i].exceeded_ge = result.counts_ge[i];
    }
}

// Fills the observed sums and degrees of freedom of a table and its F ratios.
void set_observed(FTable& t, const std::array<double, 3>& ss, const std::array<double, 3>& df, double error_ss, double error_df) {
    t.error_ss = error_ss;
    t.error_df = error_df;
    std::array<double, 3> F{};
    for (std::size_t i = 0; i < t.terms.size(); ++i) t.terms[i].df = df[i];
    t.ratios(ss, error_ss, F.data());
    for (std::size_t i = 0; i < t.terms.size(); ++i) {
        t.terms[i].ss = ss[i];
        t.terms[i].F = F[i];
    }
}

}  // namespace

FTable two_way_f_test(const RunOptions& options, Console& console, const PreparedTable& table, double total_ss, const Codes& g1,
                      const Codes& g2, long long nperm, double md, double edf_red) {
    require_shape_variation(total_ss, table.specimens());
    const Codes cell_list = cells_of(console, g1, g2);
    Scorer scorer(table);
    FTable r;
    const GroupSums cells = scorer.score(cell_list);
    require_two_way_testable(scorer, cells, g1, g2);
    r.notice.observed(cells.single_codes, "cell");
    const GroupSums first = scorer.score(g1);
    r.notice.observed(first.single_codes, "group of the first variable");
    const GroupSums second = scorer.score(g2);
    r.notice.observed(second.single_codes, "group of the second variable");
    const int nss1 = first.specimens(), nss2 = second.specimens();

    // The interaction is what the cells explain beyond both variables.
    auto sums = [&](double cells_within, double within1, double within2) {
        const double ssa = total_ss - within1, ssb = total_ss - within2;
        return std::array<double, 3>{ssa, ssb, (total_ss - cells_within) - ssa - ssb};
    };
    const double dfA = first.groups() - 1.0, dfB = second.groups() - 1.0;
    r.cells = cells.groups();
    set_observed(r, sums(cells.sum(), first.sum(), second.sum()), {dfA, dfB, dfA * dfB}, cells.sum(), md - dfA * dfB - edf_red);
    permute_f_table(options, console, table, nperm, r, [&](ShuffleState& s, Rng& rng, std::array<double, 3>& ss) {
        randperm(s.rp1, nss1, rng);
        permute_codes(g1, s.rp1, s.p1);
        randperm(s.rp2, nss2, rng);
        permute_codes(g2, s.rp2, s.p2);
        s.coder.code(s.p1, s.p2, s.cells1);
        double within[3];  // scored together: see two_way_test
        s.within({&s.cells1, &s.p1, &s.p2}, within);
        ss = sums(within[0], within[1], within[2]);
        return within[0];
    });
    return r;
}

FTable nested_test(const RunOptions& options, Console& console, const PreparedTable& table, double total_ss, const Codes& g1,
                   const Codes& g2, long long nperm, double md) {
    const Codes cell_list = cells_of(console, g1, g2);
    require_shape_variation(total_ss, table.specimens());
    Scorer scorer(table);
    FTable r;
    const GroupSums sub = scorer.score(cell_list);
    r.notice.observed(sub.single_codes, "subgroup");
    const GroupSums main = scorer.score(g1);
    require_testable_grouping(main.groups(), main.specimens(), "The main grouping variable (column 1 of the group file)");
    require_testable_grouping(sub.groups(), sub.specimens(), "The subgroups (both columns of the group file together)",
                              "subgroup");
    if (sub.groups() == main.groups())
        throw Refused(
            "Every main group holds a single subgroup, so there is no nested factor to test (its F ratio would be 0/0). "
            "There is nothing to test, so no test was run.");
    r.notice.observed(main.single_codes, "main group");
    const double ncells = sub.groups(), ngroups1 = main.groups();
    const int nss1 = main.specimens();

    // The nested factor is what the subgroups explain beyond the main groups.
    auto sums = [&](double sub_within, double main_within) {
        const double sssg = total_ss - sub_within, ssa = total_ss - main_within;
        return std::array<double, 3>{sssg, ssa, sssg - ssa};
    };
    set_observed(r, sums(sub.sum(), main.sum()), {ncells - 1, ngroups1 - 1, ncells - ngroups1}, sub.sum(), md - ncells);
    permute_f_table(options, console, table, nperm, r, [&](ShuffleState& s, Rng& rng, std::array<double, 3>& ss) {
        // Row j of the permuted table is specimen rp1(j), under the codes of
        // position j.  Scoring the specimens in their own order under the
        // codes they receive gives the same groups of specimens, with each
        // group's rows in one canonical order, so a permutation that keeps
        // every specimen in its subgroup scores exactly the observed sums
        // instead of differing from them by rounding.
        randperm(s.rp1, nss1, rng);
        s.p1.resize(cell_list.size());
        s.p2.resize(g1.size());
        for (std::size_t j = 0; j < s.rp1.size(); ++j) {
            s.p1[static_cast<std::size_t>(s.rp1[j])] = cell_list[j];
            s.p2[static_cast<std::size_t>(s.rp1[j])] = g1[j];
        }
        double within[2];
        s.within({&s.p1, &s.p2}, within);
        s.single = false;  // the subgroup sizes never change
        ss = sums(within[0], within[1]);
        return within[0];
    });
    return r;
}

}  // namespace quillan
