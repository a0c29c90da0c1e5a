// The batch front end's main routine, shared by quillan-batch (one process)
// and quillan-batch-mpi (one of several processes sharing the permutations).
#pragma once

#include <iostream>
#include <string>

namespace quillan {

class ProcessTeam;
class SaveSet;
struct PictureModule;

// How this process takes part in a run.
struct BatchProcess {
    // The program's name in --help and --version, and a paragraph on how
    // it runs, for the top of --help.
    const char* name = "quillan-batch";
    const char* about = "";
    // Whether this process writes what the run writes: the report, the
    // exports, the pictures, the log and the progress bar.  Of a team of
    // processes only the first does.
    bool writes = true;
    // The processes sharing the permutations; none when this one runs alone.
    ProcessTeam* team = nullptr;
    // Worker threads when --threads is 0 (0: every core).
    int default_threads = 0;
    // How --plots gets its pictures drawn; neither is set in a build
    // without pictures.  A program linked to the shared libraries opens the
    // picture module (load_picture_module); quillan-batch linked whole, which
    // cannot open it, hands the run to the picture program instead
    // (hand_over_to_picture_program), which returns only when it cannot,
    // with the exit status.
    const PictureModule* (*open_pictures)(std::string& problem) = nullptr;
    int (*hand_over_pictures)(char** argv) = nullptr;
    // Where the run writes what quillan-batch writes to standard output and
    // standard error; a host program (the library entry) reads them as text.
    std::ostream* out = &std::cout;
    std::ostream* err = &std::cerr;
    // The console trace, for a host that keeps it: then it goes there alone,
    // whatever --trace says.
    std::ostream* trace = nullptr;
    // Whether the run answers Ctrl-C, SIGTERM and SIGHUP with handlers of
    // its own.  A host that keeps its own asks through a StopSource instead
    // (platform/stop_request.hpp).
    bool own_signals = true;
};

// What a run hands a host program beside its exit status.
struct RunProducts {
    std::string report;       // what the run printed as its report, or a load's or Clear's file box
    std::string record_json;  // the numbers of the report as --json writes them; empty when none
    std::string message;      // the refusal or error that ended the action, in its own words
};

// Parses the command line and runs the action; every file the run saves
// (report, exports, pictures, converted tables) is staged in `files`, for
// the caller to commit.  Returns the exit status.
int run_batch(int argc, char** argv, const BatchProcess& process, SaveSet& files);

// The whole run: run_batch, then the files put in place only when the run
// ended well and was not stopped, all of them or none.
int run_batch_written_together(int argc, char** argv, const BatchProcess& process = {});

}  // namespace quillan
