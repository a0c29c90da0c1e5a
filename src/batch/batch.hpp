// The batch front end's main routine, shared by quillan-batch (one process)
// and quillan-batch-mpi (one of several processes sharing the permutations).
#pragma once

namespace quillan {

class ProcessTeam;
class SaveSet;

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
};

// Parses the command line and runs the action; every file the run saves
// (report, exports, pictures, converted tables) is staged in `files`, for
// the caller to commit.  Returns the exit status.
int run_batch(int argc, char** argv, const BatchProcess& process, SaveSet& files);

// The whole run: run_batch, then the files put in place only when the run
// ended well and was not stopped, all of them or none.
int run_batch_written_together(int argc, char** argv, const BatchProcess& process = {});

}  // namespace quillan
