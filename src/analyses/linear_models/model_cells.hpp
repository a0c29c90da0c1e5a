// A permutation's sums of squares from the cell sums of the moved rows.
//
// Every column of a model's design is an indicator of some of the factors'
// levels times a product of covariates (1 for a term of factors alone): a
// function of the specimen's cell (its level of every factor of the model)
// times one of a few products of covariates, the monomials.  So for any
// table Z, X'Z follows from the sums, per cell and monomial, of the rows of Z
// weighted by the monomial: O(n p) additions for all the columns together.
//
// The residuals of a term's reduced model are R = E + X D, with E the whole
// model's residuals and D = (X'X)^-1 X'R.  Moved by a permutation P,
//   X'PR = X'PE + (X'PX) D,
// where X'PE needs one pass of cell sums over PE for every term at once, and
// X'PX is the cells' (and monomials') counts of which cell each row's
// residual came from, O(n).  The term's sum of squares is |A'X'PR|^2 with
// A taking X to the basis of what the term adds, and the fitted part of the
// whole model |S^-T X'PR|^2 (X = Q S, S triangular).  The two pieces of X'PR
// are each no larger than R, so nothing cancels beyond the rounding of
// products with the bases.
#pragma once

#include "analyses/linear_models/model_design.hpp"

#include <Eigen/Dense>

#include <vector>

namespace quillan {

// The cells and monomials of a design, found in O(n) per variable.
struct CellLayout {
    std::vector<int> cell_of;                 // per specimen, 0-based
    int cells = 0;                            // distinct combinations of the factors' levels
    std::vector<int> monomial_of_column;      // per column of the design
    std::vector<std::vector<int>> monomials;  // each a list of covariates (variable indexes); the first is empty, 1
};
CellLayout cell_layout(const ModelDesign& d);

// Multiply-adds per permutation by cell sums, for `terms` terms of `df`
// degrees of freedom in all, with `coordinates` columns of shape.
double cell_sums_work(const CellLayout& layout, const ModelDesign& d, int terms, int df, long long coordinates);

class CellSums {
public:
    // Per term: the residuals its permutations move (each the whole model's
    // residuals plus a part in the model's columns), and a matrix whose first
    // `df` columns are the orthonormal basis of what it adds to its reduced
    // model (none when `added` is null).
    struct Term {
        const Eigen::MatrixXd* residuals;
        const Eigen::MatrixXd* added;
        int df;
    };
    CellSums(const ModelDesign& d, CellLayout layout, const std::vector<Term>& terms);

    struct Scratch {
        std::vector<int> to;
        Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> sums;
        Eigen::MatrixXd counts, cross, moved, product, terms_of;
    };
    // Per term, with row i taking the residual of row perm[i]: the term's sum
    // of squares, and the squared norm of the whole model's fit.
    void sums(const std::vector<int>& perm, Scratch& s, double* ss, double* fitted) const;

    // The pieces of one permutation shared by every term: X'PE and X'PX.
    void move(const std::vector<int>& perm, Scratch& s) const;
    // After move: X'PR of term j's residuals (q x p), and their sums over
    // the cells (cells x p).
    const Eigen::MatrixXd& design_products(std::size_t j, Scratch& s) const;
    Eigen::MatrixXd cell_sums(std::size_t j, const Scratch& s) const;
    const CellLayout& layout() const { return layout_; }

private:
    CellLayout layout_;
    int n_ = 0, q_ = 0;
    Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> e_;  // the whole model's residuals, a row each
    Eigen::MatrixXd weights_;         // per monomial, its value at each specimen (n x monomials)
    Eigen::MatrixXd columns_;         // per (monomial, cell), the design's row there ((monomials * cells) x q)
    std::vector<Eigen::MatrixXd> d_;  // per term, (X'X)^-1 X'R (q x p)
    std::vector<Eigen::MatrixXd> w_;  // per term, [A, S^-1] (q x (df + q))
    std::vector<int> df_;
};

}  // namespace quillan
