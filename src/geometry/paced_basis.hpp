// An orthonormal basis of a matrix's columns that can be stopped half way.
// A model's design with thousands of columns (the individuals of a symmetry
// table) takes seconds to decompose; done in panels of columns with `between`
// called before each, an action asked to stop leaves within a panel's time.
#pragma once

#include <Eigen/Dense>

#include <functional>

namespace quillan {

// The first x.cols() columns of Q of x's Householder QR, x of independent
// columns and at least as many rows: the same numbers, to the last bit, as
// HouseholderQR(x).householderQ() * Identity(x.rows(), x.cols()), with
// `between` called before every panel (it may throw to stop).
Eigen::MatrixXd paced_basis(const Eigen::MatrixXd& x, const std::function<void()>& between);

}  // namespace quillan
