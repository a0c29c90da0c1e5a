// Procrustes linear models of shape, tested as RRPP tests them: the sums of
// squares of each term between its full and reduced model (types I, II, III),
// F against the residual or another term's mean square, and a permutation
// test by randomized residuals of each term's reduced model (or of whole
// rows), the observed data counted as one of the permutations.
//
// Every permutation is matrix products on bases prepared once: the
// orthonormal basis of what each term adds to its reduced model, the basis
// of the whole model and each reduced model's residuals, or the sums of the
// moved residuals over the design's cells (model_cells.hpp); a permutation
// moves rows, nothing is refitted.
#pragma once

#include "analyses/linear_models/model_cells.hpp"
#include "analyses/linear_models/model_design.hpp"
#include "analyses/linear_models/regression_scores.hpp"
#include "analyses/permutation_engine.hpp"
#include "analyses/report_table.hpp"

#include <Eigen/Dense>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quillan {

class ActionEnv;

struct ModelTestOptions {
    SsType ss_type = SsType::I;
    Randomization randomization = Randomization::Residuals;
    // Per term, the term whose mean square is the F ratio's denominator;
    // -1 (or an empty list) for the residual mean square.
    std::vector<int> error;
    long long nperm = 999;
    // How a permutation's sums of squares are found: chosen by the data's
    // shape, or forced (the tests compare them).
    enum class Sums { Chosen, Products, Forms, Cells } sums = Sums::Chosen;
    // The data and the design have been multiplied by a P with P'P = C^-1
    // (a generalized least-squares model): the total is taken about the
    // transformed intercept, the design's first column, and the columns are
    // no functions of the cells any more.
    bool generalized = false;
    // What the permutation histograms call the F ratios, one a term tested in
    // turn; those not named are "Linear model: F ratio of TERM".
    std::vector<std::string> statistic_names;
};

struct ModelTermRow {
    std::string label;
    int term = 0;  // its place in the formula's terms
    int df = 0;
    double ss = 0, ms = 0, rsq = 0, f = 0;
    double z = 0;            // effect size of F, as RRPP's effect.size computes it
    double p = 0;            // (permutations with F >= observed + 1) / (permutations + 1)
    long long count_ge = 0;  // permutations with F at least the observed one
    std::string error = "Residuals";
};

// Statistics drawn on the table's own permutations beside its F ratios (the
// comparisons of groups after the model), so that both come from the same
// shuffles and the work they share is done once.
class TableCompanion {
public:
    virtual ~TableCompanion() = default;
    struct Work {
        virtual ~Work() = default;
    };
    virtual const std::vector<double>& observed() const = 0;
    virtual std::vector<std::string> names() const = 0;
    virtual std::unique_ptr<Work> work() const = 0;
    // One permutation's statistics.  `perm` is the table's (row i takes the
    // residual of row perm[i]); `cells` and `moved`, when not null, are the
    // table's cell sums of that permutation, whose term `last` moves the
    // residuals of the last term's reduced model.
    virtual void statistics(const std::vector<int>& perm, const CellSums* cells, std::size_t last, CellSums::Scratch* moved,
                            Work& work, double* stats) const = 0;
};

// What the permutations gave a companion's statistics.
struct CompanionCounts {
    std::vector<long long> count_ge;  // permutations that reached or exceeded the observed value
    std::vector<double> z;            // effect sizes
};

struct ModelTable {
    std::vector<ModelTermRow> terms;  // terms with no degrees of freedom of their own are left out, as RRPP leaves them
    int residual_df = 0, total_df = 0;
    double residual_ss = 0, total_ss = 0;
    long long nperm = 0;
    std::uint64_t seed = 0;
    CompanionCounts companion;  // of the companion's statistics, when there is one
};

// Tests the model of `design` on `shapes` (one row per specimen), its
// permutations drawn from stream `loop` of `engine`, with `companion`'s
// statistics on the same permutations when one is given.
ModelTable test_linear_model(PermutationEngine& engine, const Eigen::MatrixXd& shapes, const ModelDesign& design,
                             const ModelTestOptions& test, int loop = 0, const TableCompanion* companion = nullptr);

struct PreparedModel;

// The sums of squares of chosen terms under permutations an analysis draws
// itself (within blocks, say, or one a term), on the bases the model's
// table uses: `x` the design's independent columns, `models` each term's
// full and reduced model as columns of `x`; the reduced models' residuals
// are what a permutation moves.
class TermPermutationSums {
public:
    TermPermutationSums(const Eigen::MatrixXd& y, const Eigen::MatrixXd& x, const std::vector<TermModels>& models,
                        const PermutationEngine& engine);
    ~TermPermutationSums();
    int df(std::size_t term) const;
    struct Scratch {  // a worker's
        virtual ~Scratch() = default;
    };
    std::unique_ptr<Scratch> scratch() const;
    // The SS of `term` and the whole model's residual SS, the term's reduced
    // model's residuals moved by `perm` (row i takes the residual of row
    // perm[i]; null: unmoved).
    std::pair<double, double> sums(std::size_t term, const std::vector<int>* perm, Scratch& s) const;

private:
    std::unique_ptr<PreparedModel> p_;
};

// The residuals and fitted values of the reduced model of the last term,
// which the comparisons after a model permute (RRPP's null model there).
struct NullModel {
    Eigen::MatrixXd fitted, residuals;
};
NullModel last_term_null_model(const Eigen::MatrixXd& shapes, const ModelDesign& design, SsType type);

// The regression scores of `shapes` on the model's first covariate; empty
// (no covariate) when the model has none.
RegressionScores regression_scores(const Eigen::MatrixXd& shapes, const ModelDesign& design);

// The permuted statistics an effect size is computed from: every one of them
// up to `kSample` permutations, and beyond that the first `kSample` (a
// random sample of the distribution, since the permutations are drawn
// independently), so memory stays flat however many permutations run.  With
// a team of processes the engine hands every value round instead.
class EffectSample {
public:
    static constexpr long long kSample = 100000;
    EffectSample(const RunOptions& options, long long nperm, std::size_t nstats);
    // Whether the engine is to keep every value (then `note` keeps nothing).
    bool engine_keeps() const { return engine_keeps_; }
    // Called by the permutation body, from any worker thread.
    void note(long long index, const double* stats);
    // Statistic `s`'s effect size, `observed` first among the sample.
    double z(const PermutationResult& r, std::size_t s, double observed) const;

private:
    long long nperm_, kept_;
    std::size_t nstats_;
    bool engine_keeps_;
    std::vector<double> values_;
};

// Whose arithmetic an effect size follows: each analysis takes that of the
// tool its numbers are held to.  They differ in the range searched for the
// Box-Cox power and in how values not all positive are shifted first.
enum class EffectRecipe {
    Rrpp,      // RRPP (the models and group tests): lambda on [-2, 2]; shifted to |v| + 1
    Geomorph,  // geomorph's effect.size (modularity, integration, PLS): lambda on [-5, 5]; shifted to v - min + 0.0001
};

// The effect size of the first of `values` among all of them: the values
// Box-Cox transformed (lambda fitted to all but the first by maximum
// likelihood on the recipe's range), then the first value's standard deviate.
double effect_size(std::vector<double> values, EffectRecipe recipe = EffectRecipe::Rrpp);

// How a model's ANOVA table is laid out: the width of its columns (the mean
// squares as wide as the sums of squares) and how its p values are printed.
struct AnovaLayout {
    std::size_t label = 9, df = 5, ss = 12;
    const char* p_format = "%.4g";
    bool flush_labels = true;  // a label as wide as its column runs up to the Df column's padding
};

// A model's ANOVA table: a row a term, then the residuals' and the total's.
// `names` labels the rows (a term each, then the residuals); the record
// holds each row under `prefix` + its label, with its F's test.
class AnovaTable {
public:
    AnovaTable(const ModelTable& t, const std::vector<std::string>& names, const std::string& prefix = "",
               const AnovaLayout& layout = {});
    std::string text() const { return table_.text(); }
    void record(ResultRecord& rec) const;

private:
    std::vector<ModelTermRow> terms_;
    long long nperm_;
    ReportTable table_;
};

// The labels of a model's rows as the models and the trajectories show
// them: the terms', then "Residuals".
std::vector<std::string> anova_row_names(const ModelTable& t);
// The ANOVA table of a model of formula terms, its label column as wide as
// the longest term.
AnovaTable model_anova_table(const ModelTable& t, const std::string& prefix = "");

}  // namespace quillan
