// A stop asked for from outside the work under way: Ctrl-C or SIGTERM in the
// batch program.  The permutations ask at every progress report; the other
// steps that can run long on a large input (reading and merging tables,
// expanding a formula, building a design, estimating and sliding landmarks,
// superimposing, drawing) ask at their stop points, which end the step by
// throwing Cancelled.  So a stop takes effect within a fraction of a second
// wherever the program is busy, and nothing is written after it.
#pragma once

namespace quillan {

// Records a stop and its cause (a signal's number, say); the first cause is
// kept.  Safe to call from a signal handler.
void request_stop(int cause) noexcept;
// The cause of the stop asked for, or 0.
int stop_cause() noexcept;
// Forgets a stop asked for (for tests, which ask for one on purpose).
void clear_stop() noexcept;
// Throws Cancelled when a stop was asked for.
void stop_point();

// A module built with its own copy of this code asks the program instead:
// while a StopSource lives, stop_cause() is what `cause` answers.
class StopSource {
public:
    explicit StopSource(int (*cause)());
    ~StopSource();
    StopSource(const StopSource&) = delete;
    StopSource& operator=(const StopSource&) = delete;

private:
    int (*previous_)();
};

}  // namespace quillan
