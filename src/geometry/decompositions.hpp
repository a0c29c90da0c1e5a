// The singular value decompositions of dynamic matrices, compiled once in
// decompositions.cpp for the whole program.  Each of them is a large
// template: instantiated in every file that decomposes a matrix, it took
// most of those files' compile time (half a minute or more apiece).  Files
// that decompose a dynamic matrix include this header instead of relying on
// <Eigen/Dense> alone; the code they get is the same.
#pragma once

#include <Eigen/Dense>

extern template class Eigen::BDCSVD<Eigen::MatrixXd>;
extern template class Eigen::JacobiSVD<Eigen::MatrixXd>;
