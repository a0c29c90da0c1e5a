#include "analyses/degenerate.hpp"

#include "analyses/action_env.hpp"
#include "platform/format.hpp"

#include <cmath>

namespace quillan {

namespace {
constexpr const char* kNothingRun = " There is nothing to test, so no test was run.";
}

void require_shape_landmarks(const Matrix& data) {
    const Eigen::Index w = data.cols();
    if (w % 2 == 0 || w >= 7) return;
    const double k = static_cast<double>((w - 1) / 2);
    throw Refused(
        format_expand_reuse("The landmark file has %i landmark%s per specimen, but a shape needs at least 3: two points (or one) "
                            "always have the same shape once position, size and orientation are removed.",
                            {k, k == 1 ? "" : "s"}) +
        kNothingRun);
}

void require_shape_variation(double total_ss, long long specimens) {
    if (!std::isfinite(total_ss))
        throw Refused(format_expand_reuse("The total sum of squared Procrustes distances is %f, not a number that can be tested.",
                                          {total_ss}) +
                      kNothingRun);
    const double n = static_cast<double>(specimens);
    if (total_ss < 1e-12 * n)
        throw Refused(
            format_expand_reuse("All %i specimens have the same shape (the total sum of squared Procrustes distances is %g, "
                                "rounding noise): they differ at most in position, size and orientation.",
                                {n, total_ss}) +
            kNothingRun);
}

void require_testable_grouping(int groups, int specimens, const std::string& what, const std::string& unit) {
    if (groups <= 1)
        throw Refused(format_expand_reuse("%s puts all %i specimens in a single %s, so there are no groups to compare.",
                                          {what, static_cast<double>(specimens), unit}) +
                      kNothingRun);
    if (groups >= specimens)
        throw Refused(
            format_expand_reuse("%s puts each of the %i specimens in a %s of its own, so no variation is left within the %ss "
                                "to compare them against: any grouping would explain all of it.",
                                {what, static_cast<double>(specimens), unit, unit}) +
            kNothingRun);
}

void require_specimens(long long specimens, long long needed, const std::string& what) {
    if (specimens >= needed) return;
    throw Refused(
        format_expand_reuse("%s needs at least %i specimens, but there %s %i.",
                            {what, static_cast<double>(needed), specimens == 1 ? "is" : "are", static_cast<double>(specimens)}) +
        kNothingRun);
}

void require_varying_block(double block_ss, long long specimens, const std::string& what) {
    if (std::isfinite(block_ss) && block_ss >= 1e-12 * static_cast<double>(specimens)) return;
    throw Refused(format_expand_reuse("%s does not vary among the specimens (the sum of squares of its coordinates about "
                                      "their means is %g, rounding noise), so it cannot covary with anything.",
                                      {what, block_ss}) +
                  kNothingRun);
}

void require_finite_cells(const Eigen::MatrixXd& cells, const std::string& what) {
    for (Eigen::Index j = 0; j < cells.cols(); ++j)
        for (Eigen::Index i = 0; i < cells.rows(); ++i)
            if (!std::isfinite(cells(i, j)))
                throw Refused(format_expand_reuse("Row %i, column %i of %s is %f, not a finite number.",
                                                  {static_cast<double>(i + 1), static_cast<double>(j + 1), what, cells(i, j)}) +
                              kNothingRun);
}

}  // namespace quillan
