#include "analyses/linear_models/size_correction.hpp"

#include <cmath>

namespace quillan {

Eigen::MatrixXd size_corrected(const Eigen::MatrixXd& shapes, const Eigen::MatrixXd& design) {
    // A rank-revealing solve: a size that is the same for every specimen
    // leaves the slope undetermined, and then nothing is taken out but the
    // mean, which is put back.
    const Eigen::MatrixXd fitted = design * design.colPivHouseholderQr().solve(shapes);
    Eigen::MatrixXd out = shapes - fitted;
    out.rowwise() += shapes.colwise().mean();
    return out;
}

Eigen::MatrixXd log_size_design(const Matrix& landmarks, Eigen::Index& bad) {
    const Eigen::Index n = landmarks.rows();
    Eigen::MatrixXd x(n, 2);
    bad = -1;
    for (Eigen::Index i = 0; i < n; ++i) {
        const double size = landmarks(i, landmarks.cols() - 1);
        if (!(size > 0) || !std::isfinite(size)) {
            bad = i;
            return {};
        }
        x(i, 0) = 1;
        x(i, 1) = std::log(size);
    }
    return x;
}

std::string size_correction_line() {
    return std::string("Size-corrected: the residuals of shape ~ ") + kSizeCorrection + " plus the mean shape\n";
}

}  // namespace quillan
