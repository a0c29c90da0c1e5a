// Pieces every report is built from.
#pragma once

#include <string>

namespace quillan {

// The probability piece of a permutation count: with no exceeding
// permutation the zero format gets 1/nperm (after nperm when `with_nperm`),
// otherwise the other format gets the count (and nperm) and count/nperm.
std::string count_piece(long long count, long long nperm, const char* zero_format, const char* format, bool with_nperm = false);

}  // namespace quillan
