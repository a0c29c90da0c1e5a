// Specimens far from the mean shape: each specimen's distance from the mean
// of the aligned shapes (of all specimens, or of its own group), and those
// beyond the upper quartile plus 1.5 interquartile ranges of its set flagged
// as possible digitising errors, the rule of geomorph's plotOutliers.
#pragma once

#include <Eigen/Dense>

#include <vector>

namespace quillan {

struct OutlierSet {
    int group = -1;                 // the 0-based group code; -1: every specimen
    std::vector<int> specimens;     // 0-based, farthest first (ties keep specimen order)
    std::vector<double> distances;  // beside `specimens`
    double lower_quartile = 0, median = 0, upper_quartile = 0;
    double upper_limit = 0;    // upper quartile + 1.5 x interquartile range
    std::vector<int> flagged;  // 0-based, farthest first: distance at least the limit
};

struct OutlierResult {
    std::vector<double> distance;  // per specimen, from the mean of its set
    std::vector<OutlierSet> sets;  // one, or one per group in code order
};

// The sample quantile of sorted values `x` at probability `p`, interpolated
// between order statistics as R's default (type 7) interpolates.
double sample_quantile(const std::vector<double>& sorted, double p);

// `shapes`: one row of aligned coordinates per specimen.  `groups` empty:
// one set of every specimen; otherwise one 0-based code per specimen, each
// group measured from its own mean.
OutlierResult find_outliers(const Eigen::MatrixXd& shapes, const std::vector<int>& groups = {});

}  // namespace quillan
