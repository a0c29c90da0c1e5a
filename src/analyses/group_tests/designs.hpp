// The computations the plain and the covariate-standardised group tests
// share: each scores the observed grouping(s) of a prepared table, runs the
// permutations and returns the sums and counts the reports are built from.
// The actions keep their own order of steps and their own report texts.
#pragma once

#include "analyses/common.hpp"
#include "analyses/scoring.hpp"

#include <array>

namespace quillan {

// What one worker thread of a grouping test keeps between permutations: its
// scorer and the buffers of the shuffled codes.
struct ShuffleState {
    explicit ShuffleState(const PreparedTable& t) : scorer(t) {}
    Scorer scorer;
    CellCoder coder;
    std::vector<int> rp, rp1, rp2;
    Codes shuffled, p1, p2, cells1, cells2;
    bool single = false;  // a group of a single specimen was met

    // Explained sum of a grouping; notes groups of a single specimen.
    double explained(double total_ss, const Codes& codes) { return total_ss - within(codes); }
    double within(const Codes& codes) { return scorer.sum(codes, single); }
    // Within sums of several groupings, scored together (Scorer::sums).
    void within(std::initializer_list<const Codes*> groupings, double* sums) { scorer.sums(groupings, sums, single); }
};

// One grouping variable; the statistic is the explained sum, or the F ratio
// with error degrees of freedom md - groups - edf_red.
struct OneWayResult {
    double expvar = 0, unexpvar = 0, observed_f = 0;
    int groups = 0;
    std::vector<int> ssize;
    long long exceeded = 0;     // permutations that exceeded the observed value
    long long exceeded_ge = 0;  // permutations that reached it, ties included
    SingleGroupNotice notice;   // for the action to tell
};
OneWayResult one_way_test(const RunOptions& options, Console& console, const PreparedTable& table, double total_ss,
                          const Codes& codes, long long nperm, bool f_test, double md = 0, double edf_red = 0);

// Two grouping variables: the cells, each variable alone, and the cell model
// against the models in which one variable is shuffled on its own.  With
// `own_shuffles` the single variables are scored in their own shuffles (the
// ones that also enter the one-variable-shuffled models); otherwise they are
// shuffled together with the cells.
struct TwoWayResult {
    // Explained and unexplained sums of the cells, of the first variable
    // alone (1) and of the second alone (2).
    double expvar = 0, unexpvar = 0, expvar1 = 0, unexpvar1 = 0, expvar2 = 0, unexpvar2 = 0;
    int ncells = 0, ngroups1 = 0, ngroups2 = 0;
    // Permutations whose shuffled cells, first variable or second variable
    // explained more than the observed one.
    long long exceeded_cells = 0, exceeded_g1 = 0, exceeded_g2 = 0;
    // Permutations in which the cells of the first variable with a shuffled
    // second one, or of a shuffled first variable with the second, explained
    // more than the observed cells.
    long long exceeded_g2_shuffled = 0, exceeded_g1_shuffled = 0;
    std::vector<long long> ge;  // the five counts with ties included, in the order above
    SingleGroupNotice notice;   // for the action to tell
};
TwoWayResult two_way_test(const RunOptions& options, Console& console, const PreparedTable& table, double total_ss,
                          const Codes& g1, const Codes& g2, long long nperm, bool own_shuffles);

// An analysis of variance of three terms against one error, as the F tests
// of the two-way and the nested designs make it: each term's sum of squares,
// degrees of freedom and F ratio, and the permutations whose F exceeded
// (or, ties included, reached) the observed one.
struct FTerm {
    double ss = 0, df = 0, F = 0;
    long long exceeded = 0, exceeded_ge = 0;
};
struct FTable {
    std::array<FTerm, 3> terms;
    double error_ss = 0, error_df = 0;
    double cells = 0;          // of a two-way design's variables together
    SingleGroupNotice notice;  // for the action to tell

    // The F ratios of three term sums over an error sum, with this table's
    // degrees of freedom: the observed ones, and every permutation's.
    void ratios(const std::array<double, 3>& ss, double error, double* F) const;
};

// The crossed two-way design as an analysis of variance with F ratios; both
// variables are shuffled independently in every permutation.  The error
// degrees of freedom are md - dfA * dfB - edf_red.  The terms are the first
// variable (A), the second (B) and their interaction.
enum TwoWayFTerm { kTermA = 0, kTermB = 1, kTermAB = 2 };
FTable two_way_f_test(const RunOptions& options, Console& console, const PreparedTable& table, double total_ss, const Codes& g1,
                      const Codes& g2, long long nperm, double md, double edf_red);

// The second grouping variable nested within the first, as an analysis of
// variance with F ratios: main + nested together (the subgroups, i.e. the
// cells of both variables), the main factor, and the nested factor.  The
// specimens are shuffled among the fixed codes, which keeps every
// subgroup's size.  The error degrees of freedom are md - subgroups.
enum NestedFTerm { kMainAndNested = 0, kMain = 1, kNested = 2 };
FTable nested_test(const RunOptions& options, Console& console, const PreparedTable& table, double total_ss, const Codes& g1,
                   const Codes& g2, long long nperm, double md);

// The report of a two-way F test after its heading: the sums of squares,
// then each effect's F ratio, degrees of freedom (times df_unit) and
// probability; the interaction's F line has its own wording per test.
std::string two_way_f_report(const std::string& head, const FTable& r, double total_ss, double df_unit, long long nperm,
                             const char* interaction_format);

// Warns that F ratios are undefined when the error degrees of freedom are
// zero or fewer (too few specimens for the groups and lines fitted); the
// report still appears.
void warn_error_df(ActionEnv& env, double dfe);

// The two-way and nested F tests keep error terms of their own, which are
// not those a reader of the crossed or nested analysis of variance expects:
// these say which error the F ratios used (in the report's df, times
// df_unit) and where the usual one is.
void tell_two_way_error_df(ActionEnv& env, const FTable& r, double md, double df_unit);
void tell_nested_error_df(ActionEnv& env, const FTable& r, double df_unit);

// The cell code of two variables, echoing the number of cells.
Codes cells_of(Console& console, const Codes& g1, const Codes& g2);

}  // namespace quillan
