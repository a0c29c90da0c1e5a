// Reading an input file whole but never without bound, and quoting what was
// read safely in a message.  The loaders and the importers share both, so a
// file of any kind is refused at the same sizes and no message of either
// passes a control byte to the terminal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillan {

// Past these sizes a file is refused with a message instead of being read
// on until memory runs out (reading /dev/zero, say, never ends by itself).
struct ReadLimits {
    std::size_t file_bytes = std::size_t{1} << 30;   // 1 GB
    std::size_t line_bytes = std::size_t{64} << 20;  // 64 MB: far beyond any real table's line
};

// Reads the whole file at `path`.  Throws QuillanError naming the file when
// it cannot be opened or read, is a folder, is larger than the file limit or
// has a line longer than the line limit; reading stops at the first byte
// past either limit.  `outcome` ends every message ("Nothing was loaded.").
std::string read_file_capped(const std::string& path, const ReadLimits& limits = {},
                             const std::string& outcome = "Nothing was loaded.");

// A line as a message may quote it: without its line end, cut to about 60
// characters, every byte that is not a printable ASCII character written as
// \xNN (a tab as \t), so no control byte reaches a terminal and no NUL cuts
// the message short.
std::string quoted_snippet(std::string_view line);

// Text a report shows as it is, but with every control byte other than a
// line end or a tab written as \xNN, as quoted_snippet writes it: an ID or a
// file name can hold any byte, and a terminal must not take one as an
// instruction.  Letters of other scripts (UTF-8) are left alone.
std::string printable_text(std::string_view text);

}  // namespace quillan
