// The links file of the pictures' wireframe, read as the other input files
// are: never without bound, a UTF-8 byte-order mark dropped, LF, CR LF and
// bare CR line ends alike, and a file that is no text refused naming its line.
#pragma once

#include "figures/links.hpp"
#include "platform/capped_read.hpp"

#include <string>

namespace quillan::io {

// Reads the links file at `path` for shapes of `landmarks` landmarks; fails
// naming the file and line as parse_links does.
Links read_links_file(const std::string& path, int landmarks, const ReadLimits& limits = {});

}  // namespace quillan::io
