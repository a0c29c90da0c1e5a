// The side files of the analyses (a partition of the landmarks, a second
// block of variables, pairs of matching landmarks) read as the other input
// files are: never without bound, a UTF-8 byte-order mark dropped, LF, CR LF
// and bare CR line ends alike, and a file that is no text refused naming its
// line.  What the words mean is left to the analysis (analyses/side_file.hpp).
#pragma once

#include "analyses/side_file.hpp"
#include "platform/capped_read.hpp"

#include <string>

namespace quillan::io {

// Reads the side file at `path`; `what` names it in messages ("The
// partition file").  Words are separated by blanks, tabs or line ends;
// lines without words are left out.  A file that cannot be read fails as
// read_file_capped fails; one in UTF-16 or holding a NUL byte is refused
// naming the file (and the line).
SideFile read_side_file(const std::string& path, const std::string& what, const ReadLimits& limits = {});
// The same for bytes already in memory (the fuzz target, tests).
SideFile side_file_from_bytes(const std::string& bytes, const std::string& path, const std::string& what);

}  // namespace quillan::io
