// The covariate model actions run through the dispatcher as the window runs
// them: whole reports on real data with a fixed seed, the sums checked
// against an independent computation, reproducibility across threads, the
// groups and inputs they refuse, and TestCovariate's console-only check.
#include "platform/format.hpp"
#include "support/batch_runner.hpp"
#include "support/fixtures.hpp"
#include "support/reference.hpp"
#include "support/shapes.hpp"
#include "support/text.hpp"

#include <gtest/gtest.h>

using namespace quillan;
using namespace quillan::test;

TEST(RunOneCov, ReportOnRealDataMatchesTheReviewedTextAndTheIndependentSums) {
    Loaded h({.groups = "plethodon.species.groups.txt", .covariate = "plethodon.cov.txt", .perms = "199"});
    ASSERT_EQ(h.run("RunOneCov"), Outcome::Reported);
    const std::string r = report_of(h);
    expect_report("one_way_cov_plethodon_species.txt", r);

    const Workspace& ws = h.shell.workspace();
    const double total_ss = reference_total(ws.landmarks);
    const double different = reference_different_slopes(ws.landmarks, column_codes(ws.groups, 0), elements(ws.covariate));
    EXPECT_NEAR(number_after(r, "Total SS="), total_ss, 1e-4);
    EXPECT_EQ(number_after(r, "Total SS=", 1), number_after(r, "Total SS="));
    EXPECT_NEAR(number_after(r, "Unexplained SS=", 1), different, 1e-4);
    EXPECT_GE(number_after(r, "Explained SS=", 1), number_after(r, "Explained SS="));
    EXPECT_THAT(h.console_text.str(), HasSubstr("Tests only the significance of the covariate, use 1-Way with Covariate Next"));
}

TEST(RunTwoCov, ReportOnRealDataMatchesTheReviewedTextAndTheIndependentSums) {
    Loaded h({.groups = "plethodon.groups.txt", .covariate = "plethodon.cov.txt", .perms = "199"});
    ASSERT_EQ(h.run("RunTwoCov"), Outcome::Reported);
    const std::string r = report_of(h);
    expect_report("two_way_cov_plethodon.txt", r);

    const Workspace& ws = h.shell.workspace();
    const Codes g1 = column_codes(ws.groups, 0), g2 = column_codes(ws.groups, 1);
    Codes cells(g1.size());
    for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = 10 * g1[i] + g2[i];
    const std::vector<double> cov = elements(ws.covariate);
    // Different slopes of the cells (section A), of G1 (C) and of G2 (D).
    EXPECT_NEAR(number_after(r, "Unexplained SS=", 1), reference_different_slopes(ws.landmarks, cells, cov), 1e-4);
    EXPECT_NEAR(number_after(r, "Unexplained SS=", 2), reference_different_slopes(ws.landmarks, g1, cov), 1e-4);
    EXPECT_NEAR(number_after(r, "Unexplained SS=", 3), reference_different_slopes(ws.landmarks, g2, cov), 1e-4);

    // The G1 section is the different-slopes block of the one-way test of G1.
    Loaded one({.groups = "plethodon.species.groups.txt", .covariate = "plethodon.cov.txt", .perms = "199"});
    ASSERT_EQ(one.run("RunOneCov"), Outcome::Reported);
    EXPECT_EQ(number_after(report_of(one), "Explained SS=", 1), number_after(r, "Explained SS=", 2));
}

TEST(RunTwoCov, ASecondVariableOfOneGroupIsRefusedAndSmallCellsStillReport) {
    Harness h;
    std::vector<int> g1;
    Matrix glist(24, 3);
    for (int i = 0; i < 24; ++i) {
        g1.push_back(1 + i % 3);
        glist.row(i) << g1.back(), 5, i % 4;  // a third column is ignored
    }
    put_tables(h.shell, make_shapes(g1, 7, 14), glist, column_of(random_covariate(24, 14)));
    h.set_box(kPermBox, Value("80"));
    // A constant G2 leaves the slope tests of the cells nothing to compare
    // with G1's: the design is refused, as the two-way tests refuse it.
    EXPECT_EQ(h.run("RunTwoCov"), Outcome::Refused);
    EXPECT_THAT(h.last_message(),
                HasSubstr("The second grouping variable (column 2 of the group file) puts all 24 specimens in a single group"));

    // Cells of three specimens without any real cell effect: shuffles often
    // form cells of one specimen and fit as well as the real cells; the count
    // then follows the misspelled "permuation".
    Matrix two(12, 2);
    for (int i = 0; i < 12; ++i) two.row(i) << 1 + i / 6, 1 + (i / 3) % 2;
    put_tables(h.shell, make_shapes(std::vector<int>(12, 1), 5, 6, 0.1), two, column_of(random_covariate(12, 6)));
    h.shell.options().seed = 8;
    ASSERT_EQ(h.run("RunTwoCov"), Outcome::Reported) << h.last_message();
    EXPECT_THAT(report_of(h), HasSubstr("than the G1 x Random G2 x z model at permuation p<0.")) << report_of(h);
    EXPECT_THAT(report_of(h), Not(HasSubstr("NaN")));
    EXPECT_THAT(h.console_text.str(), HasSubstr("cell of a single specimen"));
}

TEST(CovariateTests, GroupsWhoseOwnSlopeCannotBeFittedStopTheActionWithTheirName) {
    Harness h;
    h.set_box(kPermBox, Value("50"));
    h.set_box(kResultsBox, Value("kept"));
    // One-way: a group of one specimen.
    const std::vector<int> groups = {1, 1, 1, 1, 2, 2, 2, 2, 9};
    const std::vector<double> cov = random_covariate(9, 5);
    put_tables(h.shell, make_shapes(groups, 5, 5), column_of(std::vector<double>(groups.begin(), groups.end())), column_of(cov));
    EXPECT_EQ(h.run("RunOneCov"), Outcome::Refused);
    EXPECT_THAT(h.last_message(), HasSubstr("Group 9 has a single specimen")) << h.last_message();

    // Two-way: a cell of one specimen, though each variable alone is fine.
    Matrix glist(9, 2);
    glist.col(0) << 1, 1, 1, 1, 2, 2, 2, 2, 2;
    glist.col(1) << 1, 1, 2, 2, 1, 1, 1, 1, 2;
    put_tables(h.shell, make_shapes(groups, 5, 5), glist, column_of(cov));
    EXPECT_EQ(h.run("RunTwoCov"), Outcome::Refused);
    EXPECT_THAT(h.last_message(), HasSubstr("The cell of G1 = 2 and G2 = 2 has a single specimen")) << h.last_message();

    // A covariate with one value throughout a group.
    std::vector<double> flat = cov;
    for (int i = 0; i < 4; ++i) flat[static_cast<std::size_t>(i)] = 2.25;
    const std::vector<int> no_single = {1, 1, 1, 1, 2, 2, 2, 2, 2};
    put_tables(h.shell, make_shapes(no_single, 5, 5), column_of(std::vector<double>(no_single.begin(), no_single.end())),
               column_of(flat));
    EXPECT_EQ(h.run("RunOneCov"), Outcome::Refused);
    EXPECT_THAT(h.last_message(), HasSubstr("Group 1 has the same covariate value (2.25) for all its 4 specimens"))
        << h.last_message();
    EXPECT_EQ(h.box(kResultsBox), "kept");
}

TEST(CovariateTests, AOneColumnListAndAShortCovariateGiveClearMessages) {
    Harness h;
    h.set_box(kResultsBox, Value("kept"));
    h.set_box(kPermBox, Value("abc"));
    // A one-column list is refused before the count is read.
    put_tables(h.shell, make_shapes({1, 1, 1, 2, 2, 2}, 4, 1), column_of({1, 1, 1, 2, 2, 2}), column_of(random_covariate(6, 1)));
    EXPECT_EQ(h.run("RunTwoCov"), Outcome::Refused);
    EXPECT_EQ(
        h.last_message(),
        "Sorry Group list has only one column, you have requested a 2-Way Regression model.  Please check the file and reload");
    h.set_box(kPermBox, Value("20"));
    h.shell.workspace().covariate = column_of(random_covariate(5, 1));
    EXPECT_EQ(h.run("RunOneCov"), Outcome::Failed);
    EXPECT_THAT(h.last_message(), HasSubstr("The covariate file has 5 specimens, but the landmark file has 6"));
    EXPECT_EQ(h.box(kResultsBox), "kept");
}

TEST(TestCovariate, EchoesBothEvaluationsAndLeavesTheWorkspaceAndReportAlone) {
    Loaded h({.groups = "plethodon.species.groups.txt", .covariate = "plethodon.cov.txt", .perms = "60"});
    h.set_box(kResultsBox, Value("kept"));
    const Matrix clist = h.shell.workspace().covariate;
    ASSERT_EQ(h.run("TestCovariate"), Outcome::Done);
    EXPECT_EQ(h.box(kResultsBox), "kept");
    EXPECT_EQ(h.shell.workspace().covariate, clist);
    const std::string c = h.console_text.str();
    const auto loaded = c.find("loaded covariate"), surrogate = c.find("surrogate covariate");
    ASSERT_NE(loaded, std::string::npos);
    ASSERT_NE(surrogate, std::string::npos);
    EXPECT_LT(loaded, surrogate);
    EXPECT_THAT(c.substr(loaded), HasSubstr("cdraw_exc ="));
    EXPECT_THAT(c.substr(surrogate), HasSubstr("cdraw_exc ="));
    // The surrogate's sums differ from the loaded covariate's.
    EXPECT_NE(number_after(c.substr(loaded), "ssunexplain_ms = "), number_after(c.substr(surrogate), "ssunexplain_ms = "));

    // Without a positive last column there is no logarithm to use.
    h.shell.workspace().landmarks(3, 24) = 0;
    EXPECT_EQ(h.run("TestCovariate"), Outcome::Failed);
    EXPECT_THAT(h.last_message(), HasSubstr("The last value of specimen 4 in the landmark file is 0"));
    EXPECT_EQ(h.shell.workspace().covariate, clist);
}

TEST(CovariateTests, TheTwoWayReportComesOutOfTheBatchFrontEnd) {
    const BatchResult r =
        run_batch({"two-way-cov", "--landmarks", data_file("plethodon.lm.txt"), "--groups", data_file("plethodon.groups.txt"),
                   "--covariate", data_file("plethodon.cov.txt"), "--perm", "30", "--trace"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        r.out.rfind("\nEstablishing the form of the dependence on the covariate\nThe results of a 2-Way Covariate test using 30",
                    0),
        0u);
    EXPECT_THAT(r.err, HasSubstr("[ya yb yc] ="));
}
