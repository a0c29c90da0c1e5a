#include "platform/random.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using namespace quillan;

TEST(Randperm, GivesEveryIndexOnceAndEveryOrderAboutEquallyOften) {
    Rng rng(42);
    std::map<std::vector<int>, int> counts;
    const int draws = 60000;
    for (int i = 0; i < draws; ++i) {
        auto p = randperm(4, rng);
        auto sorted = p;
        std::sort(sorted.begin(), sorted.end());
        ASSERT_EQ(sorted, (std::vector<int>{0, 1, 2, 3}));
        ++counts[p];
    }
    ASSERT_EQ(counts.size(), 24u);
    // Expected 2500 each; 5 standard deviations is about 240.
    for (const auto& [perm, n] : counts) EXPECT_NEAR(n, draws / 24, 250);
}

TEST(Randperm, StreamsAreReproducibleFromSeedAndIndexAndDifferBetweenIndices) {
    Rng a = Rng::stream(7, 3), b = Rng::stream(7, 3), c = Rng::stream(7, 4), d = Rng::stream(8, 3);
    auto pa = randperm(50, a), pb = randperm(50, b), pc = randperm(50, c), pd = randperm(50, d);
    EXPECT_EQ(pa, pb);
    EXPECT_NE(pa, pc);
    EXPECT_NE(pa, pd);
    EXPECT_TRUE(randperm(0, a).empty());
}
