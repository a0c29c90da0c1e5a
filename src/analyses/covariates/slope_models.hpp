// Slope models: in which form does shape depend on a covariate when the
// specimens fall into groups?
//
// Every group keeps its own mean shape: its specimens are measured as
// Procrustes residuals from the group's own (rotation-only) consensus, and
// its covariate is centred on the group's mean.  On these residuals two
// models are fitted, one straight line per coordinate:
//  - the common-slope model: one line over all specimens pooled, after each
//    group's residuals are turned into one common orientation (a group's
//    residuals otherwise take the orientation of its first specimen);
//  - the different-slopes model: one line per group (`different_slopes_ss`).
// Their unexplained sums are compared with the total sum of squares `total_ss`
// of the sample and judged by permutation: shuffling the covariate within
// each group and over the pooled specimens (`common_slope_test2`,
// `common_slope_test`), drawing random groups of the real groups' sizes, or,
// for two grouping variables, shuffling one variable while the other stays
// (`two_variable_slopes_test`).  A permutation counts only when its unexplained sum is
// strictly smaller than the observed one.
//
// The residuals of each group are computed once; a permutation of the
// covariate only repeats the straight-line fits.  `two_variable_slopes_test` is the
// exception: a shuffled coding forms new cells, and each needs its own
// consensus.
//
// Groups whose own slope cannot be fitted (a single specimen, or one
// covariate value for all specimens) are refused with a message naming the
// group when they are observed.  When a shuffled coding or a random group
// forms one, it still gets a sum: a single specimen is fitted exactly (0), a
// group whose specimens share one covariate value is fitted by its mean (its
// sum of squares about the mean).
#pragma once

#include "analyses/permutation_engine.hpp"
#include "groups/groups.hpp"
#include "platform/value.hpp"

#include <functional>
#include <string>
#include <vector>

namespace quillan {

class ActionEnv;
class Console;
class ShapeTable;

// A grouping of the rows of a landmark table with the covariate split
// alongside, groups in order of first appearance.
struct CovGroups {
    std::vector<std::vector<int>> rows;  // each group's rows (0-based), in table order
    std::vector<std::vector<double>> z;  // the covariate values of those rows
    std::vector<std::string> names;      // how messages name each group, e.g. "Group 2"
    std::size_t size() const { return rows.size(); }
};

// Groups of `codes` (one per specimen) with their covariate values;
// `name_of(code)` names a group in messages.
CovGroups cov_groups(const Codes& codes, const std::vector<double>& clist, const std::function<std::string(double)>& name_of);

// Fails with a message naming the first group whose own slope cannot be
// fitted: a single specimen, a covariate value that is not a finite
// number, or one covariate value for all its specimens.
void check_slope_groups(const CovGroups& groups);

// The different-slopes unexplained sum of a grouping: for every group, the
// residual sum of squares of its Procrustes residuals regressed on its
// centred covariate, summed over the groups in order.  Checks the groups
// first (check_slope_groups).
double different_slopes_ss(const ShapeTable& table, const CovGroups& groups);
// The same from per-group blocks of landmark rows and covariate rows, as
// split_by_group gives them; the first `ngroups` groups are used.
double different_slopes_ss(const std::vector<Matrix>& X, const std::vector<std::vector<double>>& z, std::size_t ngroups);

// The different-slopes sum of any coding of the rows of `table` (one code
// per row), scored as the permutation loops score shuffled codings: nothing
// is refused, a group of a single specimen adds 0 and a group whose
// specimens share one covariate value adds its sum of squares about its
// mean.  `degenerate`, when given, is set if the coding has such a group.
// For a coding whose groups pass check_slope_groups the sum is different_slopes_ss
// of the same groups, to the last bit.
double coding_different_slopes_ss(const ShapeTable& table, const Codes& codes, const std::vector<double>& clist,
                                  bool* degenerate = nullptr);

// The sums, counts and derived values of the common-slope and
// different-slopes models of one grouping.
struct SlopeModels {
    double sstotal = 0;
    double ssunexplain_ss = 0;  // common slope
    double ssunexplain_ms = 0;  // different slopes
    double ntot = 0, ngroups = 0;
    double df_per_unit = 0;  // shape_df_per_unit of the table, 2k - 4 (0 when the echo leaves out the degrees of freedom)
    long long exc_ss = 0, exc_ms = 0, cdraw_exc = 0, nperm = 0;
    long long exc_ss_ge = 0, exc_ms_ge = 0, cdraw_exc_ge = 0;  // the same counts with ties included

    double explained_ss() const { return sstotal - ssunexplain_ss; }
    double explained_ms() const { return sstotal - ssunexplain_ms; }
    // The F ratios: the common-slope denominator divides by ntot - ngroups - 1,
    // one more than its lower degrees of freedom use.
    double f_ss() const { return (explained_ss() / (ngroups + 1)) / (ssunexplain_ss / (ntot - ngroups - 1)); }
    double f_ms() const { return (explained_ms() / (2 * ngroups)) / (ssunexplain_ms / (ntot - 2 * ngroups - 1)); }
    double df1up() const { return (ngroups + 1) * df_per_unit; }
    double df1low() const { return (ntot - ngroups - 2) * df_per_unit; }
    double df2up() const { return 2 * ngroups * df_per_unit; }
    double df2low() const { return (ntot - 2 * ngroups - 1) * df_per_unit; }

    // The 13 values of common_slope_test2 and the 8 of common_slope_test, as rows.
    Matrix result13() const;
    Matrix result8() const;
};

// What the console echo of the slope models ends with: the 13 values with
// the degrees of freedom, or the 8 without (the two forms users call by
// name as common_slope_test2 and common_slope_test).
enum class SlopeEcho { WithDegreesOfFreedom, WithoutDegreesOfFreedom };

// The random streams the slope models use: one for the covariate shuffles,
// one for the random groups.
inline constexpr int kSlopeModelStreams = 2;

// Both models of a grouping and three permutation tests, each with `nperm`
// permutations: the common slope against the pooled covariate shuffled over
// all specimens, the different slopes against the covariate shuffled within
// each group (both in one loop, on stream streams.at(0)), and the different
// slopes against random groups of the real groups' sizes (streams.at(1)).
// Echoes its values to the console.  Without the degrees of freedom the
// result's df_per_unit is 0 and its degrees of freedom are 0 too.
SlopeModels test_slope_models(PermutationEngine& engine, Console& console, const ShapeTable& table, const CovGroups& groups,
                              double sstotal, long long nperm, SlopeEcho echo = SlopeEcho::WithDegreesOfFreedom,
                              StreamIds streams = {0, kSlopeModelStreams});
// The same from per-group blocks, as split_by_group gives them; errors name
// the operation `op`.
SlopeModels test_slope_models(PermutationEngine& engine, Console& console, const std::vector<Matrix>& X,
                              const std::vector<std::vector<double>>& z, std::size_t ngroups, double sstotal, long long nperm,
                              SlopeEcho echo, const char* op);

// Different slopes for two grouping variables: the unexplained sums of the
// groups of each variable (unexplained_g1, unexplained_g2) and of their
// cells (unexplained_cells), and how many of `nperms` permutations gave a
// smaller cell sum when the second variable was shuffled with the first kept
// (exceeded_g1), or the first shuffled with the second kept (exceeded_g2).
struct TwoGroupCov {
    double unexplained_g1 = 0, unexplained_g2 = 0, unexplained_cells = 0;
    long long exceeded_g1 = 0, exceeded_g2 = 0;
    long long exc1_ge = 0, exc2_ge = 0;  // the same counts with ties included
    Matrix result() const;               // [unexplained_g1 unexplained_g2 unexplained_cells exceeded_g1 exceeded_g2]
};
TwoGroupCov two_variable_slopes_test(PermutationEngine& engine, Console& console, const ShapeTable& table, const Codes& glist1,
                                     const Codes& glist2, const std::vector<double>& clist, long long nperms,
                                     StreamIds streams = {});
TwoGroupCov two_variable_slopes_test(PermutationEngine& engine, Console& console, const Matrix& data, const Codes& glist1,
                                     const Codes& glist2, const std::vector<double>& clist, long long nperms,
                                     StreamIds streams = {});

// What the one-variable covariate actions read first, in this order: the
// permutation count, the landmark table, and the groups of the first
// grouping variable with their covariate values, checked for the slope
// models.
struct CovariateInputs {
    long long nperm = 0;
    const Matrix* landmarks = nullptr;
    int dimensions = 2;
    Codes codes;
    CovGroups groups;
};
CovariateInputs read_covariate_inputs(ActionEnv& env);

// How the analyses name groups and cells in messages.
std::string group_name(double code);                    // "Group 2"
std::string variable_group(double code, int variable);  // "group 2 of grouping variable 1", mid-sentence
std::string first_variable_group(double code);          // "Group 2 of grouping variable 1"
std::string second_variable_group(double code);         // "Group 2 of grouping variable 2"
// Cell number `cell` (1-based) of `cells`, named by its two codes: "cell of
// G1 = 1 and G2 = 2" mid-sentence, or "The cell of G1 = 1 and G2 = 2".
std::string cell_of(const CombinedCode& cells, double cell);
std::string cell_name(const CombinedCode& cells, double cell);

}  // namespace quillan
