// Ctrl-C (SIGINT) and SIGTERM during a batch run ask the running action to
// stop: the permutations at their next progress report, every other long
// step at its next stop point (see platform/stop_request.hpp), within a
// fraction of a second, so that nothing is written and no file is left
// half-made.  The handlers stay in place for the whole run: a signal is
// never lost to a step that does not look, and a second one is not needed
// (nor taken as a reason to end the program without its clean-up).
#pragma once

namespace quillan {

class StopSignals {
public:
    StopSignals();   // installs the handlers
    ~StopSignals();  // restores the previous ones
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The signal received first (SIGINT or SIGTERM), or 0.
    static int received();
    // The exit status for a run stopped by `signal`: 128 + its number.
    static int exit_status(int signal) { return 128 + signal; }
};

// Whether a stop was asked for: the check between the steps that write
// (exports, pictures), so a stop writes nothing further.
inline bool stop_requested() { return StopSignals::received() != 0; }

}  // namespace quillan
