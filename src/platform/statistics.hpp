// The two summaries of plain number lists that the covariate's regressions
// are built from: the mean, and the least-squares straight line.
#pragma once

#include <cstddef>
#include <vector>

namespace quillan {

// Mean of a list of numbers; not-a-number for an empty list.
double mean(const std::vector<double>& x);

// Least-squares straight line y = slope * x + intercept.  When x has fewer
// than two distinct values the slope is not determined and comes back
// non-finite; callers that can meet that case check for it.
struct Line {
    double slope;
    double intercept;
};
Line polyfit1(const double* x, const double* y, std::size_t n, std::ptrdiff_t ystride = 1);

}  // namespace quillan
