// quillan-batch --plots: the pictures of the action run, written as SVG and
// PNG into a folder, drawn on Qt's offscreen platform (no display needed).
#pragma once

#include "analyses/workspace.hpp"
#include "figures/distributions.hpp"
#include "figures/links.hpp"

#include <ostream>
#include <string>

namespace quillan {

// False when the program was built without Qt, and so draws nothing.
bool batch_pictures_available();

struct BatchPlotRequest {
    std::string folder;
    std::string links_file;       // optional wireframe
    std::string group_by = "g1";  // none, g1, g2 or cells
    LandmarkMarks marks;          // semilandmarks and estimated landmarks of an imported table
};

// Writes every picture that what is loaded and the last test allow.
// Returns the number of files written; fails with a message naming the
// file or folder at fault (files already written stay).
// Pictures that cannot be drawn are named with their reason on `warnings`;
// the files written, and whatever Qt says while drawing, go to `trace`.
int write_batch_plots(const Workspace& ws, const DistributionLog& log, const BatchPlotRequest& request, std::ostream& warnings,
                      std::ostream& trace);

}  // namespace quillan
