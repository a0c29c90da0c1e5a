// The processes that share one run's permutations.
//
// A program running on its own has no team (the run options hold none) and
// runs every permutation itself.  The cluster front end starts the same
// program once per process and hands each a team: every process reads the
// same files and runs the same action, the permutation engine gives each
// process its own stretch of the permutation numbers, and the processes meet
// to agree on a seed, to add up their progress and to add up their counts.
// Because permutation i always draws from the stream of (seed, i), the counts
// and so the report are the same on any number of processes.
//
// Every process calls meet() at the same points in the same order.  A
// process that fails, or is asked to stop, says so at its next meeting; the
// answer tells every process, and from then on meet() answers at once
// without waiting for anyone, so no process is left waiting for one that has
// given up.
#pragma once

#include <cstdint>
#include <vector>

namespace quillan {

// What one process brings to a meeting.
struct TeamWord {
    int status = 0;          // nonzero: this process failed, with this exit status
    bool stop = false;       // this process was asked to stop
    long long done = 0;      // permutations this process has finished in the current loop
    std::uint64_t seed = 0;  // the seed this process drew (the first process's is the one used)
    std::uint64_t data = 0;  // a fingerprint of the data this process read (0 when it says none)
};

// What a meeting tells every process.
struct TeamAnswer {
    int status = 0;          // the exit status of the lowest-numbered process that failed; 0 when none did
    int failed_rank = -1;    // that process's number
    bool stop = false;       // some process was asked to stop
    long long done = 0;      // permutations finished in all
    std::uint64_t seed = 0;  // the first process's seed
    bool same_data = true;   // every process brought the same data fingerprint
    // Nothing more is done together after such a meeting.
    bool over() const { return status != 0 || stop; }
};

class ProcessTeam {
public:
    virtual ~ProcessTeam() = default;
    // This process's number, 0 for the one that writes the results.
    virtual int rank() const = 0;
    virtual int size() const = 0;
    // Waits until every process has brought its word to this meeting; once a
    // meeting was over(), returns that answer again at once.
    virtual TeamAnswer meet(const TeamWord& word) = 0;
    // Whether a meeting was over(): the team does nothing more together.
    virtual bool over() const = 0;
    // Only after a meeting that was not over: replaces `values` by their sums
    // over the team, element by element, on every process.
    virtual void sum(std::vector<long long>& values) = 0;
    // Only after a meeting that was not over: process r has filled the rows
    // starts[r] to starts[r+1] (each `width` values) of `values`; afterwards
    // every process holds every row.
    virtual void share_rows(std::vector<double>& values, const std::vector<long long>& starts, int width) = 0;
};

// The stretch of permutation numbers of each process: process r runs
// starts[r] up to (not including) starts[r+1]; the stretches differ in
// length by one at most.
std::vector<long long> team_shares(long long nperm, int processes);

}  // namespace quillan
