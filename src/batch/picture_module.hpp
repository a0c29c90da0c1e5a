// The picture module: quillan-batch --plots draws with Qt, which takes some
// fifty shared libraries to load, so the drawing lives in a module of its own
// (quillan-pictures.so) that the program opens only when --plots is given.
// Every other run starts without Qt.
//
// quillan-batch itself is linked whole, without shared libraries: a small
// run is mostly the loading of the program, and on a virtual machine each
// shared library's pages are dear.  A program so linked cannot open the
// module (it would come with a second C library), so a run with --plots is
// handed, command line and all, to the picture program
// (quillan-batch-pictures): the same front end linked to the shared
// libraries, which lives beside the module and opens it.
//
// The module is looked for beside the program (as built), then in the
// library folder of an installation (../lib/.../quillan/ from the program);
// QUILLAN_PICTURE_MODULE_DIR names the one folder to look in instead.  The
// picture program is looked for beside the module.
#pragma once

#include "analyses/workspace.hpp"
#include "figures/distributions.hpp"
#include "figures/links.hpp"
#include "figures/picture_size.hpp"
#include "figures/shapes.hpp"

#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace quillan {

struct BatchPlotRequest {
    std::string folder;
    std::string links_file;                 // optional wireframe
    Links wireframe;                        // the imported file's own, drawn when no links file is given
    std::string group_by = "g1";            // none, g1, g2 or cells
    LevelNames level_names;                 // the words behind the group codes, if an import named them
    std::vector<std::string> factor_names;  // the names of G1 and G2, if an import named them
    PictureSize size;                       // of every picture file
    LandmarkMarks marks;                    // semilandmarks and estimated landmarks of an imported table
    // The program's stop_cause() (platform/stop_request.hpp): the module's
    // stop points ask it, since the module's own copy of that code never
    // hears of a signal.  Non-zero ends the drawing.
    int (*stop_cause)() = nullptr;
    // Hands one picture file's bytes to the run's set of files, which the
    // program commits with the report and exports, so a picture never stays
    // after a stop or a failed export.  Throws QuillanError naming the file
    // when it cannot be saved.
    std::function<void(const std::string& path, std::string_view bytes)> save;
};

// What the module offers.  The program and its module must come from the
// same build (they hand each other the workspace as it is laid out in
// memory), so the module names its build and the program checks it.
struct PictureModule {
    int interface = 0;
    const char* version = "";
    // Writes every picture that what is loaded and the last test allow;
    // returns the number of files written, or -1 with the message in
    // `error` (the files go through `save`, so the program decides whether
    // those already saved stay).  Pictures that cannot be drawn
    // are named with their reason on `warnings`; the files written, and
    // whatever Qt says while drawing, go to `trace`.
    int (*write_plots)(const Workspace& ws, const DistributionLog& log, const BatchPlotRequest& request, std::ostream& warnings,
                       std::ostream& trace, std::string& error) = nullptr;
};

inline constexpr int kPictureModuleInterface = 9;
inline constexpr const char* kPictureModuleFile = "quillan-pictures.so";
inline constexpr const char* kPictureModuleEntry = "quillan_picture_module";
inline constexpr const char* kPictureProgramFile = "quillan-batch-pictures";
// Set by the program that hands a run over, to its own build, which the
// picture program checks against its own.
inline constexpr const char* kHandingBuildVariable = "QUILLAN_HANDED_OVER_BY";

// Opens the module; nullptr, with what went wrong in `problem` (a sentence
// naming the file or the folders looked in), when it cannot be used.
const PictureModule* load_picture_module(std::string& problem);

// Replaces this process by the picture program beside the module, given
// the same arguments.  Returns only when that cannot be done, with the exit
// status, having said why on standard error; or with the stop's status when
// a stop signal came first.
int hand_over_to_picture_program(char** argv);

// The folders the module is looked for in, in order, and their list for a
// message.
std::vector<std::string> picture_folders();
std::string listed_folders(const std::vector<std::string>& folders);

}  // namespace quillan
