// Ctrl-C (SIGINT), SIGTERM and SIGHUP during a batch run ask the running
// action to stop: the permutations at their next progress report, every
// other long step at its next stop point (see platform/stop_request.hpp),
// within a fraction of a second, so that nothing is written and no file is
// left half-made.  The handlers stay in place for the whole run and through
// the writing of its files: a signal is never lost to a step that does not
// look, a second one is not needed, and none can end the program by its
// default action from whichever thread (ours or a library's) it is given to.
#pragma once

namespace quillan {

class StopSignals {
public:
    // Installs the handlers; nested holders share the outermost one's.
    StopSignals();
    // The outermost holder restores the previous handlers, unless
    // keep_to_exit() was called.
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The signal received first (SIGINT, SIGTERM or SIGHUP), or 0.
    static int received();
    // The exit status for a run stopped by `signal`: 128 + its number.
    static int exit_status(int signal) { return 128 + signal; }
    // Leaves the handlers in place to the end of the process: a signal that
    // comes once every file is in place finds the run over, rather than
    // ending the process by its default action on the way out.
    static void keep_to_exit();
};

// Whether a stop was asked for: the check between the steps that write
// (exports, pictures), so a stop writes nothing further.
inline bool stop_requested() { return StopSignals::received() != 0; }

}  // namespace quillan
