#include "platform/format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace quillan;

TEST(FormatExpandReuse, ExpandsStoredLineBreaksAndPrintsLikePrintf) {
    EXPECT_EQ(format_expand_reuse("a\\nb"), "a\nb");
    EXPECT_EQ(format_expand_reuse("Total SS=%1.4f Percent =%2.3f\\n", {2.5, 12.0}), "Total SS=2.5000 Percent =12.000\n");
    EXPECT_EQ(format_expand_reuse("%s|%i|%f", {"x", 3, 0.001}), "x|3|0.001000");
    EXPECT_EQ(format_expand_reuse("100%%"), "100%");
}

TEST(FormatExpandReuse, NonWholeValueGivenToIntegerConversionPrintsInExponentForm) {
    EXPECT_EQ(format_expand_reuse("%i LM", {5.5}), "5.500000e+00 LM");
    EXPECT_EQ(format_expand_reuse("%i", {-0.5}), "-5.000000e-01");
    EXPECT_EQ(format_expand_reuse("%d", {12.0}), "12");
    EXPECT_EQ(format_expand_reuse("%i", {1e20}), "100000000000000000000");
}

TEST(FormatExpandReuse, SpaceFlagPutsOneBlankBeforeAPositiveCount) {
    EXPECT_EQ(format_expand_reuse(", % i group variables", {2}), ",  2 group variables");
    EXPECT_EQ(format_expand_reuse("% i", {-2}), "-2");
}

TEST(FormatExpandReuse, NotANumberAndInfinitiesPrintAsWords) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(format_expand_reuse("F=%2.4f", {nan}), "F=NaN");
    EXPECT_EQ(format_expand_reuse("%f %i %1.4f", {inf, -inf, nan}), "Inf -Inf NaN");
    EXPECT_EQ(format_expand_reuse("[%6.2f]", {inf}), "[   Inf]");
}

TEST(FormatExpandReuse, ArgumentsOutlastingTheFormatReuseItAndShortDataStops) {
    EXPECT_EQ(format_expand_reuse("%i,", {1, 2, 3}), "1,2,3,");
    EXPECT_EQ(format_expand_reuse("a=%i b=%i", {1}), "a=1 b=");
    EXPECT_EQ(format_expand_reuse("x %i y"), "x  y");
}

TEST(ConcatTrimmed, DropsTrailingBlanksOfEachPieceOnly) {
    EXPECT_EQ(concat_trimmed({"p= 0.370000 ", "next  "}), "p= 0.370000next");
    EXPECT_EQ(concat_trimmed({"line\n", "\nmore\t"}), "line\n\nmore\t");
    EXPECT_EQ(concat_trimmed({"   ", ""}), "");
}

TEST(Str2num, ReadsNumbersSeparatedByBlanksTabsAndCommas) {
    EXPECT_EQ(str2num("1 2.5\t-3e2,4E-1"), (std::vector<double>{1, 2.5, -300, 0.4}));
    EXPECT_EQ(str2num("  999 \r\n"), (std::vector<double>{999}));
    EXPECT_EQ(str2num("+.5 5."), (std::vector<double>{0.5, 5}));
    auto special = str2num("Inf -inf NaN");
    ASSERT_EQ(special.size(), 3u);
    EXPECT_TRUE(std::isinf(special[0]) && special[0] > 0);
    EXPECT_TRUE(std::isinf(special[1]) && special[1] < 0);
    EXPECT_TRUE(std::isnan(special[2]));
}

TEST(Str2num, IsEmptyWhenTheTextHoldsNoNumberOrCannotBeRead) {
    EXPECT_TRUE(str2num("").empty());
    EXPECT_TRUE(str2num(" \r\n").empty());
    EXPECT_TRUE(str2num("abc").empty());
    EXPECT_TRUE(str2num("1 2 x").empty());
    EXPECT_TRUE(str2num("1,,2").empty());
    EXPECT_TRUE(str2num("1.2.3").empty());
    EXPECT_TRUE(str2num("1e").empty());
    EXPECT_TRUE(str2num("-").empty());
}
