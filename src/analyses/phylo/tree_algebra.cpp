#include "analyses/phylo/tree_algebra.hpp"

#include "platform/error.hpp"

#include <algorithm>
#include <cmath>
#include <string>

namespace quillan {

namespace {

std::string tree_name(const PhyloTree& t) { return t.source.empty() ? std::string("The tree") : "The tree " + t.source; }

// The nodes from the root down, each before its children, and every node's
// children; the tree's own numbering is not relied on.
struct Shape {
    std::vector<int> preorder, first, children;  // children of v: children[first[v] .. first[v + 1])
};

Shape shape_of(const PhyloTree& tree) {
    const int nodes = tree.node_count();
    if (tree.tip_count() < 1 || nodes <= tree.tip_count() || static_cast<int>(tree.length.size()) != nodes)
        throw Refused(tree_name(tree) + " has no inner node, or a length missing for some of its nodes.");
    Shape s;
    s.first.assign(static_cast<std::size_t>(nodes) + 1, 0);
    int roots = 0;
    for (int v = 0; v < nodes; ++v) {
        const int p = tree.parent[static_cast<std::size_t>(v)];
        if (p < 0) {
            ++roots;
            continue;
        }
        if (p >= nodes || tree.is_tip(p)) throw Refused(tree_name(tree) + " names a tip or no node as the parent of a node.");
        ++s.first[static_cast<std::size_t>(p) + 1];
    }
    if (roots != 1 || tree.parent[static_cast<std::size_t>(tree.root())] >= 0)
        throw Refused(tree_name(tree) + " has " + std::to_string(roots) + " roots, not its one root after the tips.");
    for (int v = 0; v < nodes; ++v) s.first[static_cast<std::size_t>(v) + 1] += s.first[static_cast<std::size_t>(v)];
    s.children.resize(static_cast<std::size_t>(nodes) - 1);
    std::vector<int> fill(s.first.begin(), s.first.end() - 1);
    for (int v = 0; v < nodes; ++v)
        if (const int p = tree.parent[static_cast<std::size_t>(v)]; p >= 0)
            s.children[static_cast<std::size_t>(fill[static_cast<std::size_t>(p)]++)] = v;
    s.preorder.reserve(static_cast<std::size_t>(nodes));
    std::vector<int> stack{tree.root()};
    while (!stack.empty()) {
        const int v = stack.back();
        stack.pop_back();
        s.preorder.push_back(v);
        for (int c = s.first[static_cast<std::size_t>(v)]; c < s.first[static_cast<std::size_t>(v) + 1]; ++c)
            stack.push_back(s.children[static_cast<std::size_t>(c)]);
    }
    if (static_cast<int>(s.preorder.size()) != nodes)
        throw Refused(tree_name(tree) + " has nodes that no path from its root reaches (a cycle among its parents).");
    return s;
}

std::vector<int> rows_of_tips(const PhyloTree& tree, const std::vector<int>& tip_of_row) {
    std::vector<int> row(static_cast<std::size_t>(tree.tip_count()), -1);
    if (tip_of_row.size() != row.size())
        throw Refused(tree_name(tree) + " has " + std::to_string(row.size()) + " tips, but the data have " +
                      std::to_string(tip_of_row.size()) + " rows.");
    for (std::size_t i = 0; i < tip_of_row.size(); ++i) {
        const int t = tip_of_row[i];
        if (t < 0 || t >= tree.tip_count() || row[static_cast<std::size_t>(t)] >= 0)
            throw Refused(tree_name(tree) + ": rows of the data and tips are not matched one to one.");
        row[static_cast<std::size_t>(t)] = static_cast<int>(i);
    }
    return row;
}

}  // namespace

TreeAlgebra::TreeAlgebra(const PhyloTree& tree, const std::vector<int>& tip_of_row)
    : n_(tree.tip_count()), parent_(tree.parent), row_of_tip_(rows_of_tips(tree, tip_of_row)), length_(tree.length) {
    const Shape s = shape_of(tree);
    preorder_ = s.preorder;
    const auto nodes = static_cast<std::size_t>(tree.node_count());
    // Slot r < n is data row r; each merge makes the next slot.  A slot's
    // variance includes the edge above its node.
    std::vector<int> slot(nodes, -1), tip_in(2 * static_cast<std::size_t>(n_));
    std::vector<double> variance(2 * static_cast<std::size_t>(n_), 0), depth(nodes, 0);
    // Each slot's value is a weighted sum of tips; `spread` is the sum of
    // its weights' squares, for tr C^-1 = the squared norm of P's rows.
    std::vector<double> spread(2 * static_cast<std::size_t>(n_), 1);
    for (std::size_t k = 1; k < s.preorder.size(); ++k) {
        const auto v = static_cast<std::size_t>(s.preorder[k]);
        if (!(length_[v] >= 0) || !std::isfinite(length_[v]))
            throw Refused(tree_name(tree) + " has an edge of length " + std::to_string(length_[v]) +
                          "; every edge needs a length of zero or more.");
        depth[v] = depth[static_cast<std::size_t>(parent_[v])] + length_[v];
    }
    for (int t = 0; t < n_; ++t) {
        const auto r = static_cast<std::size_t>(row_of_tip_[static_cast<std::size_t>(t)]);
        slot[static_cast<std::size_t>(t)] = static_cast<int>(r);
        variance[r] = length_[static_cast<std::size_t>(t)];
        tip_in[r] = t;
        trace_ += depth[static_cast<std::size_t>(t)];
    }
    int next = n_;
    merges_.reserve(static_cast<std::size_t>(n_) - 1);
    for (auto k = s.preorder.size(); k-- > 0;) {
        const auto v = static_cast<std::size_t>(s.preorder[k]);
        if (tree.is_tip(static_cast<int>(v))) continue;
        const int* kid = s.children.data() + s.first[v];
        const int kids = s.first[v + 1] - s.first[v];
        int a = slot[static_cast<std::size_t>(kid[0])];
        for (int c = 1; c < kids; ++c) {
            const int b = slot[static_cast<std::size_t>(kid[c])];
            const double va = variance[static_cast<std::size_t>(a)], vb = variance[static_cast<std::size_t>(b)];
            const double sum = va + vb;
            if (!(sum > 0))
                throw Refused(tree_name(tree) + " joins tips " +
                              tree.labels[static_cast<std::size_t>(tip_in[static_cast<std::size_t>(a)])] + " and " +
                              tree.labels[static_cast<std::size_t>(tip_in[static_cast<std::size_t>(b)])] +
                              " by edges of length zero only: they share their whole paths from the root, so the tree's "
                              "covariance is singular.  Drop one of them, or give the edges their lengths.");
            merges_.push_back({a, b, next, vb / sum, va / sum, 1 / std::sqrt(sum)});
            log_det_ += std::log(sum);
            const double sa = spread[static_cast<std::size_t>(a)], sb = spread[static_cast<std::size_t>(b)];
            inverse_trace_ += (sa + sb) / sum;
            spread[static_cast<std::size_t>(next)] = (vb * vb * sa + va * va * sb) / (sum * sum);
            variance[static_cast<std::size_t>(next)] = va * vb / sum;
            tip_in[static_cast<std::size_t>(next)] = tip_in[static_cast<std::size_t>(a)];
            a = next++;
        }
        variance[static_cast<std::size_t>(a)] += length_[v];
        slot[v] = a;
    }
    root_slot_ = slot[static_cast<std::size_t>(tree.root())];
    root_variance_ = variance[static_cast<std::size_t>(root_slot_)];
    if (!(root_variance_ > 0))
        throw Refused(tree_name(tree) + " puts tip " +
                      tree.labels[static_cast<std::size_t>(tip_in[static_cast<std::size_t>(root_slot_)])] +
                      " at the root (a path of length zero), so the tree's covariance is singular.");
    log_det_ += std::log(root_variance_);
    inverse_trace_ += spread[static_cast<std::size_t>(root_slot_)] / root_variance_;
}

Eigen::MatrixXd TreeAlgebra::transform(const Eigen::MatrixXd& x) const {
    Eigen::MatrixXd slots(2 * n_ - 1, x.cols()), out(n_, x.cols());
    slots.topRows(n_) = x;
    for (std::size_t m = 0; m < merges_.size(); ++m) {
        const Merge& g = merges_[m];
        slots.row(g.out) = g.wa * slots.row(g.a) + g.wb * slots.row(g.b);
        out.row(static_cast<Eigen::Index>(m)) = (slots.row(g.a) - slots.row(g.b)) * g.scale;
    }
    out.row(n_ - 1) = slots.row(root_slot_) / std::sqrt(root_variance_);
    return out;
}

Eigen::MatrixXd TreeAlgebra::transform_transpose(const Eigen::MatrixXd& z) const {
    Eigen::MatrixXd g = Eigen::MatrixXd::Zero(2 * n_ - 1, z.cols());
    g.row(root_slot_) = z.row(n_ - 1) / std::sqrt(root_variance_);
    for (auto m = merges_.size(); m-- > 0;) {
        const Merge& e = merges_[m];
        const Eigen::RowVectorXd contrast = z.row(static_cast<Eigen::Index>(m)) * e.scale;
        g.row(e.a) += e.wa * g.row(e.out) + contrast;
        g.row(e.b) += e.wb * g.row(e.out) - contrast;
    }
    return g.topRows(n_);
}

Eigen::MatrixXd TreeAlgebra::cross(const Eigen::MatrixXd& x, const Eigen::MatrixXd& y) const {
    return transform(x).transpose() * transform(y);
}

Eigen::RowVectorXd TreeAlgebra::gls_mean(const Eigen::MatrixXd& x) const { return gls_weights().transpose() * x; }

Eigen::VectorXd TreeAlgebra::gls_weights() const {
    Eigen::VectorXd g = Eigen::VectorXd::Zero(2 * n_ - 1);
    g(root_slot_) = 1;
    for (auto m = merges_.size(); m-- > 0;) {
        const Merge& e = merges_[m];
        g(e.a) += e.wa * g(e.out);
        g(e.b) += e.wb * g(e.out);
    }
    return g.head(n_);
}

Eigen::MatrixXd TreeAlgebra::covariance_times(const Eigen::MatrixXd& x) const {
    // (C X)_i sums, over the edges above tip i, the edge's length times the
    // sum of X over the tips below it.
    Eigen::MatrixXd below = Eigen::MatrixXd::Zero(static_cast<Eigen::Index>(parent_.size()), x.cols());
    for (int t = 0; t < n_; ++t) below.row(t) = x.row(row_of_tip_[static_cast<std::size_t>(t)]);
    for (auto k = preorder_.size(); k-- > 1;) {
        const int v = preorder_[k];
        below.row(parent_[static_cast<std::size_t>(v)]) += below.row(v);
    }
    below.row(preorder_.front()).setZero();
    for (std::size_t k = 1; k < preorder_.size(); ++k) {
        const int v = preorder_[k];
        below.row(v) = below.row(parent_[static_cast<std::size_t>(v)]) + length_[static_cast<std::size_t>(v)] * below.row(v);
    }
    Eigen::MatrixXd out(n_, x.cols());
    for (int t = 0; t < n_; ++t) out.row(row_of_tip_[static_cast<std::size_t>(t)]) = below.row(t);
    return out;
}

double TreeAlgebra::contrast_ss(const RowMatrix& x, const int* perm, std::vector<double>& slots, double* mean) const {
    const auto p = static_cast<std::size_t>(x.cols());
    slots.resize(static_cast<std::size_t>(n_ > 1 ? n_ - 1 : 0) * p);
    const auto at = [&](int s) -> double* {
        if (s >= n_) return slots.data() + static_cast<std::size_t>(s - n_) * p;
        return const_cast<double*>(x.data()) + static_cast<std::size_t>(perm ? perm[s] : s) * p;
    };
    double ss = 0;
    for (const Merge& g : merges_) {
        const double* a = at(g.a);
        const double* b = at(g.b);
        double* o = at(g.out);
        double part = 0;
        for (std::size_t j = 0; j < p; ++j) {
            const double d = a[j] - b[j];
            part += d * d;
            o[j] = g.wa * a[j] + g.wb * b[j];
        }
        ss += part * g.scale * g.scale;
    }
    const double* root = at(root_slot_);
    for (std::size_t j = 0; j < p; ++j) mean[j] = root[j];
    return ss;
}

Eigen::MatrixXd inverse_root_times(const PhyloTree& tree, const std::vector<int>& tip_of_row, const Eigen::MatrixXd& z) {
    const TreeAlgebra whole(tree, tip_of_row);  // refuses a singular C before any shift hides it
    constexpr double step = 0.3, tail = 36, pi = 3.14159265358979323846;
    const double from = 0.5 * std::log(1 / whole.inverse_trace()) - tail, to = 0.5 * std::log(whole.trace()) + tail;
    const int nodes = static_cast<int>(std::ceil((to - from) / step));
    PhyloTree shifted = tree;
    Eigen::MatrixXd sum = Eigen::MatrixXd::Zero(z.rows(), z.cols());
    for (int k = 0; k <= nodes; ++k) {
        const double u = from + step * k, shift = std::exp(2 * u);
        for (int t = 0; t < tree.tip_count(); ++t)
            shifted.length[static_cast<std::size_t>(t)] = tree.length[static_cast<std::size_t>(t)] + shift;
        sum += std::exp(u) * TreeAlgebra(shifted, tip_of_row).solve(z);
    }
    return sum * (2 * step / pi);
}

Eigen::MatrixXd tree_covariance(const PhyloTree& tree, const std::vector<int>& tip_of_row) {
    const Shape s = shape_of(tree);
    const std::vector<int> row = rows_of_tips(tree, tip_of_row);
    const auto nodes = static_cast<std::size_t>(tree.node_count());
    // The tips in the order a walk from the root meets them, each node's
    // tips a stretch [lo, hi) of it.
    std::vector<double> depth(nodes, 0);
    std::vector<int> lo(nodes, 0), hi(nodes, 0), tips;
    for (std::size_t k = 1; k < s.preorder.size(); ++k) {
        const auto v = static_cast<std::size_t>(s.preorder[k]);
        depth[v] = depth[static_cast<std::size_t>(tree.parent[v])] + tree.length[v];
    }
    for (const int v : s.preorder)
        if (tree.is_tip(v)) tips.push_back(v);
    std::vector<int> place(static_cast<std::size_t>(tree.tip_count()));
    for (std::size_t i = 0; i < tips.size(); ++i) place[static_cast<std::size_t>(tips[i])] = static_cast<int>(i);
    for (auto k = s.preorder.size(); k-- > 0;) {
        const auto v = static_cast<std::size_t>(s.preorder[k]);
        if (tree.is_tip(static_cast<int>(v))) {
            lo[v] = place[v];
            hi[v] = place[v] + 1;
            continue;
        }
        lo[v] = tree.tip_count();
        for (int c = s.first[v]; c < s.first[v + 1]; ++c) {
            const auto kid = static_cast<std::size_t>(s.children[static_cast<std::size_t>(c)]);
            lo[v] = std::min(lo[v], lo[kid]);
            hi[v] = std::max(hi[v], hi[kid]);
        }
    }
    const Eigen::Index n = tree.tip_count();
    Eigen::MatrixXd c(n, n);
    for (const int v : s.preorder) {
        const auto u = static_cast<std::size_t>(v);
        if (tree.is_tip(v)) {
            c(row[u], row[u]) = depth[u];
            continue;
        }
        for (int i = s.first[u]; i < s.first[u + 1]; ++i)
            for (int j = s.first[u]; j < s.first[u + 1]; ++j) {
                if (i == j) continue;
                const auto ci = static_cast<std::size_t>(s.children[static_cast<std::size_t>(i)]);
                const auto cj = static_cast<std::size_t>(s.children[static_cast<std::size_t>(j)]);
                for (int a = lo[ci]; a < hi[ci]; ++a)
                    for (int b = lo[cj]; b < hi[cj]; ++b)
                        c(row[static_cast<std::size_t>(tips[static_cast<std::size_t>(a)])],
                          row[static_cast<std::size_t>(tips[static_cast<std::size_t>(b)])]) = depth[u];
            }
    }
    return c;
}

}  // namespace quillan
