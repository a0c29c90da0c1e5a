#include "analyses/toolkit/two_block_pls.hpp"

#include "analyses/linear_models/linear_model.hpp"
#include "platform/error.hpp"

#include <algorithm>
#include <cmath>
#include <string>

namespace quillan {

namespace {

using Eigen::Index;
using Eigen::MatrixXd;
using Eigen::VectorXd;

MatrixXd centred(const MatrixXd& m) { return m.rowwise() - m.colwise().mean(); }

// A centred block with more columns than rows, as its principal component
// scores: a rotation within the block's span, which leaves every r-PLS as
// it is and makes each permutation's decomposition smaller.
MatrixXd reduced(const MatrixXd& c) {
    if (c.cols() <= c.rows()) return c;
    const Eigen::BDCSVD<MatrixXd> svd(c, Eigen::ComputeThinV);
    Index r = 0;
    while (r < svd.singularValues().size() && svd.singularValues()(r) > 1e-10 * svd.singularValues()(0)) ++r;
    if (r == 0) return c.leftCols(1);
    return c * svd.matrixV().leftCols(r);
}

double correlation(const VectorXd& a, const VectorXd& b) {
    const VectorXd ca = a.array() - a.mean(), cb = b.array() - b.mean();
    return ca.dot(cb) / std::sqrt(ca.squaredNorm() * cb.squaredNorm());
}

// The r of the first pair of PLS scores of centred blocks x and y.
double first_r(const MatrixXd& x, const MatrixXd& y) {
    if (x.cols() == 1 && y.cols() == 1) return correlation(x.col(0), y.col(0));
    const Eigen::JacobiSVD<MatrixXd> svd(x.transpose() * y, Eigen::ComputeThinU | Eigen::ComputeThinV);
    return correlation(x * svd.matrixU().col(0), y * svd.matrixV().col(0));
}

// The observed decomposition, on the blocks as given.
PlsResult observed_pls(const MatrixXd& x, const MatrixXd& y) {
    PlsResult r;
    const MatrixXd s12 = x.transpose() * y / static_cast<double>(x.rows() - 1);
    if (s12.size() == 1) {
        r.r_pls = correlation(x.col(0), y.col(0));
        r.axes.push_back({std::abs(s12(0, 0)), 100, r.r_pls});
        r.left = r.right = MatrixXd::Ones(1, 1);
        r.x_scores = x;
        r.y_scores = y;
        return r;
    }
    const Eigen::BDCSVD<MatrixXd> svd(s12, Eigen::ComputeThinU | Eigen::ComputeThinV);
    r.left = svd.matrixU();
    r.right = svd.matrixV();
    // Each axis's sign: its left vector's largest coefficient positive.
    for (Index j = 0; j < r.left.cols(); ++j) {
        Index at = 0;
        r.left.col(j).cwiseAbs().maxCoeff(&at);
        if (r.left(at, j) < 0) {
            r.left.col(j) *= -1;
            r.right.col(j) *= -1;
        }
    }
    r.x_scores = x * r.left;
    r.y_scores = y * r.right;
    const double total = svd.singularValues().squaredNorm();
    for (Index j = 0; j < r.left.cols(); ++j) {
        const double d = svd.singularValues()(j);
        r.axes.push_back({d, 100 * d * d / total, correlation(r.x_scores.col(j), r.y_scores.col(j))});
    }
    r.r_pls = r.axes.front().r;
    return r;
}

struct PlsState {
    std::vector<int> order;
    std::vector<MatrixXd> shuffled;  // each pair's first block, rows shuffled
};

double p_of(long long ge, long long nperm) { return (static_cast<double>(ge) + 1) / (static_cast<double>(nperm) + 1); }

// Effect size of statistic s of a run that kept every value, the observed first.
double z_of(const PermutationResult& res, std::size_t s, std::size_t nstats, double observed, long long nperm) {
    std::vector<double> values{observed};
    for (long long i = 0; i < nperm; ++i) values.push_back(res.values[static_cast<std::size_t>(i) * nstats + s]);
    return effect_size(std::move(values));
}

// Shuffles the rows of each pair's first block together and takes every
// pair's r (absolute) and their mean.
PermutationResult permute_pairs(PermutationEngine& engine, const std::vector<MatrixXd>& first,
                                const std::vector<MatrixXd>& second, const std::vector<double>& observed, long long nperm,
                                int loop) {
    const auto n = static_cast<int>(first.front().rows());
    const std::size_t pairs = first.size();
    const PermutationBody<PlsState> body = [&](PlsState& s, long long, Rng& rng, double* stats) {
        randperm(s.order, n, rng);
        double sum = 0;
        for (std::size_t k = 0; k < pairs; ++k) {
            for (int i = 0; i < n; ++i) s.shuffled[k].row(i) = first[k].row(s.order[static_cast<std::size_t>(i)]);
            stats[k] = std::abs(first_r(s.shuffled[k], second[k]));
            sum += stats[k];
        }
        stats[pairs] = sum / static_cast<double>(pairs);
        return false;
    };
    return engine.run<PlsState>(
        nperm, observed, std::vector<Exceeds>(observed.size(), Exceeds::Greater),
        [&] {
            auto s = std::make_unique<PlsState>();
            for (const MatrixXd& f : first) s->shuffled.emplace_back(f.rows(), f.cols());
            return s;
        },
        body, loop, true);
}

}  // namespace

MatrixXd module_columns(const MatrixXd& shapes, const std::vector<int>& module, int m, int dimensions) {
    std::vector<Index> cols;
    for (std::size_t l = 0; l < module.size(); ++l)
        if (module[l] == m)
            for (int d = 0; d < dimensions; ++d) cols.push_back(static_cast<Index>(l) * dimensions + d);
    MatrixXd out(shapes.rows(), static_cast<Index>(cols.size()));
    for (std::size_t c = 0; c < cols.size(); ++c) out.col(static_cast<Index>(c)) = shapes.col(cols[c]);
    return out;
}

PlsResult two_block_pls(PermutationEngine& engine, const MatrixXd& x, const MatrixXd& y, long long nperm, int loop) {
    if (x.rows() != y.rows()) throw QuillanError("two_block_pls: the blocks need the same specimens");
    if (x.rows() < 3) throw Refused("A two-block PLS needs at least three specimens.");
    const MatrixXd cx = centred(x), cy = centred(y);
    if (!(cx.squaredNorm() > 0) || !(cy.squaredNorm() > 0) || !cx.allFinite() || !cy.allFinite())
        throw Refused("A block of the PLS does not vary among the specimens.");
    PlsResult r = observed_pls(cx, cy);
    const std::vector<double> observed{std::abs(r.r_pls), std::abs(r.r_pls)};
    const PermutationResult res = permute_pairs(engine, {reduced(cx)}, {reduced(cy)}, observed, nperm, loop);
    r.count_ge = res.counts_ge[0];
    r.p = p_of(r.count_ge, nperm);
    r.z = z_of(res, 0, 2, std::abs(r.r_pls), nperm);
    return r;
}

IntegrationResult integration_test(PermutationEngine& engine, const MatrixXd& shapes, const std::vector<int>& module,
                                   int dimensions, long long nperm, int loop) {
    const int modules = module.empty() ? 0 : *std::max_element(module.begin(), module.end()) + 1;
    if (modules < 2) throw Refused("Integration needs a partition of the landmarks into at least two modules.");
    if (shapes.rows() < 3) throw Refused("A two-block PLS needs at least three specimens.");
    const MatrixXd c = centred(shapes);
    IntegrationResult r;
    r.nperm = nperm;
    std::vector<MatrixXd> blocks, first, second;
    for (int m = 0; m < modules; ++m) {
        blocks.push_back(module_columns(c, module, m, dimensions));
        if (!(blocks.back().squaredNorm() > 0) || !blocks.back().allFinite())
            throw Refused("Module " + std::to_string(m + 1) + " does not vary among the specimens.");
    }
    std::vector<double> observed;
    for (int a = 0; a < modules; ++a)
        for (int b = a + 1; b < modules; ++b) {
            r.pairs.emplace_back(a, b);
            r.pls.push_back(observed_pls(blocks[static_cast<std::size_t>(a)], blocks[static_cast<std::size_t>(b)]));
            first.push_back(reduced(blocks[static_cast<std::size_t>(a)]));
            second.push_back(reduced(blocks[static_cast<std::size_t>(b)]));
            observed.push_back(std::abs(r.pls.back().r_pls));
            r.mean_r += observed.back();
        }
    r.mean_r /= static_cast<double>(r.pairs.size());
    observed.push_back(r.mean_r);
    const PermutationResult res = permute_pairs(engine, first, second, observed, nperm, loop);
    const std::size_t nstats = observed.size();
    for (std::size_t k = 0; k < r.pls.size(); ++k) {
        r.pls[k].count_ge = res.counts_ge[k];
        r.pls[k].p = p_of(res.counts_ge[k], nperm);
        r.pls[k].z = z_of(res, k, nstats, observed[k], nperm);
    }
    r.count_ge = res.counts_ge.back();
    r.p = p_of(r.count_ge, nperm);
    r.z = z_of(res, nstats - 1, nstats, r.mean_r, nperm);
    return r;
}

}  // namespace quillan
