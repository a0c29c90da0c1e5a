// A one-line progress bar for the batch front end on a terminal: the action,
// the permutations done of the total, the percentage, the rate and the time
// left, redrawn in place at most ten times a second.  It is drawn on the
// stream given (standard error) and erased when the run ends, so nothing of
// it is left between the lines a user reads.
#pragma once

#include <chrono>
#include <ostream>
#include <string>

namespace quillan {

class ProgressBar {
public:
    using Clock = std::chrono::steady_clock;

    ProgressBar(std::ostream& out, std::string action) : out_(out), action_(std::move(action)) {}
    ~ProgressBar() { erase(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // One report from the permutation engine.  A new loop of the same action
    // (done falling back, or a new total) restarts the rate and the estimate.
    void update(long long done, long long total, Clock::time_point now = Clock::now());
    // Removes the bar from the terminal line, if it is drawn.
    void erase();

    // The text of the bar for `done` of `total` after `elapsed` seconds (no
    // line control characters): what update() draws.
    static std::string line(const std::string& action, long long done, long long total, double elapsed);

private:
    std::ostream& out_;
    std::string action_;
    long long last_done_ = -1;
    long long total_ = -1;
    Clock::time_point start_{};
    Clock::time_point last_draw_{};
    bool drawn_ = false;
};

}  // namespace quillan
