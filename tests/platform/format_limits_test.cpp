// Formatted print with arguments its conversions cannot take as they are:
// values out of a character's or a 64-bit integer's range, and widths or
// precisions that are not finite or too large.  Every format of the program
// is a constant, but the operation can be called by name with any.
#include "platform/format.hpp"

#include <gtest/gtest.h>

#include <limits>

using namespace quillan;

TEST(FormatLimits, OutOfRangeValuesPrintInExponentForm) {
    EXPECT_EQ(format_expand_reuse("%c", {65.0}), "A");
    EXPECT_EQ(format_expand_reuse("%c", {1e300}), "1.000000e+300");
    EXPECT_EQ(format_expand_reuse("%c", {-1.0}), "-1.000000e+00");
    EXPECT_EQ(format_expand_reuse("%x", {255.0}), "ff");
    EXPECT_EQ(format_expand_reuse("%o", {8.0}), "10");
    EXPECT_EQ(format_expand_reuse("%X", {1e30}), "1.000000e+30");
    EXPECT_EQ(format_expand_reuse("%x", {-1e19}), "-1.000000e+19");
    EXPECT_EQ(format_expand_reuse("%x", {9223372036854775807.0}), "9.223372e+18");  // rounds to 2^63, one past the range
}

TEST(FormatLimits, WidthsFromArgumentsOrDigitsStayBounded) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(format_expand_reuse("%*i|", {nan, 5.0}), "5|");
    EXPECT_EQ(format_expand_reuse("%*i|", {-inf, 5.0}), "5|");
    EXPECT_EQ(format_expand_reuse("%*i|", {3.0, 5.0}), "  5|");
    EXPECT_EQ(format_expand_reuse("%*i|", {inf, 5.0}).size(), 100001u);
    EXPECT_EQ(format_expand_reuse("%*i|", {1e300, 5.0}).size(), 100001u);
    EXPECT_EQ(format_expand_reuse("%99999999999i|", {1.0}).size(), 100001u);
    EXPECT_EQ(format_expand_reuse("%.99999999999f", {0.5}).size(), 100002u);  // "0." and 100000 digits
}
