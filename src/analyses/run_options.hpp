// How the permutations of a computation run: the seed, the threads, the
// progress and cancel callback, and who else sees what they draw.  The
// computations take these options and a console, and nothing of the window,
// so they run the same in an action, an operation called by name or a test.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace quillan {

class PermutationRecorder;
class ProcessTeam;

struct RunOptions {
    // Seed of the random permutations; without one every run draws afresh.
    std::optional<std::uint64_t> seed;
    // Worker threads for the permutations; 0 uses every core.
    int threads = 0;
    // Called now and then on the action's own thread while permutations run,
    // with the permutations done and in all; returning false cancels the
    // action.  The desktop program keeps its window painting from here.
    std::function<bool(long long done, long long total)> progress;
    // Sees every permutation's statistics when set (for the histogram
    // pictures); it must outlive the action.
    PermutationRecorder* recorder = nullptr;
    // The processes this one shares the permutations with (the cluster front
    // end); none: this process runs them all.  It must outlive the action.
    ProcessTeam* team = nullptr;
    // Where each permutation engine notes the seed it uses, in order, when
    // set: an action's record of its run.
    std::vector<std::uint64_t>* seeds = nullptr;
    // How long a loop of permutations runs on the action's own thread before
    // it starts the worker threads: a short loop is over before threads would
    // have started, and they cost more than it does.  Zero starts them at once.
    std::chrono::microseconds alone_first{3000};
};

}  // namespace quillan
