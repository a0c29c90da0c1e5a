#include "analyses/permutation_engine.hpp"

#include "analyses/permutation_recorder.hpp"
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
    if (keep_values) result.values.assign(static_cast<std::size_t>(nperm) * nstats, 0.0);

    const int nthreads = static_cast<int>(std::min<long long>(threads_, nperm));
    std::unique_ptr<PermutationRecorder::Loop> recording;
    if (options_.recorder) recording = options_.recorder->begin(loop, nperm, observed, nthreads);
    PermutationRecorder::Loop* const recorder = recording.get();
    // Small chunks keep the threads evenly loaded and the progress smooth.
    const long long chunk = std::max<long long>(1, std::min<long long>(64, nperm / (static_cast<long long>(nthreads) * 16)));

    std::atomic<long long> next{0}, done{0};
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
                if (begin >= nperm) break;
                const long long end = std::min(nperm, begin + chunk);
                for (long long i = begin; i < end && !stop.load(std::memory_order_relaxed); ++i) {
                    Rng rng = stream(i, loop);
                    if (worker(i, rng, stats.data())) ++singles[static_cast<std::size_t>(t)];
                    for (std::size_t s = 0; s < nstats; ++s) {
                        const bool exceeds = how[s] == Exceeds::Greater ? stats[s] > observed[s] : stats[s] < observed[s];
                        if (exceeds) ++my_counts[s];
                        if (exceeds || stats[s] == observed[s]) ++my_counts_ge[s];
                    }
                    if (keep_values) std::copy(stats.begin(), stats.end(), result.values.begin() + static_cast<std::ptrdiff_t>(i * static_cast<long long>(nstats)));
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
        console_->line(running == 0 ? "No worker thread could be started (" + start_failure +
                                          "); the permutations run on the action's own thread."
                                    : "Only " + std::to_string(running) + " of " + std::to_string(nthreads) +
                                          " worker threads could be started (" + start_failure + "); the permutations run on those.");
    }
    if (running == 0) {
        work(0);
        running = 1;
    }

    bool cancelled = false;
    const auto& progress = options_.progress;
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (finished < running) {
            finished_cv.wait_for(lock, std::chrono::milliseconds(50));
            if (progress && !cancelled && finished < running) {
                lock.unlock();
                const bool go_on = progress(done.load(), nperm);
                lock.lock();
                if (!go_on) {
                    cancelled = true;
                    stop = true;
                }
            }
        }
    }
    for (auto& th : pool) th.join();
    if (failure) std::rethrow_exception(failure);
    if (cancelled) throw Cancelled();
    if (progress) progress(nperm, nperm);

    for (const auto& c : counts)
        for (std::size_t s = 0; s < nstats; ++s) result.counts[s] += c[s];
    for (const auto& c : counts_ge)
        for (std::size_t s = 0; s < nstats; ++s) result.counts_ge[s] += c[s];
    for (long long s : singles) result.single_groups += s;
    if (recorder) recorder->finish(result.counts);
    return result;
}

}  // namespace quillan
