#include "batch/batch.hpp"
#include "batch/stop_signals.hpp"
#include "platform/atomic_file.hpp"
#include "platform/error.hpp"

#include <iostream>

#include <pthread.h>
#include <csignal>

namespace quillan {

int run_batch_written_together(int argc, char** argv, const BatchProcess& process) {
    SaveSet saves;
    const int status = run_batch(argc, argv, process);
    if (status != 0) return status;  // the set is dropped: a failed run changes no file
    if (const int signal = StopSignals::received()) {
        // Stopped while the last files were being made: none of them is written.
        std::cerr << "quillan-batch: stopped\n";
        return StopSignals::exit_status(signal);
    }
    // The set is put in place with the stop signals held: one arriving now
    // waits until every file is in place (or every old one back), and is
    // acted on then, so no signal leaves half a set.  Alone, the process
    // holds them to its end: one that comes after that finds the run over,
    // every file in place, where it would otherwise end the process by itself.
    // (A team's process meets the others once more, and a signal from the
    // launcher must still end it there.)
    sigset_t stops;
    sigemptyset(&stops);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, signal);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    int result = 0;
    try {
        saves.commit([](const std::string& w) { std::cerr << "quillan-batch: Warning: " << w << '\n'; });
    } catch (const QuillanError& e) {
        std::cerr << "quillan-batch: Error: " << e.what() << '\n';
        result = 1;
    }
    sigset_t pending;
    sigpending(&pending);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        if (sigismember(&pending, signal)) {
            std::cerr << "quillan-batch: stopped after the files were " << (result == 0 ? "written" : "left as they were")
                      << '\n';
            result = StopSignals::exit_status(signal);
            int taken = 0;
            sigwait(&stops, &taken);  // the signal is answered by the exit status
            break;
        }
    if (process.team) pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
    return result;
}

}  // namespace quillan
