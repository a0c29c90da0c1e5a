#include "batch/batch.hpp"
#include "batch/stop_signals.hpp"
#include "platform/atomic_file.hpp"
#include "platform/error.hpp"

#include <iostream>

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
    try {
        saves.commit([](const std::string& w) { std::cerr << "quillan-batch: Warning: " << w << '\n'; });
    } catch (const QuillanError& e) {
        std::cerr << "quillan-batch: Error: " << e.what() << '\n';
        return 1;
    }
    return 0;
}

}  // namespace quillan
