// Checks of a loaded file's values that the table reader cannot make, since
// it does not know which kind of file it reads.
#pragma once

#include "platform/value.hpp"

#include <string>

namespace quillan {

// Group codes are compared as doubles.  Beyond 2^53 in size neighbouring
// whole numbers share one double (1e18 and 1000000000000000001 would be one
// group), and NaN or infinite codes are no codes at all: both are refused,
// naming the file and the line.
void check_group_codes(const Matrix& glist, const std::string& path);

}  // namespace quillan
