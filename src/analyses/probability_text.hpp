// Probabilities in reports are printed with the precision their format asks
// for, which for a fixed-point conversion can round a small but nonzero
// probability, such as the bound 1/nperm of a run of more than two million
// permutations, to "0.000000".  A zero p-value is a claim no permutation test
// can make, so such a probability gets just enough further digits to show
// its first significant digit.
#pragma once

#include <string>
#include <string_view>

namespace quillan {

// `format` with its last conversion, the one that prints `p`, given more
// digits after the point when it would otherwise print a nonzero `p` as
// zero.  Any other format is returned as it stands.
std::string visible_probability_format(std::string_view format, double p);

}  // namespace quillan
