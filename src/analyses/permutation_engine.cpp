#include "analyses/permutation_engine.hpp"

#include "analyses/permutation_recorder.hpp"
#include "analyses/process_team.hpp"
#include "platform/error.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace quillan {

PermutationEngine::PermutationEngine(ActionEnv& env) : PermutationEngine(env.options()) {
    console_ = &env.console();
    env.record().run.seeds.push_back(seed_);
}

PermutationEngine::PermutationEngine(const RunOptions& options)
    : options_(options), seed_(options.seed ? *options.seed : fresh_seed()) {
    int t = options.threads;
    if (t <= 0) t = static_cast<int>(std::thread::hardware_concurrency());
    threads_ = std::max(1, t);
    // Processes sharing the permutations must use one seed: the first
    // process's fresh one.
    if (!options.seed && options.team) {
        TeamWord word;
        if (options.team->rank() == 0) word.seed = seed_;
        const TeamAnswer answer = options.team->meet(word);
        if (answer.over()) throw Cancelled();
        seed_ = answer.seed;
    }
}

std::vector<long long> team_shares(long long nperm, int processes) {
    const long long n = std::max<long long>(0, nperm);
    const long long p = std::max(1, processes);
    std::vector<long long> starts(static_cast<std::size_t>(p) + 1);
    for (long long r = 0; r <= p; ++r) starts[static_cast<std::size_t>(r)] = n / p * r + std::min(r, n % p);
    return starts;
}

StreamIds PermutationEngine::take_streams(int count) {
    const StreamIds ids{next_stream_, count};
    next_stream_ += count;
    return ids;
}

Rng PermutationEngine::stream(long long index, int loop) const {
    // Loops of one action use disjoint stretches of the index space.
    const std::uint64_t base = static_cast<std::uint64_t>(loop) << 48;
    return Rng::stream(seed_, base + static_cast<std::uint64_t>(index));
}

PermutationResult PermutationEngine::run_erased(long long nperm, const std::vector<double>& observed,
                                                const std::vector<Exceeds>& how, const std::function<Worker()>& make_worker,
                                                int loop, bool keep_values) {
    const std::size_t nstats = observed.size();
    PermutationResult result;
    result.counts.assign(nstats, 0);
    result.counts_ge.assign(nstats, 0);
    if (nperm <= 0) return result;

    // This process's stretch of the permutation numbers: all of them, unless
    // it shares them with a team.
    ProcessTeam* const team = options_.team;
    const int nprocesses = team ? team->size() : 1;
    const std::vector<long long> starts = team_shares(nperm, nprocesses);
    const std::size_t rank = team ? static_cast<std::size_t>(team->rank()) : 0;
    const long long first = starts[rank], last = starts[rank + 1], mine = last - first;
    // With a team, the kept values and those a recorder sees are handed
    // round after the loop, so every process has them all.
    const bool share_values = team && nprocesses > 1 && (keep_values || options_.recorder);
    const bool store = keep_values || share_values;
    if (store) result.values.assign(static_cast<std::size_t>(nperm) * nstats, 0.0);

    const int nthreads = static_cast<int>(std::max<long long>(1, std::min<long long>(threads_, mine)));
    std::unique_ptr<PermutationRecorder::Loop> recording;
    if (options_.recorder) recording = options_.recorder->begin(loop, nperm, observed, nthreads);
    PermutationRecorder::Loop* const recorder = recording.get();
    // Small chunks keep the threads evenly loaded and the progress smooth.
    const long long chunk = std::max<long long>(1, std::min<long long>(64, mine / (static_cast<long long>(nthreads) * 16)));

    std::atomic<long long> next{first}, done{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable finished_cv;
    int finished = 0;
    std::exception_ptr failure;
    std::vector<std::vector<long long>> counts(static_cast<std::size_t>(nthreads), std::vector<long long>(nstats, 0));
    auto counts_ge = counts;
    std::vector<long long> singles(static_cast<std::size_t>(nthreads), 0);

    auto work = [&](int t) {
        try {
            Worker worker = make_worker();
            std::vector<double> stats(nstats);
            auto& my_counts = counts[static_cast<std::size_t>(t)];
            auto& my_counts_ge = counts_ge[static_cast<std::size_t>(t)];
            while (!stop.load(std::memory_order_relaxed)) {
                const long long begin = next.fetch_add(chunk);
                if (begin >= last) break;
                const long long end = std::min(last, begin + chunk);
                for (long long i = begin; i < end && !stop.load(std::memory_order_relaxed); ++i) {
                    Rng rng = stream(i, loop);
                    if (worker(i, rng, stats.data())) ++singles[static_cast<std::size_t>(t)];
                    for (std::size_t s = 0; s < nstats; ++s) {
                        const bool exceeds = how[s] == Exceeds::Greater ? stats[s] > observed[s] : stats[s] < observed[s];
                        if (exceeds) ++my_counts[s];
                        if (exceeds || stats[s] == observed[s]) ++my_counts_ge[s];
                    }
                    if (store)
                        std::copy(stats.begin(), stats.end(),
                                  result.values.begin() + static_cast<std::ptrdiff_t>(i * static_cast<long long>(nstats)));
                    if (recorder) recorder->record(t, i, stats.data());
                    done.fetch_add(1, std::memory_order_relaxed);
                }
            }
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex);
            if (!failure) failure = std::current_exception();
            stop = true;
        }
        std::lock_guard<std::mutex> lock(mutex);
        ++finished;
        finished_cv.notify_all();
    };

    // The system may refuse new threads (a process limit, no memory for a
    // stack).  Every worker takes the next chunk until none is left, so the
    // threads that did start do all the work; with none, the action's own
    // thread does it.
    std::vector<std::thread> pool;
    pool.reserve(static_cast<std::size_t>(nthreads));
    std::string start_failure;
    for (int t = 0; t < nthreads; ++t) {
        try {
            pool.emplace_back(work, t);
        } catch (const std::system_error& e) {
            start_failure = e.what();
            break;
        }
    }
    int running = static_cast<int>(pool.size());
    if (running < nthreads && console_) {
        console_->line(running == 0
                           ? "No worker thread could be started (" + start_failure +
                                 "); the permutations run on the action's own thread."
                           : "Only " + std::to_string(running) + " of " + std::to_string(nthreads) +
                                 " worker threads could be started (" + start_failure + "); the permutations run on those.");
    }
    if (running == 0) {
        work(0);
        running = 1;
    }

    // A team meets a fixed number of times per loop: after each process has
    // done its next fraction of its stretch, and at once when one fails or is
    // asked to stop.  The meetings add up the progress and carry a failure
    // or a stop to every process.  The action's thread waits at a meeting
    // while the workers go on.
    constexpr int kMeetings = 32;
    int met = 0;
    bool team_over = false;
    auto meetings = [&](bool workers_done, bool failed, bool cancelling, long long& total_done) {
        const long long my_done = done.load();
        while (met < kMeetings) {
            const long long due = mine * (met + 1) / kMeetings;
            if (!(workers_done || failed || cancelling || my_done >= due)) return;
            TeamWord word;
            word.status = failed ? 1 : 0;
            word.stop = cancelling;
            word.done = my_done;
            const TeamAnswer answer = team->meet(word);
            ++met;
            if (answer.over()) {
                team_over = true;
                stop = true;
                return;
            }
            total_done = answer.done;
        }
    };

    bool cancelled = false;
    const auto& progress = options_.progress;
    {
        long long total_done = 0;
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            if (finished >= running && (!team || team_over || met == kMeetings)) break;
            if (finished < running) finished_cv.wait_for(lock, std::chrono::milliseconds(50));
            const bool workers_done = finished >= running;
            const bool failed = failure != nullptr;
            lock.unlock();
            if (team && !team_over) meetings(workers_done, failed, cancelled, total_done);
            else if (!team) total_done = done.load();
            if (progress && !cancelled && !team_over && !workers_done) {
                if (!progress(total_done, nperm)) {
                    cancelled = true;
                    stop = true;
                }
            }
            lock.lock();
        }
    }
    for (auto& th : pool) th.join();
    if (failure) std::rethrow_exception(failure);
    if (cancelled || team_over) throw Cancelled();

    for (const auto& c : counts)
        for (std::size_t s = 0; s < nstats; ++s) result.counts[s] += c[s];
    for (const auto& c : counts_ge)
        for (std::size_t s = 0; s < nstats; ++s) result.counts_ge[s] += c[s];
    for (long long s : singles) result.single_groups += s;
    if (team && nprocesses > 1) {
        std::vector<long long> sums = result.counts;
        sums.insert(sums.end(), result.counts_ge.begin(), result.counts_ge.end());
        sums.push_back(result.single_groups);
        team->sum(sums);
        std::copy(sums.begin(), sums.begin() + static_cast<std::ptrdiff_t>(nstats), result.counts.begin());
        std::copy(sums.begin() + static_cast<std::ptrdiff_t>(nstats), sums.begin() + static_cast<std::ptrdiff_t>(2 * nstats),
                  result.counts_ge.begin());
        result.single_groups = sums.back();
    }
    if (share_values) {
        team->share_rows(result.values, starts, static_cast<int>(nstats));
        // The recorder has seen this process's permutations; now the others'.
        if (recorder)
            for (long long i = 0; i < nperm; ++i)
                if (i < first || i >= last) recorder->record(0, i, result.values.data() + i * static_cast<long long>(nstats));
        if (!keep_values) std::vector<double>().swap(result.values);
    }
    if (progress) progress(nperm, nperm);
    if (recorder) recorder->finish(result.counts);
    return result;
}

}  // namespace quillan
