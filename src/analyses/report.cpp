#include "analyses/report.hpp"

#include "analyses/action_env.hpp"
#include "analyses/probability_text.hpp"
#include "platform/format.hpp"

namespace quillan {

std::string count_piece(long long count, long long nperm, const char* zero_format, const char* format, bool with_nperm) {
    const double c = static_cast<double>(count), n = static_cast<double>(nperm);
    if (count == 0) {
        const std::string f = visible_probability_format(zero_format, 1.0 / n);
        return with_nperm ? format_expand_reuse(f, {n, 1.0 / n}) : format_expand_reuse(f, {1.0 / n});
    }
    const std::string f = visible_probability_format(format, c / n);
    return with_nperm ? format_expand_reuse(f, {c, n, c / n}) : format_expand_reuse(f, {c, c / n});
}

std::string probability_piece(long long count, long long nperm, const char* zero_format, const char* format,
                              std::vector<FmtArg> values) {
    const double n = static_cast<double>(nperm);
    const double p = count == 0 ? 1.0 / n : static_cast<double>(count) / n;
    values.emplace_back(p);
    return format_expand_reuse(visible_probability_format(count == 0 ? zero_format : format, p), values);
}

}  // namespace quillan

namespace quillan {

std::string one_way_groups_piece(ActionEnv& env, int ng) {
    const std::string piece = format_expand_reuse("\\n\\nA single classifying variable with %i groups was used", {ng});
    env.console().line(piece);
    return piece;
}

std::string f_piece(double observed_f, double df1, double df2) {
    return format_expand_reuse("\\n\\nF=%2.4f, df1 (numerator)=%1.4f, df2(denominator)=%1.4f", {observed_f, df1, df2});
}

std::string observed_f_count_piece(long long exc, long long nperm) {
    return count_piece(exc, nperm, "\\n\\nThe observed F was exceeded by 0 permutations out of %i, p< %f",
                       "\\n\\nThe observed F was exceeded by %i permutations out of %i, p= %f ", true);
}

std::string explained_count_piece(long long count, long long nperm) {
    return count_piece(count, nperm, "\\n\\nThe explained variance was exceeded by 0 permutations, p< %f",
                       "\\n\\nThe explained variance was exceeded by %i permutations, p= %f ");
}

std::string first_model_piece(long long exc_g2_shuffled, long long nperm) {
    return count_piece(
        exc_g2_shuffled, nperm,
        "\\n\\nThe 2 Group explained variance was exceeded by 0 permutations of the 1st Group Model, p< %f that the 1st "
        "Group Model explains as much as the 2 Group Model",
        "\\n\\nThe 2 Group explained variance was exceeded by %i permutations of the 1st Group Model, p= %f that the "
        "1st Group Model explains as much as the 2 Group Model");
}

std::string second_model_piece(long long exc_g1_shuffled, long long nperm) {
    return count_piece(
        exc_g1_shuffled, nperm,
        "\\n\\nThe 2 Group explained variance was exceeded by 0 permutations of the 2nd Group Model, p< %f that the 2nd "
        "Group Model explains as much as the 2 Group Model",
        "\\n\\nThe 2 Group explained variance was exceeded by %i permutations of the 2nd Group Model, p= %f that the "
        "2nd Group Model explains as much as the 2 Group Model");
}

}  // namespace quillan
