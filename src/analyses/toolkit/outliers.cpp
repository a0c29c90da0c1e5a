#include "analyses/toolkit/outliers.hpp"

#include "analyses/degenerate.hpp"
#include "platform/error.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace quillan {

double sample_quantile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return std::nan("");
    const double h = static_cast<double>(sorted.size() - 1) * p;
    const auto lo = static_cast<std::size_t>(std::floor(h));
    const std::size_t hi = std::min(lo + 1, sorted.size() - 1);
    const double w = h - static_cast<double>(lo);
    // (1 - w) lo + w hi, only where the two differ, so that equal order
    // statistics give exactly their value.
    return sorted[hi] == sorted[lo] ? sorted[lo] : (1 - w) * sorted[lo] + w * sorted[hi];
}

namespace {

OutlierSet measure_set(const Eigen::MatrixXd& shapes, std::vector<int> members, int group, std::vector<double>& distance) {
    Eigen::RowVectorXd mean = Eigen::RowVectorXd::Zero(shapes.cols());
    for (int i : members) mean += shapes.row(i);
    mean /= static_cast<double>(members.size());
    for (int i : members) distance[static_cast<std::size_t>(i)] = (shapes.row(i) - mean).norm();
    OutlierSet s;
    s.group = group;
    std::stable_sort(members.begin(), members.end(),
                     [&](int a, int b) { return distance[static_cast<std::size_t>(a)] > distance[static_cast<std::size_t>(b)]; });
    s.specimens = members;
    for (int i : members) s.distances.push_back(distance[static_cast<std::size_t>(i)]);
    std::vector<double> sorted(s.distances.rbegin(), s.distances.rend());
    s.lower_quartile = sample_quantile(sorted, 0.25);
    s.median = sample_quantile(sorted, 0.5);
    s.upper_quartile = sample_quantile(sorted, 0.75);
    s.upper_limit = s.upper_quartile + 1.5 * (s.upper_quartile - s.lower_quartile);
    for (std::size_t j = 0; j < s.specimens.size(); ++j)
        if (s.distances[j] >= s.upper_limit) s.flagged.push_back(s.specimens[j]);
    return s;
}

}  // namespace

OutlierResult find_outliers(const Eigen::MatrixXd& shapes, const std::vector<int>& groups) {
    const auto n = static_cast<int>(shapes.rows());
    if (n < 1) throw Refused("There are no specimens to look for outliers among.");
    // Quartiles of one or two distances from their own mean are the
    // distances themselves, and every specimen would be flagged.
    require_specimens(n, 3, "An outlier screen");
    if (!groups.empty() && static_cast<int>(groups.size()) != n)
        throw QuillanError("find_outliers: one group code per specimen is needed");
    OutlierResult r;
    r.distance.assign(static_cast<std::size_t>(n), 0.0);
    if (groups.empty()) {
        std::vector<int> all(static_cast<std::size_t>(n));
        std::iota(all.begin(), all.end(), 0);
        r.sets.push_back(measure_set(shapes, all, -1, r.distance));
        return r;
    }
    const int ngroups = *std::max_element(groups.begin(), groups.end()) + 1;
    for (int g = 0; g < ngroups; ++g) {
        std::vector<int> members;
        for (int i = 0; i < n; ++i)
            if (groups[static_cast<std::size_t>(i)] == g) members.push_back(i);
        if (!members.empty()) r.sets.push_back(measure_set(shapes, members, g, r.distance));
    }
    return r;
}

}  // namespace quillan
