#include "analyses/toolkit/disparity.hpp"

#include "platform/error.hpp"

#include <algorithm>
#include <cmath>

namespace quillan {

std::vector<double> squared_residuals(const Eigen::MatrixXd& shapes, const Eigen::MatrixXd& design) {
    const Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(design);
    const Eigen::MatrixXd residuals = shapes - design * qr.solve(shapes);
    std::vector<double> out(static_cast<std::size_t>(shapes.rows()));
    for (Eigen::Index i = 0; i < shapes.rows(); ++i) out[static_cast<std::size_t>(i)] = residuals.row(i).squaredNorm();
    return out;
}

namespace {

// The mean of `squared` per group, the specimens taken in the order `order`
// gives (identity: the observed grouping).
void group_means(const std::vector<double>& squared, const std::vector<int>& groups, const std::vector<int>* order,
                 const std::vector<int>& sizes, std::vector<double>& means) {
    std::fill(means.begin(), means.end(), 0.0);
    for (std::size_t i = 0; i < groups.size(); ++i)
        means[static_cast<std::size_t>(groups[i])] += squared[order ? static_cast<std::size_t>((*order)[i]) : i];
    for (std::size_t g = 0; g < means.size(); ++g) means[g] /= static_cast<double>(sizes[g]);
}

void pair_differences(const std::vector<double>& means, double* out) {
    std::size_t k = 0;
    for (std::size_t a = 0; a < means.size(); ++a)
        for (std::size_t b = a + 1; b < means.size(); ++b) out[k++] = std::abs(means[a] - means[b]);
}

struct DisparityState {
    std::vector<int> order;
    std::vector<double> means;
};

}  // namespace

DisparityResult disparity_test(PermutationEngine& engine, const std::vector<double>& squared, const std::vector<int>& groups,
                               long long nperm, int loop) {
    if (groups.size() != squared.size() || groups.empty())
        throw QuillanError("disparity_test: one group code per specimen is needed");
    const auto ngroups = static_cast<std::size_t>(*std::max_element(groups.begin(), groups.end()) + 1);
    DisparityResult r;
    r.nperm = nperm;
    r.sizes.assign(ngroups, 0);
    for (int g : groups) ++r.sizes[static_cast<std::size_t>(g)];
    if (std::find(r.sizes.begin(), r.sizes.end(), 0) != r.sizes.end())
        throw QuillanError("disparity_test: every group code from 0 up needs a specimen");
    r.variance.assign(ngroups, 0.0);
    group_means(squared, groups, nullptr, r.sizes, r.variance);
    std::vector<double> observed(ngroups * (ngroups - 1) / 2);
    pair_differences(r.variance, observed.data());
    if (observed.empty()) return r;
    const auto n = static_cast<int>(squared.size());
    const PermutationBody<DisparityState> body = [&](DisparityState& s, long long, Rng& rng, double* stats) {
        randperm(s.order, n, rng);
        group_means(squared, groups, &s.order, r.sizes, s.means);
        pair_differences(s.means, stats);
        return false;
    };
    const PermutationResult res = engine.run<DisparityState>(
        nperm, observed, std::vector<Exceeds>(observed.size(), Exceeds::Greater),
        [&] {
            auto s = std::make_unique<DisparityState>();
            s->means.resize(ngroups);
            return s;
        },
        body, loop);
    std::size_t k = 0;
    for (int a = 0; a < static_cast<int>(ngroups); ++a)
        for (int b = a + 1; b < static_cast<int>(ngroups); ++b, ++k)
            r.pairs.push_back({a, b, observed[k], res.counts_ge[k],
                               (static_cast<double>(res.counts_ge[k]) + 1) / (static_cast<double>(nperm) + 1)});
    return r;
}

}  // namespace quillan
