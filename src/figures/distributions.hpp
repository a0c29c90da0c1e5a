// The permutation distributions of the last test, for the histogram
// pictures.
//
// Up to kKeepEvery permutations every statistic's value is kept (one double
// per permutation and statistic).  Beyond that the values are counted into
// bins as they come: the range is fixed from the first kSample permutations
// (by permutation number, so it does not depend on the threads) and the
// observed value, and when a value falls outside, the range is doubled about
// its centre, two old bins becoming one new bin.  Because every doubling
// keeps the old bin edges, the counts of the threads merge exactly and give
// the same histogram however the permutations were shared out.
#pragma once

#include "analyses/permutation_recorder.hpp"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quillan {

// Counts in kBins equal bins over a range that doubles about a fixed centre.
class BinnedValues {
public:
    static constexpr int kBins = 64;  // a multiple of four, so doubled bins nest
    BinnedValues() = default;
    // The range of the first level: [lo, hi), which must be finite with hi > lo.
    BinnedValues(double lo, double hi);
    // Range of `sample` and `observed`, widened a little on each side (a
    // range for a sample of one value is made around it).
    static BinnedValues around(const std::vector<double>& sample, double observed);

    void add(double v);
    // Adds the counts of another set binned from the same first range.
    void merge(const BinnedValues& other);

    double lo() const;
    double hi() const;
    const std::vector<long long>& counts() const { return counts_; }
    long long total() const;  // values in the bins
    long long not_finite() const { return not_finite_; }
    bool empty() const { return counts_.empty(); }

private:
    void widen();
    double lo0_ = 0, width0_ = 0;  // first level: lower edge and bin width
    int level_ = 0;                // range = first range doubled `level_` times
    std::vector<long long> counts_;
    long long not_finite_ = 0;
};

// One statistic of one permutation loop.
struct StatisticDistribution {
    int loop = 0;
    int statistic = 0;
    std::string name;  // when the action named it for this run; otherwise the action table names it
    double observed = 0;
    long long permutations = 0;
    long long exceeded = 0;  // permutations beyond the observed value, as the report counts them
    long long reached = 0;   // permutations at the observed value or beyond
    PValueRule rule = PValueRule::Exceeded;
    std::vector<double> values;  // every permutation's value, in permutation order, when kept
    BinnedValues binned;         // the counts, when there were too many to keep
    bool kept() const { return binned.empty(); }
    // As the report gives it, by the loop's rule.
    double p_value() const {
        const auto n = static_cast<double>(permutations) + 1;
        // Below the observed value: `exceeded`; at or below it: `reached`.
        if (rule == PValueRule::AtMostWithObserved)
            return (static_cast<double>(exceeded) + 0.5 * static_cast<double>(reached - exceeded) + 1) / n;
        if (rule != PValueRule::Exceeded) return (static_cast<double>(reached) + 1) / n;
        return permutations > 0 ? static_cast<double>(exceeded) / static_cast<double>(permutations) : 0.0;
    }
};

// The bins drawn for one statistic.
struct HistogramBins {
    double lo = 0, hi = 1;
    std::vector<long long> counts;
    double width() const { return counts.empty() ? 0.0 : (hi - lo) / static_cast<double>(counts.size()); }
    long long total() const;
};
// Kept values get a range from their smallest to their largest value and a bin count that grows with the cube root of their
// number; binned values are shown as counted, trimmed of empty outer bins.
HistogramBins histogram_of(const StatisticDistribution& d);

class DistributionLog : public PermutationRecorder {
public:
    static constexpr long long kKeepEvery = 1000000;
    static constexpr long long kSample = 10000;

    // Forgets the distributions of the previous action and names the next.
    void start(const std::string& action);
    const std::string& action() const { return action_; }
    // The finished loops' statistics, in the order the loops finished.
    const std::vector<StatisticDistribution>& distributions() const { return done_; }
    void clear() { start(""); }

    std::unique_ptr<Loop> begin(int loop, long long nperm, const std::vector<double>& observed, int workers) override;
    void name_statistics(int loop, const std::vector<std::string>& names, PValueRule rule) override;
    void keep_regression_scores(const RegressionScores& scores) override;
    // The last model's regression scores, when it had a covariate.
    const std::optional<RegressionScores>& regression_scores() const { return regression_; }
    void keep_figures(const ToolkitFigures& figures) override;
    // The last shape analysis's pictures' numbers, when it gave them.
    const std::optional<ToolkitFigures>& figures() const { return figures_; }

private:
    class Recording;
    void add(std::vector<StatisticDistribution> d);
    std::mutex mutex_;
    std::string action_;
    std::vector<StatisticDistribution> done_;
    std::map<int, std::pair<std::vector<std::string>, PValueRule>> names_;  // per loop, as the action named them
    std::optional<RegressionScores> regression_;
    std::optional<ToolkitFigures> figures_;
};

}  // namespace quillan
