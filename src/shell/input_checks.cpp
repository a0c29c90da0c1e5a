#include "shell/input_checks.hpp"

#include "platform/error.hpp"
#include "platform/number_text.hpp"

#include <algorithm>
#include <cmath>
#include <set>

namespace quillan {

void check_group_codes(const Matrix& glist, const std::string& path) {
    constexpr double kLargestExactCode = 9007199254740992.0;  // 2^53
    for (Eigen::Index i = 0; i < glist.rows(); ++i)
        for (Eigen::Index j = 0; j < glist.cols(); ++j) {
            const double c = glist(i, j);
            const std::string where = "Line " + std::to_string(i + 1) + " of the group file " + path + " holds the code ";
            if (!std::isfinite(c))
                throw QuillanError(where + exact_number_text(c) + " in column " + std::to_string(j + 1) +
                                   ", which is not a number that can name a group. Nothing was loaded.");
            if (std::fabs(c) > kLargestExactCode)
                throw QuillanError(where + exact_number_text(c) + " in column " + std::to_string(j + 1) +
                                   ": codes larger than 9007199254740992 (2^53) in size cannot all be told apart, so "
                                   "different groups could merge. Please renumber the groups. Nothing was loaded.");
        }
}

std::vector<std::string> group_file_warnings(const Matrix& glist, const std::string& path) {
    std::vector<std::string> warnings;
    const Eigen::Index read = std::min<Eigen::Index>(glist.cols(), 2);  // the grouping variables
    for (Eigen::Index j = 0; j < read; ++j) {
        const std::string column = glist.cols() > 1 ? " in column " + std::to_string(j + 1) : "";
        for (Eigen::Index i = 0; i < glist.rows(); ++i) {
            const double c = glist(i, j);
            if (std::isfinite(c) && c != std::floor(c)) {
                warnings.push_back("Line " + std::to_string(i + 1) + " of the group file " + path + " holds the code " +
                                   exact_number_text(c) + column +
                                   ", which is not a whole number: every different value is a group of its own. Is it a "
                                   "covariate file?");
                break;
            }
        }
        const std::set<double> codes(glist.col(j).begin(), glist.col(j).end());
        if (glist.rows() > 1 && codes.size() == static_cast<std::size_t>(glist.rows()))
            warnings.push_back("Each of the " + std::to_string(glist.rows()) + " specimens of the group file " + path +
                               " is in a group of its own" + column + ": no test can compare groups with it.");
    }
    if (glist.cols() > 2)
        warnings.push_back("The group file " + path + " has " + std::to_string(glist.cols()) +
                           " columns: the first two are the grouping variables, and the third and later columns are ignored.");
    return warnings;
}
}  // namespace quillan
