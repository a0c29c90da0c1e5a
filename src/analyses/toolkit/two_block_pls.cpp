#include "analyses/toolkit/two_block_pls.hpp"

#include "analyses/degenerate.hpp"
#include "analyses/linear_models/linear_model.hpp"
#include "analyses/toolkit/pls_loops.hpp"
#include "platform/error.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

namespace quillan {

namespace {

using Eigen::Index;
using Eigen::MatrixXd;
using Eigen::VectorXd;

MatrixXd centred(const MatrixXd& m) { return m.rowwise() - m.colwise().mean(); }

// The power of two that brings the largest magnitude of `m` into [0.5, 1).
double unit_scale(const MatrixXd& m) {
    const double largest = m.cwiseAbs().maxCoeff();
    return largest > 0 ? std::ldexp(1.0, -std::ilogb(largest) - 1) : 1.0;
}

// A centred block as its principal component scores: a rotation within
// the block's span, which leaves every r-PLS as it is.  The components are
// uncorrelated, so the block's cross-products with itself are the diagonal
// of their sums of squares; those of no variance (a block with more
// columns than specimens, or columns tied by the superimposition) are left
// out, which makes each permutation's work smaller.
MatrixXd principal_scores(const MatrixXd& c) {
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

// Squarings of the cross-products before a full decomposition takes over:
// by then the two leading eigenvalues differ by less than a part in 1e8.
constexpr int kMaxSquarings = 30;

// What a permutation of one pair of blocks works in, kept from one
// permutation to the next so that none of them allocates.  The narrow
// side's matrices and vectors have padded_rows(narrow) rows, zero beyond the
// narrow block's own (the loops' leading dimension).
struct PairScratch {
    MatrixXd ct, square, power, next;
    VectorXd lead, other, product;
};

// The leading eigenvector of the symmetric positive semi-definite m (its
// top-left p x p; the rows below are zeros), into s.lead.  Each squaring of
// m squares the ratio of its second eigenvalue to its first, so a column of
// the power soon points along the leading vector; that column is taken once
// its residual is down to rounding.  When the two leading eigenvalues are
// too close for that (or m vanishes), a full decomposition decides.
void leading_vector(const MatrixXd& m, Index p, PairScratch& s, const PlsLoops& loops) {
    const Index ld = m.rows();
    s.lead.setZero(ld);
    if (p == 1) {
        s.lead(0) = 1;
        return;
    }
    if (p == 2) {  // in closed form: (l - m11, m01) or (m01, l - m00), l the larger eigenvalue
        const double half = 0.5 * std::abs(m(0, 0) - m(1, 1)), root = std::hypot(half, m(0, 1));
        if (m(0, 0) >= m(1, 1)) s.lead.head(2) << half + root, m(0, 1);
        else s.lead.head(2) << m(0, 1), half + root;
        const double norm = s.lead.norm();
        if (norm > 0) s.lead /= norm;
        else s.lead(0) = 1;  // a multiple of the identity: any vector leads
        return;
    }
    const double tolerance = 4 * static_cast<double>(p) * std::numeric_limits<double>::epsilon();
    const double trace = m.topLeftCorner(p, p).trace();
    if (trace > 0 && std::isfinite(trace)) {
        s.power = m / trace;
        s.next.resize(ld, p);
        s.product.resize(ld);
        for (int k = 0; k < kMaxSquarings; ++k) {
            loops.square(s.power.data(), ld, p, s.next.data());
            const double scale = s.next.topLeftCorner(p, p).trace();
            if (!(scale > 0)) break;
            s.power = s.next / scale;
            if (k < 2) continue;  // the first squarings are seldom enough: skip their check
            Index j = 0;
            s.power.topLeftCorner(p, p).diagonal().maxCoeff(&j);
            s.lead = s.power.col(j);
            s.lead.normalize();
            loops.apply(m.data(), ld, p, s.lead.data(), s.product.data());
            const double lambda = s.lead.dot(s.product);
            if ((s.product - lambda * s.lead).squaredNorm() <= tolerance * tolerance * lambda * lambda) return;
        }
    }
    const Eigen::SelfAdjointEigenSolver<MatrixXd> eig(m.topLeftCorner(p, p));
    s.lead.setZero(ld);
    s.lead.head(p) = eig.eigenvectors().col(p - 1);
}

// One pair of centred blocks as the permutations need them, each as its
// principal component scores stored a specimen to a column: the wider one
// (more components) and the narrower (its columns padded with zeros to
// whole vectors), each component's sum of squares, and whether the
// permutations shuffle the wider block's specimens or the narrower's (the
// first block given is the one shuffled).
struct PairBlocks {
    MatrixXd wide, narrow;        // components x specimens
    Index narrow_rows = 0;        // the narrow block's components, before the padding
    VectorXd wide_ss, narrow_ss;  // each component's sum of squares
    bool shuffle_wide = true;
    PairBlocks(const MatrixXd& first, const MatrixXd& second) {
        MatrixXd a = principal_scores(first), b = principal_scores(second);
        shuffle_wide = a.cols() >= b.cols();
        if (!shuffle_wide) std::swap(a, b);
        wide = a.transpose();
        narrow_rows = b.cols();
        narrow = MatrixXd::Zero(padded_rows(narrow_rows), b.rows());
        narrow.topRows(narrow_rows) = b.transpose();
        wide_ss = a.colwise().squaredNorm().transpose();
        narrow_ss = b.colwise().squaredNorm().transpose();
    }
};

// The r of the first pair of PLS scores of the blocks b, one of them
// shuffled by `order`.  The cross-products C (wide x narrow, kept
// transposed) add up a specimen at a time, with no shuffled copy of a
// block.  With a and b the first singular vectors of C, the scores'
// covariance is a'Cb and their variances a'(X'X)a and b'(Y'Y)b, the
// blocks' own (diagonal) cross-products, so the scores themselves are never
// formed; the decomposition works on the narrow side, C'C.
double shuffled_r(const PairBlocks& b, const std::vector<int>& order, PairScratch& s, const PlsLoops& loops) {
    const Index ld = b.narrow.rows(), nr = b.narrow_rows, wr = b.wide.rows();
    s.ct.resize(ld, wr);
    s.square.resize(ld, nr);
    loops.cross(b.wide.data(), wr, b.narrow.data(), ld, order.data(), b.shuffle_wide, b.wide.cols(), s.ct.data());
    loops.gram(s.ct.data(), ld, nr, wr, s.square.data());
    leading_vector(s.square, nr, s, loops);
    s.other.noalias() = s.ct.transpose() * s.lead;
    const double covariance = s.other.squaredNorm();  // a'Cb with a = Cb unnormalised
    const double variances =
        (s.lead.head(nr).array().square() * b.narrow_ss.array()).sum() * (s.other.array().square() * b.wide_ss.array()).sum();
    return covariance > 0 ? covariance / std::sqrt(variances) : 0.0;  // no covariance at all: no correlation
}

// The decomposition of the cross-covariance X'Y / (n - 1): left and right
// vectors and singular values.  When both blocks are wider than they have
// specimens, X'Y has rank below n and is found from the blocks' own thin
// decompositions X = Ux Sx Vx', Y = Uy Sy Vy' as that of the n x n core
// Sx Ux'Uy Sy, its vectors taken back by Vx and Vy: the same axes (those of
// non-zero singular value) for a small part of the work and memory, each
// decomposition a step the action may stop after.
struct CrossSvd {
    MatrixXd left, right;
    VectorXd values;
};

CrossSvd cross_svd(const MatrixXd& x, const MatrixXd& y, const PermutationEngine& engine) {
    const auto dof = static_cast<double>(x.rows() - 1);
    if (std::min(x.cols(), y.cols()) <= x.rows()) {
        const Eigen::BDCSVD<MatrixXd> svd(x.transpose() * y / dof, Eigen::ComputeThinU | Eigen::ComputeThinV);
        return {svd.matrixU(), svd.matrixV(), svd.singularValues()};
    }
    engine.step(0, 3);
    const Eigen::BDCSVD<MatrixXd> sx(x, Eigen::ComputeThinU | Eigen::ComputeThinV);
    engine.step(1, 3);
    const Eigen::BDCSVD<MatrixXd> sy(y, Eigen::ComputeThinU | Eigen::ComputeThinV);
    engine.step(2, 3);
    const MatrixXd core =
        sx.singularValues().asDiagonal() * (sx.matrixU().transpose() * sy.matrixU()) * sy.singularValues().asDiagonal() / dof;
    const Eigen::BDCSVD<MatrixXd> svd(core, Eigen::ComputeThinU | Eigen::ComputeThinV);
    return {sx.matrixV() * svd.matrixU(), sy.matrixV() * svd.matrixV(), svd.singularValues()};
}

// The observed decomposition, on the blocks as given.
PlsResult observed_pls(const MatrixXd& x, const MatrixXd& y, const PermutationEngine& engine) {
    PlsResult r;
    if (x.cols() == 1 && y.cols() == 1) {
        r.r_pls = correlation(x.col(0), y.col(0));
        r.axes.push_back({std::abs(x.col(0).dot(y.col(0))) / static_cast<double>(x.rows() - 1), 100, r.r_pls});
        r.left = r.right = MatrixXd::Ones(1, 1);
        r.x_scores = x;
        r.y_scores = y;
        return r;
    }
    CrossSvd svd = cross_svd(x, y, engine);
    r.left = std::move(svd.left);
    r.right = std::move(svd.right);
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
    const double total = svd.values.squaredNorm();
    for (Index j = 0; j < r.left.cols(); ++j) {
        const double d = svd.values(j);
        r.axes.push_back({d, 100 * d * d / total, correlation(r.x_scores.col(j), r.y_scores.col(j))});
    }
    r.r_pls = r.axes.front().r;
    return r;
}

struct PlsState {
    std::vector<int> order;
    std::vector<PairScratch> pairs;
};

double p_of(long long ge, long long nperm) { return (static_cast<double>(ge) + 1) / (static_cast<double>(nperm) + 1); }

// Effect size of statistic s of a run that kept every value, the observed first.
double z_of(const PermutationResult& res, std::size_t s, std::size_t nstats, double observed, long long nperm) {
    std::vector<double> values{observed};
    for (long long i = 0; i < nperm; ++i) values.push_back(res.values[static_cast<std::size_t>(i) * nstats + s]);
    return effect_size(std::move(values), EffectRecipe::Geomorph);
}

// Shuffles the rows of each pair's first block together and takes every
// pair's r (absolute) and their mean.
PermutationResult permute_pairs(PermutationEngine& engine, const std::vector<PairBlocks>& blocks,
                                const std::vector<double>& observed, long long nperm, int loop) {
    const auto n = static_cast<int>(blocks.front().wide.cols());
    const std::size_t pairs = blocks.size();
    const PlsLoops& loops = pls_loops();
    const PermutationBody<PlsState> body = [&](PlsState& s, long long, Rng& rng, double* stats) {
        randperm(s.order, n, rng);
        double sum = 0;
        for (std::size_t k = 0; k < pairs; ++k) {
            stats[k] = std::abs(shuffled_r(blocks[k], s.order, s.pairs[k], loops));
            sum += stats[k];
        }
        stats[pairs] = sum / static_cast<double>(pairs);
        return false;
    };
    return engine.run<PlsState>(
        nperm, observed, std::vector<Exceeds>(observed.size(), Exceeds::Greater),
        [&] {
            auto s = std::make_unique<PlsState>();
            s->pairs.resize(pairs);
            return s;
        },
        body, loop, true);
}

}  // namespace

VectorXd leading_eigenvector(const MatrixXd& m) {
    MatrixXd padded = MatrixXd::Zero(padded_rows(m.rows()), m.cols());
    padded.topRows(m.rows()) = m;
    PairScratch s;
    leading_vector(padded, m.rows(), s, pls_loops());
    return s.lead.head(m.rows());
}

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
    require_finite_cells(x, "the first block");
    require_finite_cells(y, "the second block");
    // Each block is scaled by a power of two that brings its largest value
    // near 1 before it is centred: every r is a ratio in which the scale
    // cancels, and such a scaling rounds nothing, so the numbers are those of
    // the block as given wherever that arithmetic stays within range; a block
    // of values near 1e300 (or 1e-300) no longer overflows (or vanishes) in
    // the squares of the cross-products.
    const double fx = unit_scale(x), fy = unit_scale(y);
    const MatrixXd cx = centred(x * fx), cy = centred(y * fy);
    if (!(cx.squaredNorm() > 0) || !(cy.squaredNorm() > 0) || !cx.allFinite() || !cy.allFinite())
        throw Refused("A block of the PLS does not vary among the specimens.");
    PlsResult r = observed_pls(cx, cy, engine);
    for (PlsAxis& a : r.axes) a.singular_value /= fx * fy;
    r.x_scores /= fx;
    r.y_scores /= fy;
    const std::vector<double> observed{std::abs(r.r_pls), std::abs(r.r_pls)};
    const PermutationResult res = permute_pairs(engine, {PairBlocks(cx, cy)}, observed, nperm, loop);
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
    std::vector<MatrixXd> blocks;
    std::vector<PairBlocks> pairs;
    for (int m = 0; m < modules; ++m) {
        blocks.push_back(module_columns(c, module, m, dimensions));
        require_varying_block(blocks.back().squaredNorm(), shapes.rows(), "Module " + std::to_string(m + 1));
    }
    std::vector<double> observed;
    for (int a = 0; a < modules; ++a)
        for (int b = a + 1; b < modules; ++b) {
            r.pairs.emplace_back(a, b);
            r.pls.push_back(observed_pls(blocks[static_cast<std::size_t>(a)], blocks[static_cast<std::size_t>(b)], engine));
            pairs.emplace_back(blocks[static_cast<std::size_t>(a)], blocks[static_cast<std::size_t>(b)]);
            observed.push_back(std::abs(r.pls.back().r_pls));
            r.mean_r += observed.back();
        }
    r.mean_r /= static_cast<double>(r.pairs.size());
    observed.push_back(r.mean_r);
    const PermutationResult res = permute_pairs(engine, pairs, observed, nperm, loop);
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
