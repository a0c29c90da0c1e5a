// The permutations of the two-block PLS and of the canonical variates'
// distances take short cuts (the PLS's first axis by repeated squaring, the
// pooled covariance through the groups' means alone); here every
// permutation's statistics, as the engine hands them to a recorder, are
// held against a plain computation of the same shuffle.
#include "analyses/linear_models/model_shapes.hpp"
#include "analyses/permutation_recorder.hpp"
#include "analyses/toolkit/canonical_variates.hpp"
#include "analyses/toolkit/two_block_pls.hpp"
#include "platform/random.hpp"
#include "support/fixtures.hpp"
#include "support/shapes.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace quillan::test {
namespace {

using Eigen::Index;
using Eigen::MatrixXd;
using Eigen::VectorXd;

// Every permutation's statistics of the loops an action runs, by loop.
class Kept : public PermutationRecorder {
public:
    std::vector<std::vector<std::vector<double>>> loops;
    std::unique_ptr<Loop> begin(int, long long nperm, const std::vector<double>& observed, int) override {
        loops.emplace_back(static_cast<std::size_t>(nperm), std::vector<double>(observed.size()));
        return std::make_unique<Into>(loops.back());
    }

private:
    struct Into : Loop {
        explicit Into(std::vector<std::vector<double>>& v) : values(v) {}
        void record(int, long long i, const double* stats) override {
            auto& row = values[static_cast<std::size_t>(i)];
            std::copy(stats, stats + row.size(), row.begin());
        }
        void finish(const std::vector<long long>&, const std::vector<long long>&) override {}
        std::vector<std::vector<double>>& values;
    };
};

RunOptions kept_by(Kept& kept) {
    RunOptions o;
    o.seed = 11;
    o.threads = 2;
    o.recorder = &kept;
    return o;
}

// Permutation i's shuffle of n rows, as the engine draws it.
std::vector<int> shuffle_of(const PermutationEngine& engine, long long i, int n) {
    Rng rng = engine.stream(i, 0);
    std::vector<int> order;
    randperm(order, n, rng);
    return order;
}

void expect_close(double got, double want, const std::string& what) {
    EXPECT_LE(std::abs(got - want), 1e-10 * std::abs(want)) << what << ": " << got << " against " << want;
}

std::vector<int> codes_from(const std::string& groups_file) {
    const Matrix g = load_data(groups_file);
    std::vector<int> out;
    for (Index i = 0; i < g.rows(); ++i) out.push_back(static_cast<int>(g(i, 0)) - 1);
    return out;
}

MatrixXd centred(const MatrixXd& m) { return m.rowwise() - m.colwise().mean(); }

// |r| of the first PLS axis of x with its rows in `order` against y, by a
// full singular value decomposition of the centred blocks.
double direct_r(const MatrixXd& x, const MatrixXd& y, const std::vector<int>& order) {
    const MatrixXd cx = centred(x), cy = centred(y);
    MatrixXd shuffled(cx.rows(), cx.cols());
    for (Index i = 0; i < cx.rows(); ++i) shuffled.row(i) = cx.row(order[static_cast<std::size_t>(i)]);
    const Eigen::JacobiSVD<MatrixXd> svd(shuffled.transpose() * cy, Eigen::ComputeThinU | Eigen::ComputeThinV);
    const VectorXd a = shuffled * svd.matrixU().col(0), b = cy * svd.matrixV().col(0);
    return std::abs(a.dot(b) / std::sqrt(a.squaredNorm() * b.squaredNorm()));
}

MatrixXd rotated(const std::vector<double>& eigenvalues) {
    const auto p = static_cast<Index>(eigenvalues.size());
    MatrixXd seed(p, p);
    for (Index i = 0; i < p; ++i)
        for (Index j = 0; j < p; ++j) seed(i, j) = std::sin(7.0 * static_cast<double>(i) + 3.0 * static_cast<double>(j) + 1);
    const MatrixXd q = Eigen::HouseholderQR<MatrixXd>(seed).householderQ();
    return q * Eigen::Map<const VectorXd>(eigenvalues.data(), p).asDiagonal() * q.transpose();
}

TEST(LeadingEigenvector, IsTheLeadingOneWhateverTheGap) {
    const std::vector<std::vector<double>> spectra{{3, 2, 1},               // well apart
                                                   {1, 1 - 1e-12, 0.5, 0},  // apart by less than squaring can tell
                                                   {2, 2, 1},               // tied: any vector of their plane
                                                   {5, 0, 0, 0},            // rank one
                                                   {0, 0, 0},               // nothing: still a unit vector
                                                   {4},                     // one variable
                                                   {2, 0.5},                // two, in closed form
                                                   {1.5, 1.5},              // two, tied
                                                   {1, 0.999, 0.99, 0.9, 0.8, 0.5, 0.3, 0.2, 0.1, 1e-3}};  // slow decay
    for (const auto& spectrum : spectra) {
        SCOPED_TRACE(::testing::PrintToString(spectrum));
        const MatrixXd m = rotated(spectrum);
        const VectorXd u = leading_eigenvector(m);
        ASSERT_EQ(u.size(), m.rows());
        ASSERT_TRUE(u.allFinite());
        EXPECT_NEAR(u.norm(), 1, 1e-12);
        const double top = spectrum.front(), rayleigh = u.dot(m * u);
        EXPECT_NEAR(rayleigh, top, 1e-12 * std::max(top, 1.0));
        EXPECT_LE((m * u - rayleigh * u).norm(), 1e-10 * std::max(top, 1.0));
    }
}

TEST(PermutedPls, EveryPermutationsRMatchesAFullDecomposition) {
    const MatrixXd pleth = tangent_shapes(load_data("plethodon.lm.txt"), Alignment::Partial);
    const std::vector<int> modules{0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1};
    const MatrixXd pup = tangent_shapes(load_data("pupfish.lm.txt"), Alignment::Partial);
    const Matrix cov = load_data("pupfish.cov.txt"), groups = load_data("pupfish.groups.txt");
    MatrixXd table(cov.rows(), 2);
    table << cov.col(0), groups.col(0);
    struct Pls {
        std::string name;
        MatrixXd x, y;  // x's rows are shuffled
        bool modules;   // by integration_test of plethodon's modules, else two_block_pls(x, y)
    };
    for (const Pls& c : {Pls{"modules", module_columns(pleth, modules, 0, 2), module_columns(pleth, modules, 1, 2), true},
                         Pls{"shape against a table", pup, table, false}, Pls{"a table against shape", table, pup, false}}) {
        SCOPED_TRACE(c.name);
        Kept kept;
        const RunOptions options = kept_by(kept);
        PermutationEngine engine(options);
        const long long nperm = 300;
        if (c.modules) integration_test(engine, pleth, modules, 2, nperm);
        else two_block_pls(engine, c.x, c.y, nperm);
        ASSERT_EQ(kept.loops.size(), 1U);
        for (long long i = 0; i < nperm; ++i)
            expect_close(kept.loops[0][static_cast<std::size_t>(i)][0],
                         direct_r(c.x, c.y, shuffle_of(engine, i, static_cast<int>(c.x.rows()))),
                         "permutation " + std::to_string(i));
    }
}

// Mahalanobis (pooled within-group covariance) and Procrustes distances of
// every pair of groups of the principal component scores, pairs in order.
std::vector<double> direct_distances(const MatrixXd& shapes, const std::vector<int>& groups, int ngroups) {
    const MatrixXd c = centred(shapes);
    const Eigen::BDCSVD<MatrixXd> svd(c, Eigen::ComputeThinV);
    Index r = 0;
    while (r < svd.singularValues().size() && svd.singularValues()(r) > 1e-10 * svd.singularValues()(0)) ++r;
    const MatrixXd x = c * svd.matrixV().leftCols(r);
    MatrixXd means = MatrixXd::Zero(ngroups, r);
    VectorXd sizes = VectorXd::Zero(ngroups);
    for (Index i = 0; i < x.rows(); ++i) {
        means.row(groups[static_cast<std::size_t>(i)]) += x.row(i);
        sizes(groups[static_cast<std::size_t>(i)]) += 1;
    }
    means = sizes.cwiseInverse().asDiagonal() * means;
    MatrixXd within = MatrixXd::Zero(r, r);
    for (Index i = 0; i < x.rows(); ++i) {
        const VectorXd e = (x.row(i) - means.row(groups[static_cast<std::size_t>(i)])).transpose();
        within += e * e.transpose() / static_cast<double>(x.rows() - ngroups);
    }
    const Eigen::LDLT<MatrixXd> solver(within);
    std::vector<double> mahalanobis, procrustes;
    for (int a = 0; a < ngroups; ++a)
        for (int b = a + 1; b < ngroups; ++b) {
            const VectorXd d = (means.row(a) - means.row(b)).transpose();
            mahalanobis.push_back(std::sqrt(d.dot(solver.solve(d))));
            procrustes.push_back(d.norm());
        }
    mahalanobis.insert(mahalanobis.end(), procrustes.begin(), procrustes.end());
    return mahalanobis;
}

TEST(PermutedCva, EveryPermutationsDistancesMatchThePooledCovariance) {
    const Matrix pleth = load_data("plethodon.lm.txt");
    Matrix three(pleth.rows(), 7);  // three landmarks: two components for four groups
    three << pleth.leftCols(6), pleth.rightCols(1);
    std::vector<int> cells;
    const std::vector<int> species = codes_from("plethodon.species.groups.txt"), site = codes_from("plethodon.site.groups.txt");
    for (std::size_t i = 0; i < species.size(); ++i) cells.push_back(2 * species[i] + site[i]);
    struct Cva {
        std::string name;
        MatrixXd shapes;
        std::vector<int> groups;
        int ngroups;
    };
    for (const Cva& c : {Cva{"fewer groups than components", tangent_shapes(load_data("larvalHead.lm.txt"), Alignment::Partial),
                             codes_from("larvalMorph.treatment.groups.txt"), 6},
                         Cva{"more groups than components", tangent_shapes(three, Alignment::Partial), cells, 4}}) {
        SCOPED_TRACE(c.name);
        Kept kept;
        const RunOptions options = kept_by(kept);
        PermutationEngine engine(options);
        const long long nperm = 200;
        const CvaResult r = canonical_variates(engine, c.shapes, c.groups, {.nperm = nperm});
        const std::vector<double> observed = direct_distances(c.shapes, c.groups, c.ngroups);
        ASSERT_EQ(r.pairs.size() * 2, observed.size());
        for (std::size_t k = 0; k < r.pairs.size(); ++k) {
            expect_close(r.pairs[k].mahalanobis, observed[k], "observed Mahalanobis");
            expect_close(r.pairs[k].procrustes, observed[r.pairs.size() + k], "observed Procrustes");
        }
        ASSERT_EQ(kept.loops.size(), 1U);
        for (long long i = 0; i < nperm; ++i) {
            const std::vector<int> order = shuffle_of(engine, i, static_cast<int>(c.groups.size()));
            std::vector<int> shuffled;
            for (const int o : order) shuffled.push_back(c.groups[static_cast<std::size_t>(o)]);
            const std::vector<double> want = direct_distances(c.shapes, shuffled, c.ngroups);
            for (std::size_t s = 0; s < want.size(); ++s)
                expect_close(kept.loops[0][static_cast<std::size_t>(i)][s], want[s],
                             "permutation " + std::to_string(i) + ", statistic " + std::to_string(s));
        }
    }
}

}  // namespace
}  // namespace quillan::test
