// A listener for every permutation's statistics, for callers that want to
// see the whole permutation distribution (the histogram pictures).  The
// engine calls it only when one is set in the run options, so an action run
// without one costs nothing extra and gives exactly the same numbers.
#pragma once

#include "analyses/linear_models/regression_scores.hpp"
#include "analyses/toolkit/figure_data.hpp"

#include <memory>
#include <string>
#include <vector>

namespace quillan {

// How a loop's p-value is counted: the share of the permutations beyond the
// observed value (the group and covariate tests), or the permutations that
// reach it with the observed value counted among them, (reached + 1) /
// (permutations + 1), as a linear model counts it; or, for a statistic
// that is small where the effect is (a covariance ratio), the permutations
// below it and half of those that tie with it, counted the same way (the
// observed value's mean rank among them all, as geomorph ranks a CR).
enum class PValueRule { Exceeded, ReachedWithObserved, AtMostWithObserved };

class PermutationRecorder {
public:
    // One loop of permutations of one action.  `record` is called from the
    // worker threads, each with its own worker number and never twice for
    // the same index; `finish` once, on the action's thread, after every
    // permutation has been recorded.  A loop that fails or is cancelled is
    // dropped without `finish`.
    class Loop {
    public:
        virtual ~Loop() = default;
        virtual void record(int worker, long long index, const double* stats) = 0;
        // Per statistic, the permutations beyond the observed value and
        // those that reached it (ties counted).
        virtual void finish(const std::vector<long long>& exceeded, const std::vector<long long>& reached) = 0;
    };
    virtual ~PermutationRecorder() = default;
    // The names of a loop's statistics, for an action whose statistics
    // depend on what it was asked (a model's terms), and how its p-values
    // are counted; called before the loop's `begin`.  Others are named by
    // the action table and count the permutations beyond.
    virtual void name_statistics(int loop, const std::vector<std::string>& names, PValueRule rule) {
        static_cast<void>(loop);
        static_cast<void>(names);
        static_cast<void>(rule);
    }
    // The regression scores of a model with a covariate, for its picture;
    // called on the action's thread after the model's permutations.
    virtual void keep_regression_scores(const RegressionScores& scores) { static_cast<void>(scores); }
    // The numbers of a shape analysis's pictures, called on the action's
    // thread once its numbers are final.
    virtual void keep_figures(const ToolkitFigures& figures) { static_cast<void>(figures); }
    virtual std::unique_ptr<Loop> begin(int loop, long long nperm, const std::vector<double>& observed, int workers) = 0;
};

}  // namespace quillan
