#include "geometry/decompositions.hpp"

template class Eigen::BDCSVD<Eigen::MatrixXd>;
template class Eigen::JacobiSVD<Eigen::MatrixXd>;
