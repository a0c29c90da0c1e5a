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

std::vector<std::string> group_file_notes(const Matrix& glist, const std::string& path) {
    std::vector<std::string> notes;
    for (Eigen::Index i = 0; i < glist.rows() && notes.empty(); ++i)
        for (Eigen::Index j = 0; j < glist.cols() && j < 2; ++j) {
            const double c = glist(i, j);
            if (c == std::floor(c)) continue;
            notes.push_back("Line " + std::to_string(i + 1) + " of the group file " + path + " holds the code " +
                            exact_number_text(c) + ", not a whole number; every different value is a group of its own.");
            break;
        }
    if (glist.cols() > 2)
        notes.push_back("The group file " + path + " has " + std::to_string(glist.cols()) +
                        " columns: the first two are the grouping variables, and the third and later columns are ignored.");
    return notes;
}

}  // namespace quillan
