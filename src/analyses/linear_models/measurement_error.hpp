// Measurement error of repeated digitising: the subjects, each measured in
// two or more replicates (optionally within groups of subjects), in the
// model Y ~ subjects + replicates (+ groups:replicates), whose sums of
// squares are "within-subject II": the subjects term against the whole model
// without it, the replicate terms as type II.  The systematic error (the
// replicates' means differ) and its dependence on the groups are tested by
// permuting their reduced models' residuals within subjects, the subjects
// term by permuting its reduced model's residuals freely; the statistic is
// the signal-to-noise ratio SS / random-error SS of each permutation.
// Beside the table, the intraclass correlations of the dispersions and, where
// the mean cross-product matrices can be inverted, of the matrices, and the
// classic repeatability of the one-way Procrustes ANOVA of the subjects.
#pragma once

#include "analyses/permutation_engine.hpp"
#include "platform/random.hpp"

#include <Eigen/Dense>

#include <cstdint>
#include <string>
#include <vector>

namespace quillan {

struct MeasurementErrorDesign {
    std::vector<int> subject, replicate, group;  // 0-based codes per specimen; `group` empty: no groups
    std::vector<std::string> subject_names, replicate_names, group_names;
    bool grouped() const { return !group.empty(); }
};

struct MeasurementErrorRow {
    std::string label;  // "Subjects", "Systematic ME", "Systematic ME:Groups", "Random ME", "Total"
    int df = 0;
    double ss = 0, ms = 0, rsq = 0;
    bool has_eta = false, tested = false;
    double eta = 0;                // SS / the within-subject SS (the replicate rows)
    double snr = 0, z = 0, p = 1;  // SS / random-error SS, its effect size and p (tested rows)
    long long count_ge = 0;        // permutations whose SNR reached the observed one
};

struct IccTriple {
    double icc = 0, icc_a = 0, icc_c = 0;
};

struct MultivariateIcc {
    std::string refusal;                    // empty: the eigenvalues below were found
    std::vector<double> icc, icc_a, icc_c;  // the positive eigenvalues, largest first
};

struct MeasurementErrorResult {
    std::vector<MeasurementErrorRow> rows;  // as labelled, Total last
    int subjects = 0, replicates = 0, specimens = 0, columns = 0;
    IccTriple icc;
    MultivariateIcc multivariate;
    double repeatability = 0, replicates_per_subject = 0;  // the one-way ANOVA's, and its r (n0 when unbalanced)
    double ms_among = 0, ms_within = 0;                    // that ANOVA's mean squares
    long long nperm = 0;
    std::uint64_t seed = 0;
};

// The permutations of the replicate terms: each row takes the residual of
// a row of its own subject (row i that of perm[i]), every arrangement of a
// subject's rows equally likely.
class WithinSubjects {
public:
    explicit WithinSubjects(const std::vector<int>& subject);  // 0-based codes
    void draw(std::vector<int>& perm, Rng& rng, std::vector<int>& scratch) const;

private:
    std::vector<std::vector<int>> rows_;
    std::size_t count_ = 0;
};

// Refuses a design the analysis cannot take, naming what is wrong: fewer
// than two subjects or replicates, a subject measured once, a subject in two
// groups, a single group.
void check_measurement_error_design(const MeasurementErrorDesign& d);

// The principal component scores of `y` (rows centred) whose standard
// deviation exceeds `tolerance` times the first's, as RRPP's ordinate keeps
// them.
Eigen::MatrixXd principal_scores(const Eigen::MatrixXd& y, double tolerance = 0.001);

// The analysis of `y` (one row per specimen), its permutations drawn from
// stream `loop` of `engine`.
MeasurementErrorResult measurement_error_test(PermutationEngine& engine, const Eigen::MatrixXd& y,
                                              const MeasurementErrorDesign& d, long long nperm, int loop = 0);

}  // namespace quillan
