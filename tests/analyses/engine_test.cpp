// The permutation engine: reproducible on any number of threads with a seed,
// fresh without one, strict exceedance, cancellation and errors from workers.
// The engine needs only run options and a console, no window.
#include "analyses/common.hpp"
#include "analyses/permutation_engine.hpp"
#include "support/fixtures.hpp"
#include "support/text.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>

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

TEST(PermutationEngine, SeededRunsAgreeOnAnyNumberOfThreads) {
    RunOptions options;
    options.seed = 12345;
    options.threads = 1;
    auto one = run_fake(options, 2000, true);
    options.threads = 2;
    auto two = run_fake(options, 2000, true);
    options.threads = 7;
    auto seven = run_fake(options, 2000, true);
    EXPECT_EQ(one.counts, two.counts);
    EXPECT_EQ(one.counts, seven.counts);
    EXPECT_EQ(one.values, seven.values);
    // Position > 4 happens for 5 of 10 positions; no fixed point (< 1) about 1/e of the time.
    EXPECT_NEAR(one.counts[0], 1000, 120);
    EXPECT_NEAR(one.counts[1], 2000 / 2.718, 120);
}

TEST(PermutationEngine, UnseededRunsDrawAfresh) {
    const RunOptions options;
    auto a = run_fake(options, 500, true), b = run_fake(options, 500, true);
    EXPECT_NE(a.values, b.values);
}

// Each engine notes the seed it uses where the options say (an action's
// record), the given one or a fresh one, in the order the engines start.
TEST(PermutationEngine, NotesItsSeedForTheRecord) {
    std::vector<std::uint64_t> seeds;
    RunOptions options;
    options.seeds = &seeds;
    options.seed = 77;
    PermutationEngine seeded(options);
    options.seed.reset();
    PermutationEngine fresh(options);
    ASSERT_EQ(seeds.size(), 2u);
    EXPECT_EQ(seeds[0], 77u);
    EXPECT_EQ(seeds[1], fresh.seed());
    EXPECT_EQ(seeded.seed(), 77u);
}

TEST(PermutationEngine, EqualValuesNeverCount) {
    const RunOptions options;
    std::ostringstream trace;
    Console console(trace);
    PermutationEngine engine(options, &console);
    auto r = engine.run<WithinGroupsScratch>(
        300, {2.0, 2.0}, {Exceeds::Greater, Exceeds::Less}, [] { return std::make_unique<WithinGroupsScratch>(); },
        [](WithinGroupsScratch&, long long, Rng&, double* stats) {
            stats[0] = stats[1] = 2.0;
            return false;
        });
    EXPECT_EQ(r.counts, (std::vector<long long>{0, 0}));
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
