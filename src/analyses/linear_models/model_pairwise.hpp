// Comparisons of a factor's groups after a linear model, as RRPP's
// `pairwise` makes them: the least-squares means of the groups (the model's
// fitted values with every covariate at its mean, averaged within each
// group) and, when the factor meets a covariate in an interaction, the
// groups' slopes of shape on that covariate.  Plain means, when asked, are
// the groups' own averages of shape.  Each permutation moves the
// rows of the residuals of the last term's reduced model, refits the model
// as one matrix product and compares again.  After a model the comparisons
// ride on the table's own permutations (a TableCompanion), and reuse its
// cell sums where it makes them.
//
// After a phylogenetic model (pgls.hpp) the shapes and the design given are
// the transformed ones and `untransformed` is the design before the tree's
// transformation: the coefficients are then the GLS fit's, of the moved
// transformed residuals, and the means (or slopes) those of its fitted
// values X b in the specimens' own space, whatever the order of the rows.
// Only least-squares means have a meaning there.
#pragma once

#include "analyses/linear_models/linear_model.hpp"

#include <memory>
#include <string>
#include <vector>

namespace quillan {

struct PairwiseTest {
    double observed = 0, z = 0, p = 0;
    long long count_ge = 0;
};
// A comparison's test from its observed statistic, how many permutations
// reached it, its effect size and the permutations: p = (count_ge + 1) / (nperm + 1).
PairwiseTest test_of(double observed, long long count_ge, double z, long long nperm);

// One statistic of a table of pairs of groups: its three columns (the
// statistic, its Z, its p), recorded under `key`, `key`_Z and `key`_p with
// the test of `key`.
struct PairColumns {
    std::string header, key;
    const char* format = "%.6g";
    std::string p_header;
    std::size_t p_width = 9;
    std::size_t p_tail = 0;  // blanks after each p, which so stands left of its header's end
    std::size_t gap = 0;     // blanks before the statistic's column
};

// A table of the pairs of groups, a row a pair: their two names, then each
// statistic's columns.
class PairsTable {
public:
    PairsTable(const std::vector<std::string>& groups, std::vector<PairColumns> statistics);
    // A row recorded as model `model`: a test a statistic, in their order.
    void add(const std::string& model, const std::string& first, const std::string& second,
             const std::vector<PairwiseTest>& tests);
    std::string text() const { return table_.text(); }
    void record(ResultRecord& rec, long long nperm) const;

private:
    std::vector<PairColumns> statistics_;
    std::vector<std::vector<PairwiseTest>> tests_;
    ReportTable table_;
};

struct GroupPair {
    std::string first, second;
    PairwiseTest distance;  // between means, or between slope vectors
    PairwiseTest length;    // slopes: the difference of their lengths
    PairwiseTest angle;     // slopes: the angle between them, in degrees
};

struct PairwiseResult {
    std::string factor;     // the grouping's name ("G1", "species:site")
    std::string covariate;  // the slopes' covariate; empty: means
    PairwiseMeans means = PairwiseMeans::LeastSquares;
    bool generalized = false;  // of a phylogenetic GLS fit
    std::vector<std::string> groups;
    std::vector<double> sizes, lengths;  // per group: specimens, and the slope vector's length
    std::vector<GroupPair> pairs;
    long long nperm = 0;
};

// The least-squares means (or slopes) of the groups of `factor` after the
// model of `design`, one row each in the order of the groups: of the data,
// and of each permutation of the residuals of the last term's reduced model
// (the table's, or compare_groups' own).  The comparisons of groups and the
// trajectories both read them.  Refused when the name is no factor of the
// model.
class GroupRows {
public:
    GroupRows(const Eigen::MatrixXd& shapes, const ModelDesign& design, SsType type, const std::string& factor,
              PairwiseMeans means, ModelTestOptions::Sums sums = ModelTestOptions::Sums::Chosen,
              const ModelDesign* untransformed = nullptr);
    ~GroupRows();
    const std::vector<std::string>& groups() const;
    const std::vector<int>& codes() const;  // each specimen's group, 0-based
    const Eigen::VectorXd& sizes() const;   // specimens of each group
    const std::string& covariate() const;   // the slopes' covariate; empty: means
    const Eigen::MatrixXd& observed() const;
    std::unique_ptr<TableCompanion::Work> work() const;
    // One permutation's rows, arguments as TableCompanion::statistics'; they
    // live in `work` until its next use.
    const Eigen::MatrixXd& permuted(const std::vector<int>& perm, const CellSums* cells, std::size_t last,
                                    CellSums::Scratch* moved, TableCompanion::Work& work) const;

private:
    class Plan;
    std::unique_ptr<Plan> plan_;
};

// The comparisons of the groups of `factor` after the model of `design`,
// prepared once: the statistics of the data, and of each permutation the
// table (or compare_groups) hands over.
class PairwiseComparisons : public TableCompanion {
public:
    PairwiseComparisons(const Eigen::MatrixXd& shapes, const ModelDesign& design, SsType type, const std::string& factor,
                        PairwiseMeans means, ModelTestOptions::Sums sums = ModelTestOptions::Sums::Chosen,
                        const ModelDesign* untransformed = nullptr);
    const std::vector<double>& observed() const override { return observed_; }
    std::vector<std::string> names() const override;
    std::unique_ptr<Work> work() const override { return rows_.work(); }
    void statistics(const std::vector<int>& perm, const CellSums* cells, std::size_t last, CellSums::Scratch* moved, Work& work,
                    double* stats) const override;
    // The comparisons, with what the permutations gave their statistics.
    PairwiseResult result(const CompanionCounts& counts, long long nperm) const;

private:
    GroupRows rows_;
    std::vector<double> observed_;
    std::string factor_;
    PairwiseMeans means_ = PairwiseMeans::LeastSquares;
    bool generalized_ = false;
};

// Compares the groups of `factor` (a factor's name or a term of factors,
// "species:site" for the cells) after the model of `design`, on permutations
// of their own from stream `loop`.  `sums` forces the way a permutation's
// group rows are found (products or cell sums; the tests compare them).
PairwiseResult compare_groups(PermutationEngine& engine, const Eigen::MatrixXd& shapes, const ModelDesign& design, SsType type,
                              const std::string& factor, PairwiseMeans means, long long nperm, int loop,
                              ModelTestOptions::Sums sums = ModelTestOptions::Sums::Chosen);

}  // namespace quillan
