// Size-corrected shapes: what is left of each specimen's shape once the
// shapes' regression on log centroid size is taken out, put back around the
// mean shape, so that the analyses after it see the shape variation that
// size does not explain.  The shapes are tangent coordinates (one row per
// specimen); the correction is linear in them, so it stays in the tangent
// space (a corrected row is the consensus plus a tangent vector).
#pragma once

#include "platform/error.hpp"
#include "platform/value.hpp"

#include <Eigen/Dense>

#include <string>

namespace quillan {

// The words of the correction, for the report's head and the record.
inline constexpr const char* kSizeCorrection = "log(C_size)";

// The residuals of the least-squares fit of `shapes` on the columns of
// `design` (its first column the intercept), plus the mean of `shapes`.
Eigen::MatrixXd size_corrected(const Eigen::MatrixXd& shapes, const Eigen::MatrixXd& design);

// The design of shape ~ log(C_size): a column of ones and the logarithm of
// each specimen's centroid size, the landmark table's last value.  Returns
// the 0-based row of a size that has no logarithm (not above 0, or not a
// number) in `bad`, and an empty matrix then.
Eigen::MatrixXd log_size_design(const Matrix& landmarks, Eigen::Index& bad);

// `shapes` corrected for log(C_size) of `landmarks`; refuses a size without
// a logarithm, naming the specimen by `name_of(row)`.
template <class NameOf>
Eigen::MatrixXd corrected_for_log_size(const Eigen::MatrixXd& shapes, const Matrix& landmarks, NameOf name_of);

// The report's line for shapes so corrected.
std::string size_correction_line();

template <class NameOf>
Eigen::MatrixXd corrected_for_log_size(const Eigen::MatrixXd& shapes, const Matrix& landmarks, NameOf name_of) {
    Eigen::Index bad = -1;
    const Eigen::MatrixXd design = log_size_design(landmarks, bad);
    if (bad >= 0)
        throw Refused("The centroid size of " + name_of(bad) + " is " + std::to_string(landmarks(bad, landmarks.cols() - 1)) +
                      ": size-corrected shapes need the logarithm of every specimen's size, so every C_size above 0.");
    return size_corrected(shapes, design);
}

}  // namespace quillan
