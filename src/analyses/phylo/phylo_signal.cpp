#include "analyses/phylo/phylo_signal.hpp"

#include "analyses/linear_models/linear_model.hpp"
#include "platform/random.hpp"

namespace quillan {

namespace {

// What Brownian motion on the tree expects of the ratio's two traces.
double expected_ratio(const TreeAlgebra& tree) {
    const double n = tree.size();
    return (tree.trace() - n / tree.ones_inverse_ones()) / (n - 1);
}

// The squared distances of the rows from `mean`: the numerator, which
// a shuffle of the rows leaves as it is but for the mean.
double spread_about(const RowMatrix& x, const double* mean) {
    double ss = 0;
    for (Eigen::Index i = 0; i < x.rows(); ++i) {
        const double* r = x.data() + i * x.cols();
        for (Eigen::Index j = 0; j < x.cols(); ++j) ss += (r[j] - mean[j]) * (r[j] - mean[j]);
    }
    return ss;
}

struct SignalState {
    std::vector<int> perm;
    std::vector<double> slots, mean;
};

double k_of(const TreeAlgebra& tree, const RowMatrix& x, const int* perm, SignalState& s, double expected) {
    s.mean.resize(static_cast<std::size_t>(x.cols()));
    const double contrasts = tree.contrast_ss(x, perm, s.slots, s.mean.data());
    return spread_about(x, s.mean.data()) / contrasts / expected;
}

// The scores of the phylogenetically aligned components: (X - 1 xbar) V,
// V the right singular vectors of C (X - 1 xbar), those with a singular
// value of their own.
Eigen::MatrixXd aligned_scores(const TreeAlgebra& tree, const Eigen::MatrixXd& x) {
    const Eigen::MatrixXd z = x.rowwise() - x.colwise().mean();
    const Eigen::MatrixXd saz = tree.covariance_times(z);
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eig(saz.transpose() * saz);
    const Eigen::Index p = x.cols();
    const double largest = eig.eigenvalues()(p - 1);
    Eigen::Index k = 0;
    while (k < p && k < x.rows() && eig.eigenvalues()(p - 1 - k) > 1e-20 * largest) ++k;
    return z * eig.eigenvectors().rightCols(k).rowwise().reverse();
}

}  // namespace

double kmult(const TreeAlgebra& tree, const Eigen::MatrixXd& x) {
    const RowMatrix rows = x;
    SignalState s;
    return k_of(tree, rows, nullptr, s, expected_ratio(tree));
}

PhyloSignal phylo_signal(PermutationEngine& engine, const TreeAlgebra& tree, const Eigen::MatrixXd& x, long long nperm,
                         int loop) {
    const RowMatrix rows = x;
    const double expected = expected_ratio(tree);
    PhyloSignal r;
    r.nperm = nperm;
    {
        SignalState s;
        r.k = k_of(tree, rows, nullptr, s, expected);
    }
    const int n = tree.size();
    const PermutationResult res = engine.run<SignalState>(
        nperm, {r.k}, {Exceeds::Greater}, [] { return std::make_unique<SignalState>(); },
        [&](SignalState& s, long long, Rng& rng, double* stats) {
            randperm(s.perm, n, rng);
            stats[0] = k_of(tree, rows, s.perm.data(), s, expected);
            return false;
        },
        loop, true);
    r.count_ge = res.counts_ge[0];
    r.p = (static_cast<double>(r.count_ge) + 1) / (static_cast<double>(nperm) + 1);
    std::vector<double> values{r.k};
    values.insert(values.end(), res.values.begin(), res.values.end());
    r.z = effect_size(std::move(values), EffectRecipe::Geomorph);
    // K of the first j components sums their columns' two traces.
    const Eigen::MatrixXd scores = aligned_scores(tree, x);
    const Eigen::MatrixXd contrasts = tree.transform(scores);
    const Eigen::RowVectorXd mean = tree.gls_mean(scores);
    double spread = 0, contrast = 0;
    for (Eigen::Index j = 0; j < scores.cols(); ++j) {
        spread += (scores.col(j).array() - mean(j)).square().sum();
        contrast += contrasts.col(j).head(n - 1).squaredNorm();
        r.k_by_component.push_back(spread / contrast / expected);
    }
    return r;
}

}  // namespace quillan
