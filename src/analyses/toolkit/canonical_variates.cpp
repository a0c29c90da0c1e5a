#include "analyses/toolkit/canonical_variates.hpp"

#include "platform/error.hpp"

#include <algorithm>
#include <cmath>
#include <string>

namespace quillan {

namespace {

using Eigen::Index;
using Eigen::MatrixXd;
using Eigen::VectorXd;

// The components of non-zero variance: singular values above this share of
// the largest.  The dimensions a superimposition removes come out at the
// size of rounding, some eight orders below this.
constexpr double kComponentTolerance = 1e-10;

struct Components {
    MatrixXd loadings;  // shape variables x components
    MatrixXd scores;    // specimens x components, about the mean
};

Components principal_components(const MatrixXd& shapes) {
    const MatrixXd centred = shapes.rowwise() - shapes.colwise().mean();
    const Eigen::BDCSVD<MatrixXd> svd(centred, Eigen::ComputeThinV);
    const VectorXd& s = svd.singularValues();
    Index r = 0;
    while (r < s.size() && s(0) > 0 && s(r) > kComponentTolerance * s(0)) ++r;
    Components c;
    c.loadings = svd.matrixV().leftCols(r);
    c.scores = centred * c.loadings;
    return c;
}

MatrixXd group_means(const MatrixXd& x, const std::vector<int>& groups, const std::vector<int>& sizes) {
    MatrixXd m = MatrixXd::Zero(static_cast<Index>(sizes.size()), x.cols());
    for (std::size_t i = 0; i < groups.size(); ++i) m.row(groups[i]) += x.row(static_cast<Index>(i));
    for (std::size_t g = 0; g < sizes.size(); ++g) m.row(static_cast<Index>(g)) /= static_cast<double>(sizes[g]);
    return m;
}

// The pooled within-group covariance of x about the group means m.
MatrixXd pooled_covariance(const MatrixXd& x, const std::vector<int>& groups, const MatrixXd& m) {
    MatrixXd e = x;
    for (std::size_t i = 0; i < groups.size(); ++i) e.row(static_cast<Index>(i)) -= m.row(groups[i]);
    return e.transpose() * e / static_cast<double>(x.rows() - m.rows());
}

// Squared Mahalanobis distances of every row of z (whitened) from every
// group mean zm (whitened).
MatrixXd squared_distances(const MatrixXd& z, const MatrixXd& zm) {
    MatrixXd d(z.rows(), zm.rows());
    for (Index j = 0; j < zm.rows(); ++j) d.col(j) = (z.rowwise() - zm.row(j)).rowwise().squaredNorm();
    return d;
}

// Posteriors from 0.5 d^2 - log prior, each row scaled by its own best so
// that no exponential underflows for every group at once.
Classification classify(const MatrixXd& half_distance, const VectorXd& log_prior, const std::vector<int>& groups) {
    Classification c;
    const Index n = half_distance.rows(), g = half_distance.cols();
    c.posterior.resize(n, g);
    c.confusion = Eigen::MatrixXi::Zero(g, g);
    int correct = 0;
    for (Index i = 0; i < n; ++i) {
        const Eigen::RowVectorXd score = half_distance.row(i) - log_prior.transpose();
        Index best = 0;
        const double lowest = score.minCoeff(&best);
        c.posterior.row(i) = (-(score.array() - lowest)).exp().matrix();
        c.posterior.row(i) /= c.posterior.row(i).sum();
        c.predicted.push_back(static_cast<int>(best));
        ++c.confusion(groups[static_cast<std::size_t>(i)], best);
        correct += groups[static_cast<std::size_t>(i)] == best;
    }
    c.percent_correct = 100.0 * correct / static_cast<double>(n);
    return c;
}

// Leave-one-out squared distances from the whole sample's, updated for the
// specimen left out of its own group's mean and of the pooled covariance
// (as MASS::lda(CV = TRUE) updates them).
MatrixXd left_out_distances(const MatrixXd& z, const MatrixXd& zm, const std::vector<int>& groups,
                            const std::vector<int>& sizes) {
    const MatrixXd d2 = squared_distances(z, zm);
    const double n = static_cast<double>(z.rows()), k = static_cast<double>(zm.rows());
    MatrixXd out(d2.rows(), d2.cols());
    for (Index i = 0; i < z.rows(); ++i) {
        const int own = groups[static_cast<std::size_t>(i)];
        const double nc = sizes[static_cast<std::size_t>(own)];
        const double cc = nc / ((nc - 1) * (n - k));
        const double self = d2(i, own);
        const Eigen::RowVectorXd dev2 = z.row(i) - zm.row(own);
        for (Index j = 0; j < zm.rows(); ++j) {
            const double t = (z.row(i) - zm.row(j)).dot(dev2);
            out(i, j) = (n - 1 - k) / (n - k) * (d2(i, j) + cc * t * t / (1 - cc * self));
        }
        out(i, own) = self * (n - 1 - k) / (n - k) * (nc / (nc - 1)) * (nc / (nc - 1)) / (1 - cc * self);
    }
    return out;
}

}  // namespace

namespace {

// Every pair's Mahalanobis distance (first the pairs in order, then their
// Procrustes distances) for the grouping `groups` of the component scores
// x (about their mean), whose cross-products are `total`.
void pair_distances(const MatrixXd& x, const MatrixXd& total, const std::vector<int>& groups, const std::vector<int>& sizes,
                    double* out) {
    const MatrixXd m = group_means(x, groups, sizes);
    MatrixXd within = total;
    for (Index g = 0; g < m.rows(); ++g) within -= sizes[static_cast<std::size_t>(g)] * m.row(g).transpose() * m.row(g);
    within /= static_cast<double>(x.rows() - m.rows());
    const Eigen::LLT<MatrixXd> llt(within);
    const Index pairs = m.rows() * (m.rows() - 1) / 2;
    Index k = 0;
    for (Index a = 0; a < m.rows(); ++a)
        for (Index b = a + 1; b < m.rows(); ++b, ++k) {
            const VectorXd diff = (m.row(a) - m.row(b)).transpose();
            out[k] = llt.matrixL().solve(diff).norm();
            out[pairs + k] = diff.norm();
        }
}

void check_groups(const std::vector<int>& groups, Index n, const std::vector<int>& sizes, Index components, bool cross_validate) {
    if (static_cast<Index>(groups.size()) != n) throw QuillanError("canonical_variates: one group code per specimen is needed");
    if (sizes.size() < 2) throw Refused("Canonical variates need at least two groups.");
    for (std::size_t g = 0; g < sizes.size(); ++g) {
        if (sizes[g] == 0) throw QuillanError("canonical_variates: every group code from 0 up needs a specimen");
        if (cross_validate && sizes[g] < 2)
            throw Refused("Group " + std::to_string(g + 1) +
                          " has a single specimen, which cannot be left out of its own group in the cross-validation.");
    }
    const Index df = n - static_cast<Index>(sizes.size());
    if (df < components)
        throw Refused("The pooled within-group covariance of the " + std::to_string(components) +
                      " principal components of non-zero variance needs at least " +
                      std::to_string(components + static_cast<Index>(sizes.size())) + " specimens in " +
                      std::to_string(sizes.size()) + " groups; there are " + std::to_string(n) +
                      ".  Use fewer landmarks or more specimens.");
}

// The canonical variates: eigenvectors of the between-group covariance of
// the whitened scores; the coefficients back in shape space.
void variates(CvaResult& r, const Components& pc, const MatrixXd& whiten, const MatrixXd& covariance, const MatrixXd& zm) {
    const double g = static_cast<double>(zm.rows());
    MatrixXd between = MatrixXd::Zero(zm.cols(), zm.cols());
    for (Index j = 0; j < zm.rows(); ++j)
        between += r.sizes[static_cast<std::size_t>(j)] * zm.row(j).transpose() * zm.row(j) / (g - 1);
    const Eigen::SelfAdjointEigenSolver<MatrixXd> eig(between);
    const VectorXd values = eig.eigenvalues().reverse();
    Index keep = 0;
    while (keep < std::min<Index>(values.size(), zm.rows() - 1) && values(keep) > 1e-8 * values(0)) ++keep;
    r.eigenvalues = values.head(keep);
    const MatrixXd u = eig.eigenvectors().rowwise().reverse().leftCols(keep);
    MatrixXd a = whiten * u;            // components x variates, unit within-group variance
    for (Index v = 0; v < keep; ++v) {  // a variate's sign: its largest shape change positive
        Index at = 0;
        (pc.loadings * covariance * a.col(v)).cwiseAbs().maxCoeff(&at);
        if ((pc.loadings.row(at) * covariance * a.col(v))(0) < 0) a.col(v) = -a.col(v);
    }
    r.coefficients = pc.loadings * a;
    r.shape_change = pc.loadings * covariance * a;
    r.scores = pc.scores * a;
}

struct CvaState {
    std::vector<int> order, shuffled;
};

}  // namespace

CvaResult canonical_variates(PermutationEngine& engine, const MatrixXd& shapes, const std::vector<int>& groups,
                             const CvaOptions& options, int loop) {
    const Components pc = principal_components(shapes);
    if (pc.scores.cols() == 0 || !pc.scores.allFinite())
        throw Refused("The specimens have no variation of shape to find canonical variates in.");
    CvaResult r;
    r.components = static_cast<int>(pc.scores.cols());
    r.nperm = options.nperm;
    const auto ngroups = groups.empty() ? 0 : *std::max_element(groups.begin(), groups.end()) + 1;
    r.sizes.assign(static_cast<std::size_t>(std::max(ngroups, 0)), 0);
    for (int g : groups) ++r.sizes[static_cast<std::size_t>(g)];
    check_groups(groups, shapes.rows(), r.sizes, pc.scores.cols(), options.cross_validate);
    const MatrixXd m = group_means(pc.scores, groups, r.sizes);
    const MatrixXd covariance = pooled_covariance(pc.scores, groups, m);
    const Eigen::SelfAdjointEigenSolver<MatrixXd> within(covariance);
    if (within.eigenvalues()(0) <= 1e-12 * within.eigenvalues().maxCoeff())
        throw Refused(
            "The pooled within-group covariance of the principal components is singular: some shape variation "
            "lies within no group.  Use fewer landmarks or more specimens.");
    const MatrixXd whiten = within.eigenvectors() * within.eigenvalues().cwiseSqrt().cwiseInverse().asDiagonal();
    const MatrixXd z = pc.scores * whiten, zm = m * whiten;
    variates(r, pc, whiten, covariance, zm);

    VectorXd log_prior(ngroups);
    for (int g = 0; g < ngroups; ++g)
        log_prior(g) = std::log(r.sizes[static_cast<std::size_t>(g)] / static_cast<double>(shapes.rows()));
    r.resubstitution = classify(0.5 * squared_distances(z, zm), log_prior, groups);
    if (options.cross_validate) r.cross_validated = classify(0.5 * left_out_distances(z, zm, groups, r.sizes), log_prior, groups);

    const MatrixXd total = pc.scores.transpose() * pc.scores;
    const std::size_t pairs = static_cast<std::size_t>(ngroups) * static_cast<std::size_t>(ngroups - 1) / 2;
    std::vector<double> observed(2 * pairs);
    pair_distances(pc.scores, total, groups, r.sizes, observed.data());
    const auto n = static_cast<int>(groups.size());
    const PermutationBody<CvaState> body = [&](CvaState& s, long long, Rng& rng, double* stats) {
        randperm(s.order, n, rng);
        for (int i = 0; i < n; ++i)
            s.shuffled[static_cast<std::size_t>(i)] = groups[static_cast<std::size_t>(s.order[static_cast<std::size_t>(i)])];
        pair_distances(pc.scores, total, s.shuffled, r.sizes, stats);
        return false;
    };
    const PermutationResult res = engine.run<CvaState>(
        options.nperm, observed, std::vector<Exceeds>(observed.size(), Exceeds::Greater),
        [&] {
            auto s = std::make_unique<CvaState>();
            s->shuffled.resize(groups.size());
            return s;
        },
        body, loop);
    const auto p_of = [&](long long ge) { return (static_cast<double>(ge) + 1) / (static_cast<double>(options.nperm) + 1); };
    std::size_t k = 0;
    for (int a = 0; a < ngroups; ++a)
        for (int b = a + 1; b < ngroups; ++b, ++k)
            r.pairs.push_back({a, b, observed[k], observed[pairs + k], res.counts_ge[k], res.counts_ge[pairs + k],
                               p_of(res.counts_ge[k]), p_of(res.counts_ge[pairs + k])});
    return r;
}

}  // namespace quillan
