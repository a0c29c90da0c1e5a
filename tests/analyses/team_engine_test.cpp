// The permutation engine shared by a team of processes, each played here by
// a thread: the counts and kept values of a seeded run are those of one
// process alone, the members share the first one's seed, and a failure or a
// stop in one member ends every member's run instead of leaving it waiting.
#include "analyses/permutation_engine.hpp"
#include "analyses/process_team.hpp"
#include "platform/error.hpp"

#include <gtest/gtest.h>

#include <barrier>
#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

using namespace quillan;

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

struct Outcome {
    PermutationResult result;
    std::uint64_t seed = 0;
    std::string error;  // what the run threw, empty when it completed
    bool cancelled = false;
};

using Body = std::function<bool(int member, long long index, Rng& rng, double* stats)>;

// Runs `nperm` permutations of `body` on a team of `n` members.
std::vector<Outcome> run_team(int n, long long nperm, std::optional<std::uint64_t> seed, const Body& body,
                              int cancelling_member = -1) {
    Hub hub(n);
    std::vector<Outcome> out(static_cast<std::size_t>(n));
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
            Outcome& o = out[static_cast<std::size_t>(r)];
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
