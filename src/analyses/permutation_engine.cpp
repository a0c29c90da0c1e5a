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

PermutationEngine::PermutationEngine(const RunOptions& options, Console* console)
    : options_(options), console_(console), seed_(options.seed ? *options.seed : fresh_seed()) {
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
    if (options.seeds) options.seeds->push_back(seed_);
}

void PermutationEngine::step(long long done, long long total) const {
    if (options_.progress && !options_.progress(done, total)) throw Cancelled();
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

namespace {

using Worker = std::function<bool(long long, Rng&, double*)>;

// How this process runs one loop: its stretch of the permutation numbers
// (all of them, unless it shares them with a team) and how the stretch is
// spread over its threads.
struct LoopPlan {
    std::vector<long long> starts;  // each process's first permutation number, and nperm last
    long long first = 0, last = 0, mine = 0;
    // With a team, the kept values and those a recorder sees are handed
    // round after the loop, so every process has them all.
    bool share_values = false;
    bool store = false;  // every permutation's statistics are kept in the result
    int nthreads = 1;
    long long chunk = 1;
};

LoopPlan plan_loop(long long nperm, ProcessTeam* team, int threads, bool keep_values, bool recorded) {
    LoopPlan plan;
    const int nprocesses = team ? team->size() : 1;
    plan.starts = team_shares(nperm, nprocesses);
    const std::size_t rank = team ? static_cast<std::size_t>(team->rank()) : 0;
    plan.first = plan.starts[rank];
    plan.last = plan.starts[rank + 1];
    plan.mine = plan.last - plan.first;
    plan.share_values = team && nprocesses > 1 && (keep_values || recorded);
    plan.store = keep_values || plan.share_values;
    plan.nthreads = static_cast<int>(std::max<long long>(1, std::min<long long>(threads, plan.mine)));
    // Small chunks keep the threads evenly loaded and the progress smooth.
    plan.chunk = std::max<long long>(1, std::min<long long>(64, plan.mine / (static_cast<long long>(plan.nthreads) * 16)));
    return plan;
}

// One loop of permutations while it runs: the worker threads take chunks of
// this process's stretch and count, and the action's thread waits for them,
// meets the team and reports progress; then the counts are added up.
class PermutationLoop {
public:
    PermutationLoop(const PermutationEngine& engine, const LoopPlan& plan, long long nperm, const std::vector<double>& observed,
                    const std::vector<Exceeds>& how, int loop, PermutationResult& result, PermutationRecorder::Loop* recorder)
        : engine_(engine),
          plan_(plan),
          nperm_(nperm),
          nstats_(observed.size()),
          observed_(observed),
          how_(how),
          loop_(loop),
          result_(result),
          recorder_(recorder),
          next_(plan.first),
          counts_(static_cast<std::size_t>(plan.nthreads), std::vector<long long>(nstats_, 0)),
          counts_ge_(counts_),
          singles_(static_cast<std::size_t>(plan.nthreads), 0) {}

    void start(const std::function<Worker()>& make_worker, Console* console, std::chrono::microseconds alone_first);
    // Returns once every worker has finished, the team's meetings included.
    void wait(ProcessTeam* team, const std::function<bool(long long, long long)>& progress);
    void reduce(ProcessTeam* team, const std::function<bool(long long, long long)>& progress);

private:
    bool work_alone(const std::function<Worker()>& make_worker, std::chrono::microseconds span);
    void work(const std::function<Worker()>& make_worker, int t);
    void count(int t, long long i, const std::vector<double>& stats);
    void meet(ProcessTeam* team, bool workers_done, bool failed, long long& total_done);
    void add_up(ProcessTeam* team);

    const PermutationEngine& engine_;
    const LoopPlan& plan_;
    const long long nperm_;
    const std::size_t nstats_;
    const std::vector<double>& observed_;
    const std::vector<Exceeds>& how_;
    const int loop_;
    PermutationResult& result_;
    PermutationRecorder::Loop* const recorder_;

    std::atomic<long long> next_, done_{0};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable finished_cv_;
    int finished_ = 0;
    int running_ = 0;
    std::exception_ptr failure_;
    std::vector<std::vector<long long>> counts_, counts_ge_;  // per worker thread
    std::vector<long long> singles_;
    std::vector<std::thread> pool_;
    int met_ = 0;
    bool team_over_ = false;
    bool cancelled_ = false;
};

void PermutationLoop::count(int t, long long i, const std::vector<double>& stats) {
    auto& my_counts = counts_[static_cast<std::size_t>(t)];
    auto& my_counts_ge = counts_ge_[static_cast<std::size_t>(t)];
    for (std::size_t s = 0; s < nstats_; ++s) {
        const bool exceeds = how_[s] == Exceeds::Greater ? stats[s] > observed_[s] : stats[s] < observed_[s];
        if (exceeds) ++my_counts[s];
        if (exceeds || stats[s] == observed_[s]) ++my_counts_ge[s];
    }
    if (plan_.store)
        std::copy(stats.begin(), stats.end(),
                  result_.values.begin() + static_cast<std::ptrdiff_t>(i * static_cast<long long>(nstats_)));
    if (recorder_) recorder_->record(t, i, stats.data());
}

// One worker thread: chunk after chunk until none is left or the loop stops.
void PermutationLoop::work(const std::function<Worker()>& make_worker, int t) {
    try {
        Worker worker = make_worker();
        std::vector<double> stats(nstats_);
        while (!stop_.load(std::memory_order_relaxed)) {
            const long long begin = next_.fetch_add(plan_.chunk);
            if (begin >= plan_.last) break;
            const long long end = std::min(plan_.last, begin + plan_.chunk);
            for (long long i = begin; i < end && !stop_.load(std::memory_order_relaxed); ++i) {
                Rng rng = engine_.stream(i, loop_);
                if (worker(i, rng, stats.data())) ++singles_[static_cast<std::size_t>(t)];
                count(t, i, stats);
                done_.fetch_add(1, std::memory_order_relaxed);
            }
        }
    } catch (...) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!failure_) failure_ = std::current_exception();
        stop_ = true;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ++finished_;
    finished_cv_.notify_all();
}

// A loop begins on the action's own thread, as worker 0: a short one (a
// few permutations, small data) is over before threads would have started,
// and those cost more than it does.  Whatever is left after `span`
// (RunOptions::alone_first) goes to the worker threads, which take the next
// chunks; each permutation has its own stream, so who runs it changes
// nothing.  Returns whether nothing is left.
bool PermutationLoop::work_alone(const std::function<Worker()>& make_worker, std::chrono::microseconds span) {
    const auto until = std::chrono::steady_clock::now() + span;
    try {
        Worker worker = make_worker();
        std::vector<double> stats(nstats_);
        for (long long i = next_.load(); !stop_.load(std::memory_order_relaxed); i = next_.load()) {
            if (i >= plan_.last) return true;
            if (std::chrono::steady_clock::now() >= until) return false;
            next_.store(i + 1);
            Rng rng = engine_.stream(i, loop_);
            if (worker(i, rng, stats.data())) ++singles_[0];
            count(0, i, stats);
            done_.fetch_add(1, std::memory_order_relaxed);
        }
    } catch (...) {
        failure_ = std::current_exception();
        stop_ = true;
    }
    return true;
}

// The system may refuse new threads (a process limit, no memory for a
// stack).  Every worker takes the next chunk until none is left, so the
// threads that did start do all the work; with none, the action's own
// thread does it.
void PermutationLoop::start(const std::function<Worker()>& make_worker, Console* console, std::chrono::microseconds alone_first) {
    if (alone_first.count() > 0 && work_alone(make_worker, alone_first)) return;
    const int nthreads = plan_.nthreads;
    pool_.reserve(static_cast<std::size_t>(nthreads));
    std::string start_failure;
    for (int t = 0; t < nthreads; ++t) {
        try {
            pool_.emplace_back([this, &make_worker, t] { work(make_worker, t); });
        } catch (const std::system_error& e) {
            start_failure = e.what();
            break;
        }
    }
    running_ = static_cast<int>(pool_.size());
    if (running_ < nthreads && console) {
        console->line(running_ == 0
                          ? "No worker thread could be started (" + start_failure +
                                "); the permutations run on the action's own thread."
                          : "Only " + std::to_string(running_) + " of " + std::to_string(nthreads) +
                                " worker threads could be started (" + start_failure + "); the permutations run on those.");
    }
    if (running_ == 0) {
        work(make_worker, 0);
        running_ = 1;
    }
}

// A team meets a fixed number of times per loop: after each process has
// done its next fraction of its stretch, and at once when one fails or is
// asked to stop.  The meetings add up the progress and carry a failure or a
// stop to every process.  The action's thread waits at a meeting while the
// workers go on.
constexpr int kMeetings = 32;

void PermutationLoop::meet(ProcessTeam* team, bool workers_done, bool failed, long long& total_done) {
    const long long my_done = done_.load();
    while (met_ < kMeetings) {
        const long long due = plan_.mine * (met_ + 1) / kMeetings;
        if (!(workers_done || failed || cancelled_ || my_done >= due)) return;
        TeamWord word;
        word.status = failed ? 1 : 0;
        word.stop = cancelled_;
        word.done = my_done;
        const TeamAnswer answer = team->meet(word);
        ++met_;
        if (answer.over()) {
            team_over_ = true;
            stop_ = true;
            return;
        }
        total_done = answer.done;
    }
}

void PermutationLoop::wait(ProcessTeam* team, const std::function<bool(long long, long long)>& progress) {
    long long total_done = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (finished_ >= running_ && (!team || team_over_ || met_ == kMeetings)) break;
        if (finished_ < running_) finished_cv_.wait_for(lock, std::chrono::milliseconds(50));
        const bool workers_done = finished_ >= running_;
        const bool failed = failure_ != nullptr;
        lock.unlock();
        if (team && !team_over_) meet(team, workers_done, failed, total_done);
        else if (!team) total_done = done_.load();
        if (progress && !cancelled_ && !team_over_ && !workers_done) {
            if (!progress(total_done, nperm_)) {
                cancelled_ = true;
                stop_ = true;
            }
        }
        lock.lock();
    }
}

// The counts of every thread, and with a team of every process.
void PermutationLoop::add_up(ProcessTeam* team) {
    const std::size_t nstats = nstats_;
    PermutationResult& result = result_;
    for (const auto& c : counts_)
        for (std::size_t s = 0; s < nstats; ++s) result.counts[s] += c[s];
    for (const auto& c : counts_ge_)
        for (std::size_t s = 0; s < nstats; ++s) result.counts_ge[s] += c[s];
    for (long long s : singles_) result.single_groups += s;
    if (team && team->size() > 1) {
        std::vector<long long> sums = result.counts;
        sums.insert(sums.end(), result.counts_ge.begin(), result.counts_ge.end());
        sums.push_back(result.single_groups);
        team->sum(sums);
        std::copy(sums.begin(), sums.begin() + static_cast<std::ptrdiff_t>(nstats), result.counts.begin());
        std::copy(sums.begin() + static_cast<std::ptrdiff_t>(nstats), sums.begin() + static_cast<std::ptrdiff_t>(2 * nstats),
                  result.counts_ge.begin());
        result.single_groups = sums.back();
    }
}

// Joins the workers, passes a failure or a stop on, and adds up the counts.
void PermutationLoop::reduce(ProcessTeam* team, const std::function<bool(long long, long long)>& progress) {
    for (auto& th : pool_) th.join();
    if (failure_) std::rethrow_exception(failure_);
    if (cancelled_ || team_over_) throw Cancelled();
    add_up(team);
    if (plan_.share_values) {
        team->share_rows(result_.values, plan_.starts, static_cast<int>(nstats_));
        // The recorder has seen this process's permutations; now the others'.
        if (recorder_)
            for (long long i = 0; i < nperm_; ++i)
                if (i < plan_.first || i >= plan_.last)
                    recorder_->record(0, i, result_.values.data() + i * static_cast<long long>(nstats_));
    }
    if (progress) progress(nperm_, nperm_);
}

}  // namespace

PermutationResult PermutationEngine::run_erased(long long nperm, const std::vector<double>& observed,
                                                const std::vector<Exceeds>& how, const std::function<Worker()>& make_worker,
                                                int loop, bool keep_values) {
    const std::size_t nstats = observed.size();
    PermutationResult result;
    result.counts.assign(nstats, 0);
    result.counts_ge.assign(nstats, 0);
    if (nperm <= 0) return result;

    ProcessTeam* const team = options_.team;
    const LoopPlan plan = plan_loop(nperm, team, threads_, keep_values, options_.recorder != nullptr);
    if (plan.store) result.values.assign(static_cast<std::size_t>(nperm) * nstats, 0.0);
    std::unique_ptr<PermutationRecorder::Loop> recording;
    if (options_.recorder) recording = options_.recorder->begin(loop, nperm, observed, plan.nthreads);

    PermutationLoop run(*this, plan, nperm, observed, how, loop, result, recording.get());
    // A team's processes meet from the start, so theirs go to threads at once.
    run.start(make_worker, console_, team ? std::chrono::microseconds{0} : options_.alone_first);
    run.wait(team, options_.progress);
    run.reduce(team, options_.progress);
    if (plan.share_values && !keep_values) std::vector<double>().swap(result.values);
    if (recording) recording->finish(result.counts, result.counts_ge);
    return result;
}

}  // namespace quillan
