// quillan-batch-mpi: the batch front end run as several processes under
// mpirun (or srun), which share the permutations of one action.
//
// Every process reads the files and runs the action; each runs its own
// stretch of the permutations, and the counts are added up among them, so
// every process ends with the same report.  The first process alone writes
// it, the exports and the pictures, and draws the progress bar.  The others
// hold back what they would say on standard error: when a run fails, the
// lowest-numbered process that failed says why, once, and every process
// ends, none waiting for another.
#include "batch/batch.hpp"
#include "batch/mpi_team.hpp"
#include "batch/picture_module.hpp"

#include <mpi.h>

#include <exception>
#include <iostream>
#include <sstream>
#include <string>

using namespace quillan;

namespace {

// A stream buffer that drops everything: standard output of the processes
// that do not write.
class NullBuf : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Options that only print and end need no other processes.
bool prints_and_ends(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h" || a == "--version" || a == "--list" || a == "--list-names") return true;
    }
    return false;
}

// What a process other than the first held back, each line naming it.
void say_held_back(const std::string& text, int rank, int size) {
    const std::string prefix = "quillan-batch-mpi: process " + std::to_string(rank) + " of " + std::to_string(size) + ": ";
    const std::string own = "quillan-batch: ";
    std::istringstream lines(text);
    std::string line;
    bool any = false;
    while (std::getline(lines, line)) {
        if (line.compare(0, own.size(), own) == 0) line.erase(0, own.size());
        if (line.empty()) continue;
        std::cerr << prefix << line << '\n';
        any = true;
    }
    if (!any) std::cerr << prefix << "the action did not complete\n";
}

}  // namespace

constexpr const char* kName = "quillan-batch-mpi";
constexpr const char* kAbout =
    "Run under mpirun -np N (or srun): every process reads the files and runs the action on\n"
    "its share of the permutations; the first process writes the report and the exports.\n"
    "A seeded run gives the same report on any number of processes.\n\n";

int main(int argc, char** argv) {
    if (prints_and_ends(argc, argv)) {
        BatchProcess alone;
        alone.name = kName;
        alone.about = kAbout;
        return run_batch_written_together(argc, argv, alone);
    }

    int provided = 0;
    if (MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided) != MPI_SUCCESS) {
        std::cerr << "quillan-batch-mpi: MPI could not be started\n";
        return 1;
    }
    int status = 0;
    {
        MpiTeam team(MPI_COMM_WORLD);
        BatchProcess process;
        process.name = kName;
        process.about = kAbout;
        process.team = &team;
#if QUILLAN_HAVE_PICTURES
        process.open_pictures = &load_picture_module;
#endif
        process.writes = team.rank() == 0;
        process.default_threads = threads_per_process(team.processes_here());

        std::ostringstream held_back;
        NullBuf nowhere;
        std::streambuf* const err = std::cerr.rdbuf();
        std::streambuf* const out = std::cout.rdbuf();
        if (!process.writes) {
            std::cerr.rdbuf(held_back.rdbuf());
            std::cout.rdbuf(&nowhere);
        }
        try {
            status = run_batch_written_together(argc, argv, process);
        } catch (const std::exception& e) {
            std::cerr << "quillan-batch: " << e.what() << '\n';
            status = 1;
        }
        // The last meeting: every process says how it ended.  A process
        // that ended early meets here while the others may be at any
        // meeting of theirs; the answer stops them.
        TeamWord word;
        word.status = status;
        const TeamAnswer answer = team.meet(word);
        std::cout.flush();
        std::cerr.rdbuf(err);
        std::cout.rdbuf(out);
        if (answer.status != 0) {
            if (answer.failed_rank == team.rank() && team.rank() != 0) say_held_back(held_back.str(), team.rank(), team.size());
            // Every process ends with the status of the one that spoke.
            status = answer.status;
        }
    }
    MPI_Finalize();
    return status;
}
