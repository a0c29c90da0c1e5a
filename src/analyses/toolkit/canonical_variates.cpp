#include "analyses/toolkit/canonical_variates.hpp"

#include "platform/error.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <utility>

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
    MatrixXd unit;      // the scores with each component scaled to length 1 (orthonormal columns)
    VectorXd lengths;   // each component's length: scores = unit * lengths.asDiagonal()
};

// Components by the eigenvectors of the cross-products X'X of the centred
// shapes, when that is safe: with no more variables than specimens, and
// every component's length either clearly above the tolerance (a share of
// the largest above kClearlySome) or clearly nothing (below kClearlyNone).
// Squaring X squares its condition, so a component of little length could
// not be told from the superimposition's null directions that way; such
// data go to the singular value decomposition, which keeps the tolerance
// exactly (and is several times slower).
constexpr double kClearlySome = 1e-3, kClearlyNone = 1e-12;

std::optional<Components> components_by_cross_products(const MatrixXd& centred) {
    if (centred.rows() < centred.cols()) return std::nullopt;
    const Eigen::SelfAdjointEigenSolver<MatrixXd> eig(centred.transpose() * centred);
    const MatrixXd v = eig.eigenvectors().rowwise().reverse();  // the largest first
    MatrixXd scores = centred * v;
    const VectorXd lengths = scores.colwise().norm().transpose();
    const double top = lengths.size() > 0 ? lengths.maxCoeff() : 0;
    if (!(top > 0) || !std::isfinite(top)) return std::nullopt;
    Index r = 0;
    while (r < lengths.size() && lengths(r) > kClearlySome * top) ++r;
    for (Index j = r; j < lengths.size(); ++j)
        if (!(lengths(j) < kClearlyNone * top)) return std::nullopt;
    Components c;
    c.loadings = v.leftCols(r);
    c.scores = scores.leftCols(r);
    return c;
}

Components principal_components(const MatrixXd& shapes) {
    const MatrixXd centred = shapes.rowwise() - shapes.colwise().mean();
    std::optional<Components> quick = components_by_cross_products(centred);
    Components c;
    if (quick) c = std::move(*quick);
    else {
        const Eigen::BDCSVD<MatrixXd> svd(centred, Eigen::ComputeThinV);
        const VectorXd& s = svd.singularValues();
        Index r = 0;
        while (r < s.size() && s(0) > 0 && s(r) > kComponentTolerance * s(0)) ++r;
        c.loadings = svd.matrixV().leftCols(r);
        c.scores = centred * c.loadings;
    }
    // The scores' own column lengths rather than the singular values, so that
    // unit * lengths gives back the scores exactly.
    c.lengths = c.scores.colwise().norm().transpose();
    c.unit = c.scores * c.lengths.cwiseInverse().asDiagonal();
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
// Procrustes distances) for a grouping of the specimens, from the principal
// component scores X = W S (W orthonormal columns, S the components'
// lengths).  With w_g the groups' means of W, n_g their sizes and
// B = sum n_g w_g'w_g, the pooled within-group covariance of X is
// S (I - B) S / (n - G), so two groups' squared Mahalanobis distance is
// (n - G) d (I - B)^-1 d' with d = w_a - w_b, and their Procrustes distance
// is |d S|.  With fewer groups than components the inverse goes through
// the G x G matrix K = I - N^1/2 M M' N^1/2 (M the means, N the sizes):
// (I - B)^-1 = I + M'N^1/2 K^-1 N^1/2 M, and M d' is the difference of two
// columns of M M', so that one triangular solve with K's Cholesky factor
// serves every pair.  So a grouping costs its sums of W and a few G x G
// products, nothing of the order of c x c.  One object per worker: it keeps
// its scratch between groupings.
class PairDistances {
public:
    PairDistances(const MatrixXd& unit_transposed, const VectorXd& lengths, const std::vector<int>& sizes)
        : wt_(unit_transposed),
          lengths_(lengths),
          sizes_(sizes),
          ngroups_(static_cast<Index>(sizes.size())),
          means_(wt_.rows(), ngroups_),
          root_sizes_(ngroups_),
          delta_(wt_.rows()) {
        for (Index g = 0; g < ngroups_; ++g) root_sizes_(g) = std::sqrt(static_cast<double>(sizes[static_cast<std::size_t>(g)]));
        const bool small = ngroups_ < wt_.rows();
        gram_.resize(ngroups_, ngroups_);
        solved_.resize(ngroups_, ngroups_);
        k_.resize(small ? ngroups_ : wt_.rows(), small ? ngroups_ : wt_.rows());
        q_.resize(k_.rows());
    }

    void operator()(const std::vector<int>& groups, double* out) {
        means_.setZero();
        for (Index i = 0; i < wt_.cols(); ++i) means_.col(groups[static_cast<std::size_t>(i)]) += wt_.col(i);
        for (Index g = 0; g < ngroups_; ++g) means_.col(g) /= static_cast<double>(sizes_[static_cast<std::size_t>(g)]);
        const bool small = k_.rows() == ngroups_;
        if (small) {
            gram_.noalias() = means_.transpose() * means_;
            k_.noalias() = -(root_sizes_.asDiagonal() * gram_ * root_sizes_.asDiagonal());
            solved_.noalias() = root_sizes_.asDiagonal() * gram_;
        } else {
            k_.noalias() = -(means_ * root_sizes_.array().square().matrix().asDiagonal() * means_.transpose());
        }
        k_.diagonal().array() += 1;
        llt_.compute(k_);
        if (small) llt_.matrixL().solveInPlace(solved_);  // column g: L^-1 N^1/2 M w_g'
        const double df = static_cast<double>(wt_.cols() - ngroups_);
        const Index pairs = ngroups_ * (ngroups_ - 1) / 2;
        Index k = 0;
        for (Index a = 0; a < ngroups_; ++a)
            for (Index b = a + 1; b < ngroups_; ++b, ++k) {
                delta_ = means_.col(a) - means_.col(b);
                double d2 = 0;
                if (small) {
                    d2 = delta_.squaredNorm() + (solved_.col(a) - solved_.col(b)).squaredNorm();
                } else {
                    q_ = delta_;
                    llt_.matrixL().solveInPlace(q_);
                    d2 = q_.squaredNorm();
                }
                out[k] = std::sqrt(df * d2);
                out[pairs + k] = delta_.cwiseProduct(lengths_).norm();
            }
    }

private:
    const MatrixXd& wt_;  // components x specimens
    const VectorXd& lengths_;
    const std::vector<int>& sizes_;
    Index ngroups_;
    MatrixXd means_;  // components x groups
    VectorXd root_sizes_;
    MatrixXd gram_, k_, solved_;
    Eigen::LLT<MatrixXd> llt_;
    VectorXd delta_, q_;
};

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
    // The between-group covariance of the whitened scores is b'b, b the
    // means each scaled by its group's size (groups x components, of rank at
    // most groups - 1), so its eigenpairs come from the small bb': for its
    // eigenpair (m, e), b'e / sqrt(m) is the variate.
    const double g = static_cast<double>(zm.rows());
    MatrixXd b = zm;
    for (Index j = 0; j < zm.rows(); ++j) b.row(j) *= std::sqrt(r.sizes[static_cast<std::size_t>(j)] / (g - 1));
    const Eigen::SelfAdjointEigenSolver<MatrixXd> eig(b * b.transpose());
    const VectorXd values = eig.eigenvalues().reverse();
    Index keep = 0;
    while (keep < std::min<Index>(zm.cols(), zm.rows() - 1) && values(keep) > 1e-8 * values(0)) ++keep;
    r.eigenvalues = values.head(keep);
    MatrixXd u = b.transpose() * eig.eigenvectors().rowwise().reverse().leftCols(keep);
    for (Index v = 0; v < keep; ++v) u.col(v) /= std::sqrt(values(v));
    MatrixXd a = whiten * u;  // components x variates, unit within-group variance
    MatrixXd change = pc.loadings * (covariance * a);
    for (Index v = 0; v < keep; ++v) {  // a variate's sign: its largest shape change positive
        Index at = 0;
        change.col(v).cwiseAbs().maxCoeff(&at);
        if (change(at, v) < 0) {
            a.col(v) = -a.col(v);
            change.col(v) = -change.col(v);
        }
    }
    r.coefficients = pc.loadings * a;
    r.shape_change = std::move(change);
    r.scores = pc.scores * a;
}

struct CvaState {
    std::vector<int> order, shuffled;
    std::unique_ptr<PairDistances> distances;
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

    const MatrixXd unit_transposed = pc.unit.transpose();
    const std::size_t pairs = static_cast<std::size_t>(ngroups) * static_cast<std::size_t>(ngroups - 1) / 2;
    std::vector<double> observed(2 * pairs);
    PairDistances(unit_transposed, pc.lengths, r.sizes)(groups, observed.data());
    const auto n = static_cast<int>(groups.size());
    const PermutationBody<CvaState> body = [&](CvaState& s, long long, Rng& rng, double* stats) {
        randperm(s.order, n, rng);
        for (int i = 0; i < n; ++i)
            s.shuffled[static_cast<std::size_t>(i)] = groups[static_cast<std::size_t>(s.order[static_cast<std::size_t>(i)])];
        (*s.distances)(s.shuffled, stats);
        return false;
    };
    const PermutationResult res = engine.run<CvaState>(
        options.nperm, observed, std::vector<Exceeds>(observed.size(), Exceeds::Greater),
        [&] {
            auto s = std::make_unique<CvaState>();
            s->shuffled.resize(groups.size());
            s->distances = std::make_unique<PairDistances>(unit_transposed, pc.lengths, r.sizes);
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
