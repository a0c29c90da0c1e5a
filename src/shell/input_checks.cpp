#include "shell/input_checks.hpp"

#include "platform/error.hpp"
#include "platform/number_text.hpp"

#include <cmath>

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

}  // namespace quillan
