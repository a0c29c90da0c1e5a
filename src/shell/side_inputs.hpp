// The side files of a run: the files an action's own options name beside
// the loaded workspace (a partition, a second block, land pairs), read by
// io/ before the analysis so that the analysis only interprets their words.
#pragma once

#include "analyses/side_file.hpp"
#include "shell/run_request.hpp"

namespace quillan {

// The side files `request` names that its action takes, each read whole
// (io::read_side_file), keyed by its option without the dashes.  A file
// that cannot be read fails here, before the analysis starts.
SideFiles side_files_of(const RunRequest& request);

}  // namespace quillan
