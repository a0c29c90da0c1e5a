#include "batch/batch.hpp"
#include "batch/stop_signals.hpp"
#include "platform/atomic_file.hpp"
#include "platform/error.hpp"

#include <iostream>

namespace quillan {

int run_batch_written_together(int argc, char** argv, const BatchProcess& process) {
    // The handlers are held from the start of the run to the end of the
    // commit: a stop signal only ever records a request, whichever thread
    // takes it, so none can end the process halfway through the set.
    StopSignals stop_signals;
    SaveSet saves;
    const int status = run_batch(argc, argv, process, saves);
    if (status != 0) return status;  // the set is dropped: a failed run changes no file
    if (const int signal = StopSignals::received()) {
        // Stopped while the last files were being made: none of them is written.
        std::cerr << "quillan-batch: stopped\n";
        return StopSignals::exit_status(signal);
    }
    // The commit does not look at the request: a signal arriving now waits
    // until every file is in place (or every old one back) and is answered
    // then.  Alone, the process keeps the handlers to its end, so one that
    // comes later finds the run over.  (A team's process meets the others
    // once more, and a signal from the launcher must still end it there.)
    if (!process.team) StopSignals::keep_to_exit();
    int result = 0;
    try {
        saves.commit([](const std::string& w) { std::cerr << "quillan-batch: Warning: " << w << '\n'; });
    } catch (const QuillanError& e) {
        std::cerr << "quillan-batch: Error: " << e.what() << '\n';
        result = 1;
    }
    if (const int signal = StopSignals::received()) {
        std::cerr << "quillan-batch: stopped after the files were " << (result == 0 ? "written" : "left as they were") << '\n';
        result = StopSignals::exit_status(signal);
    }
    return result;
}

}  // namespace quillan
