// The permutation engine shared by every analysis.
//
// Each permutation draws from its own random stream, derived from the
// action's seed and the permutation's number, so a seeded run gives the same
// counts whatever the number of worker threads; unseeded runs draw a fresh
// seed.  The permutations run on a pool of worker threads while the action's
// own thread reports progress and honours a cancel request between
// permutations.
#pragma once

#include "analyses/run_options.hpp"
#include "platform/console.hpp"
#include "platform/random.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace quillan {

// How a permutation's statistic is compared with the observed one.  Only a
// strictly greater (or strictly smaller) value counts; an equal one never does.
enum class Exceeds { Greater, Less };

struct PermutationResult {
    std::vector<long long> counts;     // per statistic, permutations that exceeded the observed value
    std::vector<long long> counts_ge;  // per statistic, permutations that reached or exceeded it (ties counted)
    std::vector<double> values;        // every permutation's statistics (only when kept), permutation-major
    long long single_groups = 0;       // permutations in which a shuffled grouping formed a one-specimen group
};

// One permutation's work: fills `stats` (one entry per statistic) for
// permutation `index` (0-based), drawing its shuffles from `rng`.  Returns
// true when a shuffled grouping formed a group of a single specimen.  Called
// concurrently from the worker threads, each with its own state.
// Consecutive random-stream ids of one engine.  An action with several
// permutation loops takes a block of ids for each loop from its engine, in
// a fixed order, so no two loops share a stream and a seeded report stays
// the same from one version to the next as long as that order is kept.
struct StreamIds {
    int first = 0;
    int count = 1;
    int at(int i) const { return first + i; }
};

template <class State>
using PermutationBody = std::function<bool(State& state, long long index, Rng& rng, double* stats)>;

class PermutationEngine {
public:
    // `options` must outlive the engine; its seed goes to options.seeds when
    // that is set.  `console` (optional) hears when fewer worker threads
    // could be started than asked for.
    explicit PermutationEngine(const RunOptions& options, Console* console = nullptr);

    // The seed of this action's streams (drawn afresh when none was given).
    std::uint64_t seed() const { return seed_; }
    int threads() const { return threads_; }
    const RunOptions& options() const { return options_; }

    // Hands out the next `count` stream ids.  The first block starts at 0,
    // the id an action with a single loop uses without asking.
    StreamIds take_streams(int count = 1);

    // Runs `nperm` permutations.  `make_state` gives each worker its own
    // scratch state; `observed` and `how` say what counts as exceeding for
    // each statistic.  Permutation i draws from stream (`loop`, i); an
    // action with several loops gives each its own id from take_streams.
    // With `keep_values` every statistic is returned too.
    template <class State>
    PermutationResult run(long long nperm, const std::vector<double>& observed, const std::vector<Exceeds>& how,
                          const std::function<std::unique_ptr<State>()>& make_state, const PermutationBody<State>& body,
                          int loop = 0, bool keep_values = false) {
        return run_erased(
            nperm, observed, how,
            [&]() -> std::function<bool(long long, Rng&, double*)> {
                std::shared_ptr<State> state(make_state().release());
                return [state, &body](long long i, Rng& rng, double* stats) { return body(*state, i, rng, stats); };
            },
            loop, keep_values);
    }

    // The random stream of permutation `index` of loop `loop`.
    Rng stream(long long index, int loop = 0) const;

    // A long step outside the permutations (a search, a decomposition) at
    // `done` of `total`: reported as progress, and where the action is asked
    // to stop, it stops here (Cancelled).  On the action's own thread only.
    void step(long long done, long long total) const;

private:
    using Worker = std::function<bool(long long, Rng&, double*)>;
    PermutationResult run_erased(long long nperm, const std::vector<double>& observed, const std::vector<Exceeds>& how,
                                 const std::function<Worker()>& make_worker, int loop, bool keep_values);

    const RunOptions& options_;
    Console* console_ = nullptr;  // where to say that fewer threads ran than asked for
    std::uint64_t seed_;
    int threads_;
    int next_stream_ = 0;
};

}  // namespace quillan
