// The seed as the Seed box and quillan-batch --seed take it: both read it
// through parse_seed_text, so a text one accepts the other accepts too.
#include "platform/seed_text.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace quillan;

TEST(SeedText, WholeNumbersWithBlanksAroundThem) {
    EXPECT_EQ(parse_seed_text("0"), 0u);
    EXPECT_EQ(parse_seed_text("42"), 42u);
    EXPECT_EQ(parse_seed_text("  42"), 42u);
    EXPECT_EQ(parse_seed_text("42\t "), 42u);
    EXPECT_EQ(parse_seed_text("\t 007 \t"), 7u);
    EXPECT_EQ(parse_seed_text("18446744073709551615"), 18446744073709551615u);
    EXPECT_EQ(parse_seed_text(" 18446744073709551615 "), 18446744073709551615u);
}

TEST(SeedText, AnythingElseIsNoSeed) {
    for (const std::string text : {"", " ", " \t ", "4 2", "-1", "+1", "1.5", "1e3", "0x10", "seed", "12a",
                                   "18446744073709551616", "99999999999999999999999", "\n42", "42\n"})
        EXPECT_FALSE(parse_seed_text(text).has_value()) << '"' << text << '"';
}

TEST(SeedText, OnlySpacesAndTabsAreBlank) {
    EXPECT_TRUE(seed_text_is_blank(""));
    EXPECT_TRUE(seed_text_is_blank(" \t  "));
    EXPECT_FALSE(seed_text_is_blank(" 0 "));
    EXPECT_FALSE(seed_text_is_blank("\n"));
}
