#include "analyses/phylo/evol_rates.hpp"

#include "analyses/linear_models/linear_model.hpp"
#include "platform/error.hpp"
#include "platform/random.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace quillan {

namespace {

// A uniform draw in (0, 1) from the top 53 bits.
double open_uniform(Rng& rng) { return (static_cast<double>(rng.next() >> 11) + 0.5) * 0x1p-53; }

// Standard normal draws by Marsaglia's polar method, two at a time.
struct Normals {
    bool kept = false;
    double spare = 0;
    double next(Rng& rng) {
        if (kept) {
            kept = false;
            return spare;
        }
        for (;;) {
            const double u = 2 * open_uniform(rng) - 1, v = 2 * open_uniform(rng) - 1, s = u * u + v * v;
            if (s >= 1 || s == 0) continue;
            const double f = std::sqrt(-2 * std::log(s) / s);
            spare = v * f;
            kept = true;
            return u * f;
        }
    }
};

// What a random set is drawn from under Brownian motion.  Data simulated on
// the tree with rate matrix R and transformed as the observed ones are,
// C^-1/2 (X - 1a), are distributed as (I - uu') G L' with G of independent
// standard normals, LL' = R and u = C^-1/2 1 / |C^-1/2 1| (the root's value
// drops out, and C^-1/2 (I - 1w') C (I - w1') C^-1/2 = I - uu'), so a set
// costs n p^2 and no walk down the tree.
struct Simulation {
    Eigen::VectorXd u;
    Eigen::MatrixXd lt;  // L'
};

Simulation simulation_of(const Eigen::VectorXd& root_of_ones, const Eigen::MatrixXd& rate) {
    const Eigen::LLT<Eigen::MatrixXd> llt(rate);
    if (llt.info() != Eigen::Success) throw Refused("The rate matrix of the simulations is not positive definite.");
    return {root_of_ones / root_of_ones.norm(), llt.matrixL().transpose()};
}

// One random set's state: the shuffle, the normals and their transform,
// the rates and the statistics' scratch.
struct DrawState {
    std::vector<int> perm;
    std::vector<double> sums, rates, slotted;
    Eigen::MatrixXd g, e;
    Normals normals;
};

void simulate(const Simulation& s, Rng& rng, DrawState& st) {
    const Eigen::Index n = s.u.size(), p = s.lt.rows();
    st.normals = Normals{};  // a set draws from its own stream only
    st.g.resize(n, p);
    for (Eigen::Index i = 0; i < n; ++i)
        for (Eigen::Index j = 0; j < p; ++j) st.g(i, j) = st.normals.next(rng);
    const Eigen::RowVectorXd along = s.u.transpose() * st.g;
    st.g.noalias() -= s.u * along;
    st.e.noalias() = st.g * s.lt;
}

// The statistics of a set of rates: the largest over the smallest, then,
// with more than two, each pair's larger over its smaller.
std::size_t statistic_count(std::size_t sets) { return sets > 2 ? 1 + sets * (sets - 1) / 2 : 1; }

void ratios_of(const std::vector<double>& rates, double* stats) {
    const auto [lo, hi] = std::minmax_element(rates.begin(), rates.end());
    stats[0] = *hi / *lo;
    if (rates.size() <= 2) return;
    std::size_t k = 1;
    for (std::size_t a = 0; a < rates.size(); ++a)
        for (std::size_t b = a + 1; b < rates.size(); ++b)
            stats[k++] = std::max(rates[a], rates[b]) / std::min(rates[a], rates[b]);
}

// A random set whose groups hold the observed tips (a shuffle within them)
// gives the observed ratios but for the order of its sums: counted as ties.
void snap_to(const std::vector<double>& observed, double* stats) {
    for (std::size_t s = 0; s < observed.size(); ++s)
        if (std::abs(stats[s] - observed[s]) <= 1e-12 * observed[s]) stats[s] = observed[s];
}

using DrawRates = std::function<void(DrawState&, Rng&)>;  // fills state.rates

// The ratios of `r.rates`, and their test against the sets `draw` makes;
// `slot[m]` is the set's rate that stands for rate m (the pairing of
// geomorph's simulated modules).  `observed_twice`: the observed order is
// one of the nperm permutations.
void test_ratios(PermutationEngine& engine, EvolRates& r, const RateOptions& o, bool observed_twice, const std::vector<int>& slot,
                 const DrawRates& draw) {
    const std::size_t sets = r.rates.size(), nstats = statistic_count(sets);
    for (const double rate : r.rates)
        if (!(rate > 0) || !std::isfinite(rate))
            throw Refused("A rate is zero (or not a number): the shapes do not vary within one of the sets compared.");
    std::vector<double> observed(nstats);
    ratios_of(r.rates, observed.data());
    r.ratio = observed[0];
    r.drawn = observed_twice ? o.nperm - 1 : o.nperm;
    PermutationResult res{std::vector<long long>(nstats, 0), std::vector<long long>(nstats, 0), {}, 0};
    if (r.drawn > 0)
        res = engine.run<DrawState>(
            r.drawn, observed, std::vector<Exceeds>(nstats, Exceeds::Greater), [] { return std::make_unique<DrawState>(); },
            [&](DrawState& st, long long, Rng& rng, double* stats) {
                draw(st, rng);
                st.slotted.resize(sets);
                for (std::size_t m = 0; m < sets; ++m) st.slotted[m] = st.rates[static_cast<std::size_t>(slot[m])];
                ratios_of(st.slotted, stats);
                snap_to(observed, stats);
                return false;
            },
            o.loop, true);
    // geomorph's rank of the observed value among them all: ties at half,
    // the observed order, when it is one of the sets, a tie.
    const long long twice = observed_twice ? 1 : 0;
    const double total = static_cast<double>(o.nperm) + 1;
    const auto p_of = [&](std::size_t s) {
        const auto ties = static_cast<double>(res.counts_ge[s] - res.counts[s] + twice);
        return (static_cast<double>(res.counts[s]) + 0.5 * ties + 1) / total;
    };
    r.exceeded = res.counts[0];
    r.ties = res.counts_ge[0] - res.counts[0] + twice;
    r.p = p_of(0);
    std::vector<double> values(observed_twice ? 2 : 1, r.ratio);
    for (long long i = 0; i < r.drawn; ++i) values.push_back(res.values[static_cast<std::size_t>(i) * nstats]);
    r.z = effect_size(std::move(values), EffectRecipe::Geomorph);
    std::size_t k = 1;
    for (int a = 0; a < static_cast<int>(sets); ++a)
        for (int b = a + 1; b < static_cast<int>(sets); ++b, ++k) {
            const bool one = sets == 2;
            r.pairs.push_back({a, b, one ? r.ratio : observed[k], one ? r.p : p_of(k)});
        }
}

std::vector<int> identity(std::size_t n) {
    std::vector<int> v(n);
    std::iota(v.begin(), v.end(), 0);
    return v;
}

// geomorph makes its module factor's levels sorted, but draws its simulated
// modules in the order the labels first appear: observed pair (a, b) of
// sorted labels meets the simulated modules that appear a-th and b-th.
// With `labels` in the order of first appearance, module m's observed rate
// is the rank of its label among the sorted ones, so it meets the simulated
// module numbered by that rank.
std::vector<int> geomorph_module_slots(const std::vector<std::string>& labels) {
    std::vector<int> order = identity(labels.size()), slot(labels.size());
    std::sort(order.begin(), order.end(),
              [&](int a, int b) { return labels[static_cast<std::size_t>(a)] < labels[static_cast<std::size_t>(b)]; });
    for (std::size_t rank = 0; rank < order.size(); ++rank) slot[static_cast<std::size_t>(order[rank])] = static_cast<int>(rank);
    return slot;
}

Eigen::MatrixXd geomorph_make_pd(const Eigen::MatrixXd& r) {
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> first(r);
    const Eigen::VectorXd& d = first.eigenvalues();  // ascending
    const double largest = d(d.size() - 1);
    if (!(largest > 0)) throw Refused("The shapes do not vary over the tips: there is no rate matrix to simulate from.");
    Eigen::MatrixXd x = Eigen::MatrixXd::Zero(r.rows(), r.cols());
    for (Eigen::Index k = 0; k < d.size(); ++k)
        if (d(k) > 1e-6 * largest) x += d(k) * first.eigenvectors().col(k) * first.eigenvectors().col(k).transpose();
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> second(x);
    const double floor = 1e-8 * std::abs(second.eigenvalues()(d.size() - 1));
    if (second.eigenvalues()(0) >= floor) return x;
    const Eigen::VectorXd diagonal = x.diagonal();
    const Eigen::MatrixXd& q = second.eigenvectors();
    x = q * second.eigenvalues().cwiseMax(floor).asDiagonal() * q.transpose();
    const Eigen::VectorXd scale = (diagonal.cwiseMax(floor).array() / x.diagonal().array()).sqrt();
    return scale.asDiagonal() * x * scale.asDiagonal();
}

}  // namespace

Eigen::MatrixXd simulation_rate_matrix(const TreeAlgebra& tree, const Eigen::MatrixXd& x) {
    const Eigen::MatrixXd centred = x.rowwise() - tree.gls_mean(x);
    Eigen::MatrixXd r = tree.cross(centred, centred) / static_cast<double>(x.rows());
    r.diagonal().setConstant(r.trace() / static_cast<double>(x.cols()));
    return geomorph_make_pd(r);
}

EvolRates group_rates(PermutationEngine& engine, const PhyloTree& tree, const std::vector<int>& tip_of_row,
                      const Eigen::MatrixXd& x, const std::vector<int>& group, const RateOptions& options) {
    const TreeAlgebra algebra(tree, tip_of_row);
    const Eigen::Index n = x.rows(), p = x.cols();
    const int groups = group.empty() ? 0 : *std::max_element(group.begin(), group.end()) + 1;
    if (groups < 2) throw Refused("Comparing rates needs at least two groups of tips.");
    Eigen::MatrixXd both(n, p + 1);
    both << x.rowwise() - algebra.gls_mean(x), Eigen::VectorXd::Ones(n);
    const Eigen::MatrixXd e = inverse_root_times(tree, tip_of_row, both);
    const Eigen::VectorXd d = e.leftCols(p).rowwise().squaredNorm();
    EvolRates r;
    r.all = d.sum() / static_cast<double>(n * p);
    r.sizes.assign(static_cast<std::size_t>(groups), 0);
    r.rates.assign(static_cast<std::size_t>(groups), 0);
    for (Eigen::Index i = 0; i < n; ++i) {
        ++r.sizes[static_cast<std::size_t>(group[static_cast<std::size_t>(i)])];
        r.rates[static_cast<std::size_t>(group[static_cast<std::size_t>(i)])] += d(i);
    }
    const auto to_rates = [&](std::vector<double>& sums) {
        for (std::size_t g = 0; g < sums.size(); ++g) sums[g] /= static_cast<double>(r.sizes[g]) * static_cast<double>(p);
    };
    if (std::find(r.sizes.begin(), r.sizes.end(), 0) != r.sizes.end()) throw Refused("A group to compare has no tip.");
    to_rates(r.rates);
    const auto add_up = [&](DrawState& st, const auto& value_of_row) {
        st.rates.assign(static_cast<std::size_t>(groups), 0);
        for (Eigen::Index i = 0; i < n; ++i)
            st.rates[static_cast<std::size_t>(group[static_cast<std::size_t>(i)])] += value_of_row(i);
        to_rates(st.rates);
    };
    const std::vector<int> slots = identity(static_cast<std::size_t>(groups));
    if (options.method == RateMethod::Permutation) {
        test_ratios(engine, r, options, options.geomorph_counts, slots, [&](DrawState& st, Rng& rng) {
            randperm(st.perm, static_cast<int>(n), rng);
            add_up(st, [&](Eigen::Index i) { return d(st.perm[static_cast<std::size_t>(i)]); });
        });
        return r;
    }
    r.simulated = simulation_rate_matrix(algebra, x);
    const Simulation sim = simulation_of(e.col(p), r.simulated);
    test_ratios(engine, r, options, false, slots, [&](DrawState& st, Rng& rng) {
        simulate(sim, rng, st);
        add_up(st, [&](Eigen::Index i) { return st.e.row(i).squaredNorm(); });
    });
    return r;
}

EvolRates module_rates(PermutationEngine& engine, const PhyloTree& tree, const std::vector<int>& tip_of_row,
                       const Eigen::MatrixXd& x, const std::vector<int>& module, const std::vector<std::string>& labels,
                       const RateOptions& options) {
    if (options.method != RateMethod::Simulation)
        throw Refused(
            "The rates of modules are tested by simulation only: shuffling the tips leaves every module's rate as it is.  "
            "Give --method simulation (or leave --method out).");
    const std::size_t modules = labels.size();
    if (modules < 2 || module.size() != static_cast<std::size_t>(x.cols()))
        throw Refused("Comparing the rates of modules needs every variable in one of at least two modules.");
    const TreeAlgebra algebra(tree, tip_of_row);
    const Eigen::Index n = x.rows(), p = x.cols();
    // The columns' squared lengths need no particular root of C^-1: the
    // contrasts' serve.
    const Eigen::RowVectorXd ss = algebra.transform(x).topRows(n - 1).colwise().squaredNorm();
    EvolRates r;
    r.all = ss.sum() / static_cast<double>(n * p);
    r.sizes.assign(modules, 0);
    r.rates.assign(modules, 0);
    for (Eigen::Index j = 0; j < p; ++j) {
        ++r.sizes[static_cast<std::size_t>(module[static_cast<std::size_t>(j)])];
        r.rates[static_cast<std::size_t>(module[static_cast<std::size_t>(j)])] += ss(j);
    }
    if (std::find(r.sizes.begin(), r.sizes.end(), 0) != r.sizes.end()) throw Refused("A module to compare has no variable.");
    for (std::size_t m = 0; m < modules; ++m) r.rates[m] /= static_cast<double>(n * r.sizes[m]);
    r.simulated = simulation_rate_matrix(algebra, x);
    const Simulation sim = simulation_of(inverse_root_times(tree, tip_of_row, Eigen::VectorXd::Ones(n)).col(0), r.simulated);
    const bool quirks = options.geomorph_counts;
    test_ratios(engine, r, options, false, quirks ? geomorph_module_slots(labels) : identity(modules),
                [&](DrawState& st, Rng& rng) {
                    simulate(sim, rng, st);
                    const Eigen::RowVectorXd col = st.e.colwise().squaredNorm();
                    st.rates.assign(modules, 0);
                    for (Eigen::Index j = 0; j < p; ++j)
                        st.rates[static_cast<std::size_t>(module[static_cast<std::size_t>(j)])] += col(j);
                    for (std::size_t m = 0; m < modules; ++m)
                        st.rates[m] /= static_cast<double>(n) * static_cast<double>(quirks ? p : r.sizes[m]);
                });
    return r;
}

}  // namespace quillan
