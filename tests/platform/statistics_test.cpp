#include "platform/statistics.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace quillan;

TEST(Mean, OfAnEmptyListIsNotANumber) {
    EXPECT_TRUE(std::isnan(mean({})));
    EXPECT_DOUBLE_EQ(mean({1, 2, 6}), 3.0);
}

TEST(Polyfit, FindsTheLeastSquaresLineAndFlagsAConstantX) {
    const double x[] = {0, 1, 2, 3};
    const double y[] = {1, 3, 5, 7};
    Line l = polyfit1(x, y, 4);
    EXPECT_NEAR(l.slope, 2.0, 1e-14);
    EXPECT_NEAR(l.intercept, 1.0, 1e-14);
    const double y2[] = {0, 1, 0, 1};
    l = polyfit1(x, y2, 4);
    EXPECT_NEAR(l.slope, 0.2, 1e-14);
    EXPECT_NEAR(l.intercept, 0.2, 1e-14);
    const double c[] = {2, 2, 2, 2};
    EXPECT_FALSE(std::isfinite(polyfit1(c, y, 4).slope));
}
