#include "analyses/covariates/covariate_checks.hpp"

#include "platform/error.hpp"
#include "platform/format.hpp"

#include <cmath>

namespace quillan {

namespace {

// A file's name as its description in the file box shows it ("Covariate
// File: NAME with ..."), after `what`.
std::string described_file(const std::string& info, const std::string& head, const std::string& what) {
    const std::string tail = " with ";
    const auto start = info.rfind(head);
    if (start != std::string::npos) {
        const auto from = start + head.size();
        const auto end = info.rfind(tail);
        if (end != std::string::npos && end > from) return what + " " + info.substr(from, end - from);
    }
    return what;
}

std::string covariate_file(const Workspace& ws) {
    return described_file(ws.covariate_info, "Covariate File: ", "the covariate file");
}

std::string landmark_file(const Workspace& ws) { return described_file(ws.landmarks_info, "Data File: ", "the landmark file"); }

std::string value_text(double v) {
    if (std::isnan(v)) return "NaN";
    return v < 0 ? "-Inf" : "Inf";
}

// 0-based row of the value farthest from the mean.
Eigen::Index most_extreme_row(const Matrix& c) {
    double mean = 0;
    for (Eigen::Index i = 0; i < c.rows(); ++i) mean += c(i, 0) / static_cast<double>(c.rows());
    Eigen::Index best = 0;
    double far = -1;
    for (Eigen::Index i = 0; i < c.rows(); ++i) {
        const double d = std::fabs(c(i, 0) - mean);
        if (d > far || std::isnan(d)) {
            far = d;
            best = i;
        }
    }
    return best;
}

}  // namespace

void require_fittable_covariate(const Workspace& ws) {
    for (Eigen::Index i = 0; i < ws.covariate.rows(); ++i) {
        const double v = ws.covariate(i, 0);
        if (!std::isfinite(v))
            throw QuillanError(
                format_expand_reuse("Line %i of %s holds %s, not a finite number: every specimen needs a covariate value.",
                                    {static_cast<double>(i + 1), covariate_file(ws), value_text(v)}));
        if (std::isfinite(v) && std::fabs(v) > kMaxCovariateMagnitude)
            throw QuillanError(
                format_expand_reuse("Line %i of %s holds %g, too large for the straight-line fits on the covariate (values up to "
                                    "1e100 in size can be fitted). Please check that line, or rescale the covariate.",
                                    {static_cast<double>(i + 1), covariate_file(ws), v}));
    }
}

void require_finite_fit(const Workspace& ws, const Matrix& standardised) {
    if (standardised.allFinite() || ws.covariate.rows() == 0) return;
    // A value of the landmark table that was never finite is the landmark
    // file's fault, not the fit's (the trailing size value is fitted too).
    for (Eigen::Index i = 0; i < ws.landmarks.rows(); ++i)
        for (Eigen::Index j = 0; j < ws.landmarks.cols(); ++j)
            if (!std::isfinite(ws.landmarks(i, j)))
                throw QuillanError(format_expand_reuse(
                    "Line %i of %s holds %s in column %i, not a finite number. Please check that line.",
                    {static_cast<double>(i + 1), landmark_file(ws), value_text(ws.landmarks(i, j)), static_cast<double>(j + 1)}));
    const Eigen::Index row = most_extreme_row(ws.covariate);
    throw QuillanError(
        format_expand_reuse("The straight-line fits on the covariate gave numbers that are not finite: the covariate values "
                            "are too far apart or too close together to fit. The most extreme is %g on line %i of %s; "
                            "please check it, or rescale the covariate.",
                            {ws.covariate(row, 0), static_cast<double>(row + 1), covariate_file(ws)}));
}

}  // namespace quillan
