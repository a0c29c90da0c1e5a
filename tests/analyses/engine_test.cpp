// The permutation engine: reproducible on any number of threads with a seed,
// fresh without one, strict exceedance, cancellation and errors from workers.
// The engine needs only run options and a console, no window.
#include "analyses/common.hpp"
#include "analyses/permutation_engine.hpp"
#include "analyses/process_team.hpp"
#include "platform/error.hpp"
#include "support/fixtures.hpp"
#include "support/text.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdlib>
#include <future>
#include <sstream>
#include <thread>

using namespace quillan;
using namespace quillan::test;

namespace {

struct WithinGroupsScratch {
    std::vector<int> perm;
};

// A statistic of a random permutation of 10 items: the position of item 0,
// and the number of fixed points.
PermutationResult run_fake(const RunOptions& options, long long nperm, bool keep = false) {
    PermutationEngine engine(options);
    return engine.run<WithinGroupsScratch>(
        nperm, {4.0, 1.0}, {Exceeds::Greater, Exceeds::Less}, [] { return std::make_unique<WithinGroupsScratch>(); },
        [](WithinGroupsScratch& s, long long, Rng& rng, double* stats) {
            randperm(s.perm, 10, rng);
            int fixed = 0;
            for (int i = 0; i < 10; ++i) {
                if (s.perm[static_cast<std::size_t>(i)] == 0) stats[0] = i;
                fixed += s.perm[static_cast<std::size_t>(i)] == i;
            }
            stats[1] = fixed;
            return fixed == 10;
        },
        0, keep);
}

}  // namespace

TEST(PermutationEngine, UnseededRunsDrawAfresh) {
    const RunOptions options;
    auto a = run_fake(options, 500, true), b = run_fake(options, 500, true);
    EXPECT_NE(a.values, b.values);
}

TEST(PermutationEngine, CancelAndWorkerErrorsEndTheRun) {
    RunOptions options;
    std::atomic<long long> seen{0};
    options.progress = [&](long long done, long long) {
        seen = done;
        return false;  // cancel at the first report
    };
    std::ostringstream trace;
    Console console(trace);
    PermutationEngine engine(options, &console);
    auto slow = [](WithinGroupsScratch&, long long, Rng&, double* stats) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        stats[0] = 0;
        return false;
    };
    EXPECT_THROW(engine.run<WithinGroupsScratch>(
                     100000, {0.0}, {Exceeds::Greater}, [] { return std::make_unique<WithinGroupsScratch>(); }, slow),
                 Cancelled);
    EXPECT_LT(seen.load(), 100000);

    options.progress = nullptr;
    auto failing = [](WithinGroupsScratch&, long long i, Rng&, double* stats) {
        if (i == 37) throw QuillanError("specimen trouble");
        stats[0] = 0;
        return false;
    };
    EXPECT_EQ(error_of([&] {
                  engine.run<WithinGroupsScratch>(
                      1000, {0.0}, {Exceeds::Greater}, [] { return std::make_unique<WithinGroupsScratch>(); }, failing);
              }),
              "specimen trouble");
}

TEST(PermutationCount, OnlyASingleWholeNumberOfAtLeastOneIsAccepted) {
    const ControlWords words;
    for (const std::string bad : {"", "abc", "0", "-5", "2.5", "10 20", "Inf", "NaN", "1e13"}) {
        try {
            permutation_count(bad, words).get();
            FAIL() << bad;
        } catch (const Refused& r) {
            EXPECT_THAT(std::string(r.what()), HasSubstr("must be a whole number of at least 1"));
            EXPECT_THAT(std::string(r.what()), HasSubstr("(the permutation box holds \"" + bad + "\")"));
        }
    }
    EXPECT_EQ(permutation_count(" 999 ", words).get(), 999u);
    EXPECT_EQ(permutation_count("1e3", words).get(), 1000u);
    EXPECT_EQ(permutation_count("1000000000000", words).get(), 1000000000000u);
}

// The permutation engine shared by a team of processes, each played here by
// a thread: the counts and kept values of a seeded run are those of one
// process alone, the members share the first one's seed, and a failure or a
// stop in one member ends every member's run instead of leaving it waiting.

namespace {

// The members' shared table: each writes its own slot, all wait, each reads
// every slot, all wait again.
struct Hub {
    explicit Hub(int n)
        : n(n),
          sync(n),
          words(static_cast<std::size_t>(n)),
          vectors(static_cast<std::size_t>(n)),
          rows(static_cast<std::size_t>(n)) {}
    int n;
    std::barrier<> sync;
    std::vector<TeamWord> words;
    std::vector<std::vector<long long>> vectors;
    std::vector<const std::vector<double>*> rows;
};

class ThreadMember : public ProcessTeam {
public:
    ThreadMember(Hub& hub, int rank) : hub_(hub), rank_(rank) {}
    int rank() const override { return rank_; }
    int size() const override { return hub_.n; }
    bool over() const override { return over_; }
    TeamAnswer meet(const TeamWord& word) override {
        if (over_) return last_;
        hub_.words[static_cast<std::size_t>(rank_)] = word;
        hub_.sync.arrive_and_wait();
        TeamAnswer a;
        for (int r = 0; r < hub_.n; ++r) {
            const TeamWord& w = hub_.words[static_cast<std::size_t>(r)];
            if (w.status != 0 && a.failed_rank < 0) {
                a.failed_rank = r;
                a.status = w.status;
            }
            a.stop = a.stop || w.stop;
            a.done += w.done;
        }
        a.seed = hub_.words[0].seed;
        for (const auto& w : hub_.words) a.same_data = a.same_data && w.data == hub_.words[0].data;
        hub_.sync.arrive_and_wait();
        if (a.over()) {
            over_ = true;
            last_ = a;
        }
        return a;
    }
    void sum(std::vector<long long>& values) override {
        hub_.vectors[static_cast<std::size_t>(rank_)] = values;
        hub_.sync.arrive_and_wait();
        for (int r = 0; r < hub_.n; ++r)
            if (r != rank_)
                for (std::size_t i = 0; i < values.size(); ++i) values[i] += hub_.vectors[static_cast<std::size_t>(r)][i];
        hub_.sync.arrive_and_wait();
    }
    void share_rows(std::vector<double>& values, const std::vector<long long>& starts, int width) override {
        hub_.rows[static_cast<std::size_t>(rank_)] = &values;
        hub_.sync.arrive_and_wait();
        for (int r = 0; r < hub_.n; ++r) {
            if (r == rank_) continue;
            const auto& theirs = *hub_.rows[static_cast<std::size_t>(r)];
            std::copy(theirs.begin() + starts[static_cast<std::size_t>(r)] * width,
                      theirs.begin() + starts[static_cast<std::size_t>(r) + 1] * width,
                      values.begin() + starts[static_cast<std::size_t>(r)] * width);
        }
        hub_.sync.arrive_and_wait();
    }

private:
    Hub& hub_;
    int rank_;
    bool over_ = false;
    TeamAnswer last_;
};

struct MemberOutcome {
    PermutationResult result;
    std::uint64_t seed = 0;
    std::string error;  // what the run threw, empty when it completed
    bool cancelled = false;
};

using Body = std::function<bool(int member, long long index, Rng& rng, double* stats)>;

// Runs `nperm` permutations of `body` on a team of `n` members.
std::vector<MemberOutcome> run_team(int n, long long nperm, std::optional<std::uint64_t> seed, const Body& body,
                                    int cancelling_member = -1) {
    Hub hub(n);
    std::vector<MemberOutcome> out(static_cast<std::size_t>(n));
    std::vector<std::thread> members;
    std::promise<void> all_done;
    auto finished = all_done.get_future();
    for (int r = 0; r < n; ++r) {
        members.emplace_back([&, r] {
            ThreadMember team(hub, r);
            RunOptions options;
            options.seed = seed;
            options.threads = 2;
            options.team = &team;
            if (r == cancelling_member) options.progress = [](long long, long long) { return false; };
            MemberOutcome& o = out[static_cast<std::size_t>(r)];
            try {
                PermutationEngine engine(options);
                o.seed = engine.seed();
                o.result = engine.run<int>(
                    nperm, {0.5, 0.5}, {Exceeds::Greater, Exceeds::Less}, [] { return std::make_unique<int>(); },
                    [&, r](int&, long long i, Rng& rng, double* stats) { return body(r, i, rng, stats); }, 0, true);
            } catch (const Cancelled&) {
                o.cancelled = true;
            } catch (const QuillanError& e) {
                o.error = e.what();
            }
        });
    }
    std::thread waiter([&] {
        for (auto& m : members) m.join();
        all_done.set_value();
    });
    // A member left waiting would hang the suite: end it with a message.
    if (finished.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        ADD_FAILURE() << "a team member was left waiting";
        std::abort();
    }
    waiter.join();
    return out;
}

bool uniform_body(int, long long, Rng& rng, double* stats) {
    stats[0] = static_cast<double>(rng.below(1000)) / 1000.0;
    stats[1] = static_cast<double>(rng.below(1000)) / 1000.0;
    return stats[0] < 0.01;
}

}  // namespace

TEST(TeamEngine, SeededCountsAndValuesAreThoseOfOneProcess) {
    const auto alone = run_team(1, 997, 99, uniform_body);
    for (int n : {2, 3}) {
        const auto team = run_team(n, 997, 99, uniform_body);
        for (const auto& member : team) {
            EXPECT_EQ(member.result.counts, alone[0].result.counts) << n;
            EXPECT_EQ(member.result.counts_ge, alone[0].result.counts_ge) << n;
            EXPECT_EQ(member.result.single_groups, alone[0].result.single_groups) << n;
            EXPECT_EQ(member.result.values, alone[0].result.values) << n;
        }
    }
    // Fewer permutations than members: the last member's stretch is empty.
    const auto few = run_team(3, 2, 5, uniform_body);
    EXPECT_EQ(few[2].result.values, run_team(1, 2, 5, uniform_body)[0].result.values);
}

TEST(TeamEngine, MembersShareTheFirstOnesSeed) {
    const auto team = run_team(3, 50, std::nullopt, uniform_body);
    EXPECT_EQ(team[1].seed, team[0].seed);
    EXPECT_EQ(team[2].seed, team[0].seed);
    EXPECT_EQ(team[2].result.counts, team[0].result.counts);
}

TEST(TeamEngine, AFailureOrAStopInOneMemberEndsEveryMembersRun) {
    // Member 1 fails in its third permutation; the others stop, not wait.
    const long long second_start = team_shares(30000, 3)[1];
    const auto failed = run_team(3, 30000, 7, [&](int, long long i, Rng& rng, double* stats) {
        if (i == second_start + 2) throw QuillanError("specimen 4 has no landmarks");
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        return uniform_body(0, i, rng, stats);
    });
    EXPECT_EQ(failed[1].error, "specimen 4 has no landmarks");
    EXPECT_TRUE(failed[0].cancelled);
    EXPECT_TRUE(failed[2].cancelled);

    // Member 2 is asked to stop at its first progress report.
    const auto stopped = run_team(
        3, 30000, 7,
        [](int, long long i, Rng& rng, double* stats) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            return uniform_body(0, i, rng, stats);
        },
        2);
    for (const auto& member : stopped) EXPECT_TRUE(member.cancelled);
}
