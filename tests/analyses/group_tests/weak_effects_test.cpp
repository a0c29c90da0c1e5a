// Reports on data where some effects are weak, so that the permutation
// counts of a seeded run are neither all zero nor all maximal: a count that
// went to the wrong line of a report, or a statistic compared the wrong way,
// shows here where the strong-effect reports only ever print "p<".
//
// mosquito: ten individuals (strong) by body side (weak).  plethodon by
// site has a covariate whose slopes hardly differ between the sites.
#include "analyses/group_tests/designs.hpp"
#include "support/fixtures.hpp"
#include "support/text.hpp"

#include <gtest/gtest.h>

using namespace quillan;
using namespace quillan::test;

namespace {

// The mosquito wings with a grouping, seed 7, 199 permutations.
Example mosquito(const char* groups = "mosquito.groups.txt") {
    return {.landmarks = "mosquito.lm.txt", .groups = groups, .seed = 7, .perms = "199"};
}

}  // namespace

TEST(WeakEffects, ReportsMatchTheReviewedTexts) {
    struct Case {
        const char* action;
        const char* groups;
        const char* expected;
    };
    const Case cases[] = {
        {"RunTwoWay", "mosquito.groups.txt", "two_way_mosquito.txt"},
        {"RunTwoWayF", "mosquito.groups.txt", "two_way_f_mosquito.txt"},
        {"RunOneWay", "mosquito.side.groups.txt", "one_way_mosquito_side.txt"},
    };
    for (const auto& c : cases) {
        Loaded h(mosquito(c.groups));
        ASSERT_EQ(h.run(c.action), Outcome::Reported) << c.action << ": " << h.last_message();
        expect_report(c.expected, h.box(kResultsBox));
    }

    Loaded h({.groups = "plethodon.site.groups.txt", .covariate = "plethodon.cov.txt", .seed = 7, .perms = "199"});
    ASSERT_EQ(h.run("RunOneCov"), Outcome::Reported) << h.last_message();
    expect_report("one_way_cov_plethodon_site.txt", h.box(kResultsBox));
}

// The two-way design compares the cell model with the model in which the
// second variable is shuffled (the first kept) and with the one in which the
// first is shuffled.  With a strong first variable (individual) and a weak
// second one (side), keeping the individuals keeps most of the explained
// sum, so many shuffles of the side match the cell model; shuffling the
// individuals loses it, so none do.
TEST(WeakEffects, TwoWayCountsEachOneVariableShuffleAgainstTheCellModel) {
    Loaded h(mosquito());
    const Workspace& ws = h.shell.workspace();
    const PreparedTable table(ws.landmarks);
    const TwoWayResult r = two_way_test(h.shell.options(), h.console, table, table.total_ss(), column_codes(ws.groups, 0),
                                        column_codes(ws.groups, 1), 199, false);
    EXPECT_GT(r.exceeded_g2_shuffled, 20);
    EXPECT_LT(r.exceeded_g2_shuffled, 180);
    EXPECT_EQ(r.exceeded_g1_shuffled, 0);
    // Individuals alone explain far more than sides alone.
    EXPECT_GT(r.expvar1, 10 * r.expvar2);
    EXPECT_EQ(r.exceeded_g1, 0);
    EXPECT_GT(r.exceeded_g2, 100);

    // The report prints each count under its own variable.
    ASSERT_EQ(h.run("RunTwoWay"), Outcome::Reported);
    const std::string report = h.box(kResultsBox);
    const std::string second = report.substr(report.find("Using only the second"));
    EXPECT_THAT(second, HasSubstr("exceeded by 0 permutations of the 2nd Group Model"));
    EXPECT_EQ(number_after(report, "exceeded by ", 2), static_cast<double>(r.exceeded_g2_shuffled));
}
