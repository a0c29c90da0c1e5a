#include "figures/distributions.hpp"
#include "analyses/permutation_engine.hpp"
#include "analyses/statistic_names.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace quillan {
namespace {

// A made-up statistic of permutation i: spread widely and not in order, so
// the binned range has to double several times after the first sample.
double stat_of(long long i, int s) {
    const double u = std::sin(static_cast<double>(i) * 12.9898 + s) * 43758.5453;
    const double frac = u - std::floor(u);
    return i < DistributionLog::kSample ? frac : (frac - 0.5) * static_cast<double>(1 + (i % 97)) * (s + 1);
}

PermutationResult run_recorded(long long nperm, int threads, DistributionLog& log, std::vector<double> observed) {
    RunOptions options;
    options.seed = 3;
    options.threads = threads;
    options.recorder = &log;
    PermutationEngine engine(options);
    struct None {};
    return engine.run<None>(
        nperm, observed, std::vector<Exceeds>(observed.size(), Exceeds::Greater), [] { return std::make_unique<None>(); },
        [](None&, long long i, Rng&, double* stats) {
            stats[0] = stat_of(i, 0);
            stats[1] = stat_of(i, 1);
            return false;
        });
}

TEST(Distributions, KeepEveryValueInPermutationOrderWithTheReportsCounts) {
    DistributionLog log;
    log.start("RunOneWay");
    const auto r = run_recorded(5000, 3, log, {0.5, 0.25});
    ASSERT_EQ(log.distributions().size(), 2u);
    for (int s = 0; s < 2; ++s) {
        const auto& d = log.distributions()[static_cast<std::size_t>(s)];
        EXPECT_TRUE(d.kept());
        EXPECT_EQ(d.statistic, s);
        ASSERT_EQ(d.values.size(), 5000u);
        for (long long i = 0; i < 5000; i += 499) EXPECT_EQ(d.values[static_cast<std::size_t>(i)], stat_of(i, s));
        EXPECT_EQ(d.exceeded, r.counts[static_cast<std::size_t>(s)]);
        EXPECT_DOUBLE_EQ(d.p_value(), static_cast<double>(r.counts[static_cast<std::size_t>(s)]) / 5000.0);
        const HistogramBins h = histogram_of(d);
        EXPECT_EQ(h.total(), 5000);
        EXPECT_EQ(h.lo, *std::min_element(d.values.begin(), d.values.end()));
        EXPECT_EQ(h.hi, *std::max_element(d.values.begin(), d.values.end()));
    }
    const StatisticNames names = {{"first"}, {}, {"third, a", "third, b"}};
    EXPECT_EQ(title_of_statistic(names, 0, 0), "first");
    EXPECT_EQ(title_of_statistic(names, 2, 1), "third, b");
    EXPECT_EQ(title_of_statistic(names, 1, 2), "Statistic 3 of permutation loop 2");
    EXPECT_EQ(title_of_statistic(names, 0, 1), "Statistic 2");
    log.start("next");
    EXPECT_TRUE(log.distributions().empty());
}

TEST(Distributions, RecordingChangesNoCount) {
    DistributionLog log;
    RunOptions plain;
    plain.seed = 9;
    plain.threads = 2;
    RunOptions recorded = plain;
    recorded.recorder = &log;
    struct None {};
    auto run = [](const RunOptions& o) {
        PermutationEngine engine(o);
        return engine.run<None>(
            2000, {0.1}, {Exceeds::Less}, [] { return std::make_unique<None>(); },
            [](None&, long long, Rng& rng, double* stats) {
                stats[0] = static_cast<double>(rng.below(1000)) / 1000.0;
                return false;
            });
    };
    EXPECT_EQ(run(plain).counts, run(recorded).counts);
    ASSERT_EQ(log.distributions().size(), 1u);
    EXPECT_EQ(log.distributions()[0].exceeded, run(plain).counts[0]);
}

TEST(Distributions, BeyondAMillionAreBinnedTheSameOnAnyNumberOfThreads) {
    const long long n = DistributionLog::kKeepEvery + 20000;
    DistributionLog one, three;
    run_recorded(n, 1, one, {0.5, 100.0});
    run_recorded(n, 3, three, {0.5, 100.0});
    ASSERT_EQ(one.distributions().size(), 2u);
    ASSERT_EQ(three.distributions().size(), 2u);
    for (int s = 0; s < 2; ++s) {
        const auto& a = one.distributions()[static_cast<std::size_t>(s)];
        const auto& b = three.distributions()[static_cast<std::size_t>(s)];
        EXPECT_FALSE(a.kept());
        EXPECT_TRUE(a.values.empty());  // no value kept beyond the limit
        EXPECT_EQ(a.binned.total(), n);
        EXPECT_EQ(a.binned.counts(), b.binned.counts());
        EXPECT_EQ(a.binned.lo(), b.binned.lo());
        // Every value lies in the final range, which was widened from the first sample's.
        double lo = INFINITY, hi = -INFINITY;
        for (long long i = 0; i < n; ++i) {
            lo = std::min(lo, stat_of(i, s));
            hi = std::max(hi, stat_of(i, s));
        }
        EXPECT_LE(a.binned.lo(), lo);
        EXPECT_GT(a.binned.hi(), hi);
        EXPECT_EQ(histogram_of(a).total(), n);
    }
}

TEST(Distributions, BinsNestWhenTheRangeDoubles) {
    // However values are split up and whenever the range doubles, each ends
    // in the bin its value falls in at the final width.
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> u(-50, 80);
    std::vector<double> v(3000);
    for (auto& x : v) x = u(rng);
    BinnedValues all(0, 1), part_a(0, 1), part_b(0, 1);
    for (double x : v) all.add(x);
    for (std::size_t i = 0; i < v.size(); ++i) (i < 100 ? part_a : part_b).add(v[i]);
    part_b.merge(part_a);
    EXPECT_EQ(part_b.counts(), all.counts());
    EXPECT_EQ(all.total(), 3000);
    // Centred doubling from [0, 1): the range is [0.5 - 2^(L-1), 0.5 + 2^(L-1)).
    EXPECT_EQ(all.lo(), 0.5 - 128.0);
    EXPECT_EQ(all.hi(), 0.5 + 128.0);
    std::vector<long long> expected(BinnedValues::kBins, 0);
    for (double x : v) ++expected[static_cast<std::size_t>(std::floor((x - all.lo()) / 4.0))];
    EXPECT_EQ(all.counts(), expected);
    all.add(NAN);
    EXPECT_EQ(all.not_finite(), 1);
    EXPECT_EQ(all.total(), 3000);
}

}  // namespace
}  // namespace quillan
