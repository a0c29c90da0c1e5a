// Products with a tree's covariance C (C[i][j] the length of the path the
// roots-to-tips paths of tips i and j share, Brownian motion's covariance)
// in time and memory linear in the number of tips: no n x n matrix.
//
// Felsenstein's pruning, one pass from the tips to the root, turns the rows
// of a matrix into n - 1 standardised independent contrasts and the root's
// value (the GLS mean); that map, with its last row scaled by the root's
// variance, is a P with P'P = C^-1, and every product here is made from it:
// X'C^-1 Y = (PX)'(PY), C^-1 X = P'(PX), log det C = the sum of the logs of
// the contrasts' variances and the root's.  A polytomy is pruned as a comb of
// zero-length edges (the same C); a zero-length edge is fine until two tips
// would share their whole paths (C singular), which is refused.
#pragma once

#include "analyses/phylo/phylo_tree.hpp"

#include <Eigen/Dense>

#include <vector>

namespace quillan {

using RowMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

class TreeAlgebra {
public:
    // `tip_of_row[i]` is the tip of row i of the data the products are taken
    // of; every tip of `tree` once.
    TreeAlgebra(const PhyloTree& tree, const std::vector<int>& tip_of_row);

    int size() const { return n_; }
    // P X, rows: the n - 1 contrasts in pruning order, then the root's row.
    Eigen::MatrixXd transform(const Eigen::MatrixXd& x) const;
    // P' Z.
    Eigen::MatrixXd transform_transpose(const Eigen::MatrixXd& z) const;
    // C^-1 X.
    Eigen::MatrixXd solve(const Eigen::MatrixXd& x) const { return transform_transpose(transform(x)); }
    // X' C^-1 Y.
    Eigen::MatrixXd cross(const Eigen::MatrixXd& x, const Eigen::MatrixXd& y) const;
    // C X (the tree's own covariance applied, for the aligned components).
    Eigen::MatrixXd covariance_times(const Eigen::MatrixXd& x) const;
    // 1' C^-1 1.
    double ones_inverse_ones() const { return 1 / root_variance_; }
    // 1' C^-1 X.
    Eigen::RowVectorXd ones_inverse(const Eigen::MatrixXd& x) const { return gls_mean(x) / root_variance_; }
    // a = (1' C^-1 1)^-1 1' C^-1 X.
    Eigen::RowVectorXd gls_mean(const Eigen::MatrixXd& x) const;
    // The GLS weights of the rows, C^-1 1 / (1' C^-1 1): a = w' X.
    Eigen::VectorXd gls_weights() const;
    double log_det() const { return log_det_; }
    double trace() const { return trace_; }
    // tr C^-1 (the squared norm of P): 1 / tr C^-1 bounds C's smallest
    // eigenvalue from below, as tr C bounds its largest from above.
    double inverse_trace() const { return inverse_trace_; }

    // One pass of the pruning over the rows of `x` (row-major, p columns),
    // row i of the data taken from row perm[i] (perm null: unmoved): the sum
    // of the squared contrasts, tr((X - 1a)'C^-1(X - 1a)), and the GLS mean
    // in `mean` (p values).  `slots` is the caller's scratch.
    double contrast_ss(const RowMatrix& x, const int* perm, std::vector<double>& slots, double* mean) const;

private:
    struct Merge {
        int a, b, out;  // slots joined and the slot of their node
        double wa, wb;  // the node's value: wa x_a + wb x_b
        double scale;   // the contrast (x_a - x_b) * scale
    };
    int n_ = 0;
    std::vector<Merge> merges_;
    int root_slot_ = 0;
    double root_variance_ = 0, log_det_ = 0, trace_ = 0, inverse_trace_ = 0;
    // For C X: each node's parent, edge length and the data row of a tip.
    std::vector<int> parent_, row_of_tip_;
    std::vector<double> length_;
    std::vector<int> preorder_;
};

// C^-1/2 Z, the symmetric inverse square root of the tree's covariance (the
// one root that is a function of C alone, so that each row of the result
// belongs to its tip), in time linear in the tips: no n x n matrix.  It is
// the integral (2/pi) int (t^2 I + C)^-1 Z dt over t > 0, and C + sI is the
// covariance of the same tree with every tip's edge lengthened by s, so each
// node of the quadrature is one pruning solve.  With t = e^u the integrand
// is, on every eigenvalue l, sech(u - log(l)/2) / (2 sqrt(l)), analytic in a
// strip of half-width pi/2: the trapezoidal rule with step 0.3 errs by about
// 4 e^(-pi^2/0.3) = 2e-14 relative, and the nodes run from 36 below
// log sqrt of the smallest eigenvalue (bounded by 1 / tr C^-1) to 36 above
// that of the largest (bounded by tr C), where the tails are below e^-36.
Eigen::MatrixXd inverse_root_times(const PhyloTree& tree, const std::vector<int>& tip_of_row, const Eigen::MatrixXd& z);

// C itself, rows and columns in the data's order (tip_of_row as above): for
// the dense transformation of a model and for tests.
Eigen::MatrixXd tree_covariance(const PhyloTree& tree, const std::vector<int>& tip_of_row);

}  // namespace quillan
