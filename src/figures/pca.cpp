#include "figures/pca.hpp"

#include "platform/error.hpp"

#include <Eigen/Eigenvalues>

#include <algorithm>

namespace quillan {

Matrix tangent_coordinates(const Superimposition& s) {
    const Eigen::RowVectorXd& c = s.consensus_row;
    const double norm = c.norm();
    const Eigen::RowVectorXd u = norm > 0 ? Eigen::RowVectorXd(c / norm) : c;
    Matrix t = s.aligned.rowwise() - c;
    const Eigen::VectorXd along = t * u.transpose();
    t -= along * u;
    return t;
}

PcaResult principal_components(const Matrix& x) {
    if (x.rows() < 2) throw QuillanError("Principal components need at least two specimens.");
    PcaResult r;
    r.mean = x.colwise().mean();
    const Matrix centred = x.rowwise() - r.mean;
    const Eigen::MatrixXd cov = (centred.transpose() * centred) / static_cast<double>(x.rows() - 1);
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eig(cov);
    const Eigen::VectorXd values = eig.eigenvalues().reverse();
    const Eigen::MatrixXd vectors = eig.eigenvectors().rowwise().reverse();
    const double total = std::max(0.0, values.sum());
    // Eigenvalues at rounding level belong to the directions the alignment
    // removed (position, size, rotation) or that the sample cannot span.
    const double floor = std::max(total, 1e-300) * 1e-10;
    int m = 0;
    while (m < values.size() && m < x.rows() - 1 && values(m) > floor) ++m;
    r.variances = values.head(m);
    r.percent = total > 0 ? Eigen::VectorXd(100.0 * r.variances / total) : Eigen::VectorXd(r.variances);
    r.directions = vectors.leftCols(m);
    for (int k = 0; k < m; ++k) {
        Eigen::Index big = 0;
        r.directions.col(k).cwiseAbs().maxCoeff(&big);
        if (r.directions(big, k) < 0) r.directions.col(k) *= -1.0;
    }
    r.scores = centred * r.directions;
    return r;
}

Eigen::RowVectorXd shape_along_component(const Superimposition& s, const PcaResult& pca, int pc, double score) {
    if (pc < 0 || pc >= pca.components()) throw QuillanError("There is no principal component " + std::to_string(pc + 1) + ".");
    return s.consensus_row + pca.mean + score * pca.directions.col(pc).transpose();
}

}  // namespace quillan
