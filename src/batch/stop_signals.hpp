// Ctrl-C (SIGINT) and SIGTERM during a batch run: the first one asks the
// running action to stop at its next progress report (a fraction of a second
// in the permutation loops) so that nothing is written and no file is left
// half-made; a second one of the same kind ends the program at once.
#pragma once

namespace quillan {

class StopSignals {
public:
    StopSignals();   // installs the handlers
    ~StopSignals();  // restores the previous ones
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The signal received so far (SIGINT or SIGTERM), or 0.
    static int received();
    // The exit status for a run stopped by `signal`: 128 + its number.
    static int exit_status(int signal) { return 128 + signal; }
};

// Whether a stop was asked for: the check between the steps that write
// (exports, pictures), so a stop writes nothing further.
inline bool stop_requested() { return StopSignals::received() != 0; }

}  // namespace quillan
