// The byte-level side of reading the input files: cutting them into lines
// whatever the system that wrote them (reading them whole but never without
// bound, and quoting a bad line safely, come from platform/capped_read).
#pragma once

#include "platform/capped_read.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillan {

// Cuts text into lines.  Each line keeps its line end.  A line ends at a line
// feed (with any carriage returns just before it), or at a carriage return
// not followed by a line feed, as files from old Macintosh systems end
// their lines; a last line without a line end is a line too.  A UTF-8
// byte-order mark at the very start is skipped.
std::vector<std::string_view> split_file_lines(std::string_view text);

// True when a line holds nothing but its line end.
bool is_only_line_end(std::string_view line);

}  // namespace quillan
