// Checks of a loaded file's values that the table reader cannot make, since
// it does not know which kind of file it reads.
#pragma once

#include "platform/value.hpp"

#include <string>
#include <vector>

namespace quillan {

// Group codes are compared as doubles.  Beyond 2^53 in size neighbouring
// whole numbers share one double (1e18 and 1000000000000000001 would be one
// group), and NaN or infinite codes are no codes at all: both are refused,
// naming the file and the line.
void check_group_codes(const Matrix& glist, const std::string& path);

// What a loaded group file holds that is allowed but likely a mistake, one
// warning each: a code that is not a whole number (1.5 is a group of its own,
// not between 1 and 2; a covariate file, most likely), a column that puts
// every specimen in a group of its own, and columns after the second, which
// no analysis reads.  Such a file is still loaded; these are said at once
// rather than at test time.
std::vector<std::string> group_file_warnings(const Matrix& glist, const std::string& path);

}  // namespace quillan
