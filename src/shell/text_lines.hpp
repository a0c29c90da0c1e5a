// The byte-level side of reading the input files: reading a file whole but
// never without bound, cutting it into lines whatever the system that wrote
// it, and quoting a bad line safely in a message.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillan {

// Past these sizes a file is refused with a message instead of being read
// on until memory runs out (reading /dev/zero, say, never ends by itself).
struct ReadLimits {
    std::size_t file_bytes = std::size_t{1} << 30;   // 1 GB
    std::size_t line_bytes = std::size_t{64} << 20;  // 64 MB: far beyond any real table's line
};

// Reads the whole file at `path`.  Throws QuillanError naming the file when
// it cannot be opened or read, is a folder, or is larger than the limit.
std::string read_file_capped(const std::string& path, const ReadLimits& limits = {});

// Cuts text into lines.  Each line keeps its line end.  A line ends at a line
// feed (with any carriage returns just before it), or at a carriage return
// not followed by a line feed, as files from old Macintosh systems end
// their lines; a last line without a line end is a line too.  A UTF-8
// byte-order mark at the very start is skipped.
std::vector<std::string_view> split_file_lines(std::string_view text);

// True when a line holds nothing but its line end.
bool is_only_line_end(std::string_view line);

// A line as a message may quote it: without its line end, cut to about 60
// characters, every byte that is not a printable ASCII character written as
// \xNN (a tab as \t), so no control byte reaches a terminal and no NUL cuts
// the message short.
std::string quoted_snippet(std::string_view line);

}  // namespace quillan
