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

// What makes a loaded group file look like some other kind of file: a code
// that is no whole number (a covariate file, most likely) or a column that
// puts every specimen in a group of its own.  Such a file is still loaded;
// these are the warnings to give at once rather than at test time.
std::vector<std::string> group_code_warnings(const Matrix& glist, const std::string& name);

}  // namespace quillan
