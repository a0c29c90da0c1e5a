// Pieces every report is built from.
#pragma once

#include "platform/format.hpp"

#include <string>
#include <vector>

namespace quillan {

// The probability piece of a permutation count: with no exceeding
// permutation the zero format gets 1/nperm (after nperm when `with_nperm`),
// otherwise the other format gets the count (and nperm) and count/nperm.
std::string count_piece(long long count, long long nperm, const char* zero_format, const char* format, bool with_nperm = false);

// A piece that prints `values` and then a probability: the zero format with
// 1/nperm when no permutation counted, otherwise the other format with
// count/nperm.
std::string probability_piece(long long count, long long nperm, const char* zero_format, const char* format,
                              std::vector<FmtArg> values = {});

}  // namespace quillan

namespace quillan {

class ActionEnv;

// Pieces the one-way F tests share.
std::string one_way_groups_piece(ActionEnv& env, int ng);  // also echoed to the console
std::string f_piece(double observed_f, double df1, double df2);
std::string observed_f_count_piece(long long exc, long long nperm);

// Pieces the two-way tests share.
std::string explained_count_piece(long long count, long long nperm);         // "The explained variance was exceeded by ..."
std::string first_model_piece(long long exc_g2_shuffled, long long nperm);   // the 1st Group Model against the cells
std::string second_model_piece(long long exc_g1_shuffled, long long nperm);  // the 2nd Group Model against the cells

}  // namespace quillan
