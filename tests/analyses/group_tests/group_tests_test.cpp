// The group tests without covariate, run through the dispatcher as the window
// runs them: whole reports on real data with a fixed seed, the sums checked
// against an independent computation, the designs' degrees of freedom, and
// what happens on refusals and bad input.
#include "analyses/group_tests/designs.hpp"
#include "analyses/linear_models/model_request.hpp"
#include "analyses/probability_text.hpp"
#include "platform/format.hpp"
#include "support/fixtures.hpp"
#include "support/reference.hpp"
#include "support/shapes.hpp"
#include "support/text.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

using namespace quillan::test;
using namespace quillan;
using ::testing::HasSubstr;

namespace {

Codes codes_of(const Matrix& glist, int column) { return column_codes(glist, column); }

}  // namespace

// Whole reports of the group and covariate tests on real data with a fixed
// seed, against the reviewed texts.  The mosquito wings (ten individuals,
// strong, by body side, weak) and plethodon by site (a covariate whose
// slopes hardly differ) have weak effects: their counts are neither all zero
// nor all maximal, so a count that went to the wrong line of a report, or a
// statistic compared the wrong way, shows where strong effects print "p<".
TEST(Reports, MatchTheReviewedTexts) {
    const Example species{.groups = "plethodon.species.groups.txt"}, both{.groups = "plethodon.groups.txt"};
    const Example mosquito{.landmarks = "mosquito.lm.txt", .groups = "mosquito.groups.txt", .seed = 7, .perms = "199"};
    const Example site_cov{.groups = "plethodon.site.groups.txt", .covariate = "plethodon.cov.txt", .seed = 7, .perms = "199"};
    const Example species_cov{.groups = "plethodon.species.groups.txt", .covariate = "plethodon.cov.txt", .perms = "199"};
    const Example both_cov{.groups = "plethodon.groups.txt", .covariate = "plethodon.cov.txt", .perms = "199"};
    Example stand = species_cov, two_stand = both_cov, sides = mosquito;
    stand.seed = two_stand.seed = 17;
    sides.groups = "mosquito.side.groups.txt";
    const struct {
        const Example& data;
        const char* action;
        double model;  // of the covariate
        const char* expected;
    } cases[] = {
        {species, "RunOneWay", 1, "one_way_plethodon_species.txt"},
        {species, "RunOneWayF", 1, "one_way_f_plethodon_species.txt"},
        {both, "RunTwoWay", 1, "two_way_plethodon.txt"},
        {both, "RunTwoWayF", 1, "two_way_f_plethodon.txt"},
        {{.landmarks = "larvalHead.lm.txt", .groups = "larvalMorph.groups.txt", .seed = 5, .perms = "199"},
         "RunTwoWayNest",
         1,
         "nested_larval_head.txt"},
        {mosquito, "RunTwoWay", 1, "two_way_mosquito.txt"},
        {mosquito, "RunTwoWayF", 1, "two_way_f_mosquito.txt"},
        {sides, "RunOneWay", 1, "one_way_mosquito_side.txt"},
        {site_cov, "RunOneCov", 1, "one_way_cov_plethodon_site.txt"},
        {species_cov, "RunOneCov", 1, "one_way_cov_plethodon_species.txt"},
        {both_cov, "RunTwoCov", 1, "two_way_cov_plethodon.txt"},
        {stand, "RunOneStand", 2, "one_stand_plethodon_model2.txt"},
        {stand, "RunOneStandF", 3, "one_stand_f_plethodon_model3.txt"},
        {two_stand, "RunTwoStand", 3, "two_stand_plethodon_model3.txt"},
        {two_stand, "RunTwoStandF", 5, "two_stand_f_plethodon_model5.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        Loaded h(c.data);
        h.gui.set(h.gui.findobj_tag(kCovBox).front(), "Value", Value(c.model));
        ASSERT_EQ(h.run(c.action), Outcome::Reported) << h.last_message();
        expect_report(c.expected, report_of(h));
    }
}

TEST(OneWay, RefusalsAndBadInputLeaveTheResultsBoxAsItWas) {
    Loaded h({.groups = "plethodon.groups.txt"});
    h.set_box(kResultsBox, Value("earlier report"));
    for (const char* action : {"RunOneWay", "RunOneWayF"}) {
        h.gui.clear_messages();
        EXPECT_EQ(h.run(action), Outcome::Refused);
        ASSERT_EQ(h.gui.messages().size(), 1u);
        EXPECT_EQ(h.gui.messages()[0].text,
                  "You have loaded a group list with multiple columns but are carrying out a One-Way Test.  Please Reload the "
                  "List and Try "
                  "again");
        EXPECT_EQ(h.gui.messages()[0].title, "");
    }
    EXPECT_EQ(h.box(kResultsBox), "earlier report");
}

TEST(TwoWay, AConstantSecondVariableHasNothingToTestAndIsRefused) {
    Harness h;
    std::vector<int> g1 = {1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3};
    Matrix glist(12, 3);
    for (int i = 0; i < 12; ++i) glist.row(i) << g1[static_cast<std::size_t>(i)], 7, i % 2;  // a third column is ignored
    put_tables(h.shell, make_shapes(g1, 6, 11), glist);
    h.set_box(kPermBox, Value("60"));
    // Its "explained 0, exceeded by no permutation, p< 1/nperm" would read as a finding.
    h.set_box(kResultsBox, Value("kept"));
    for (const char* action : {"RunTwoWay", "RunTwoWayF"}) {
        ASSERT_EQ(h.run(action), Outcome::Refused) << action;
        EXPECT_NE(
            h.last_message().find("The second grouping variable (column 2 of the group file) puts all 12 specimens in a single "
                                  "group"),
            std::string::npos)
            << h.last_message();
    }
    EXPECT_EQ(report_of(h), "kept");
}

TEST(Nested, PermutationsKeepingEverySpecimenInItsSubgroupTieExactly) {
    // Three tight, well separated subgroups of two: no permutation can explain
    // more than the observed subgroups, and the one in fifteen that keeps the
    // subgroups together must tie with them exactly, not by rounding.
    Harness h;
    Matrix glist(6, 2);
    glist << 1, 1, 1, 1, 1, 2, 1, 2, 2, 1, 2, 1;
    put_tables(h.shell, make_shapes({0, 0, 1, 1, 2, 2}, 6, 13, 1e-4), glist);
    h.shell.options().seed = 3;
    h.set_box(kPermBox, Value("600"));
    ASSERT_EQ(h.run("RunTwoWayNest"), Outcome::Reported);
    EXPECT_THAT(report_of(h), HasSubstr("The observed F for Main+Nested  was exceeded by 0 permutations, p< 0.001667"))
        << report_of(h);
}

TEST(TwoWayDesigns, OneColumnListsAreRefusedBeforeAnythingIsComputed) {
    Harness h;
    h.set_box(kResultsBox, Value("kept"));
    // Nothing loaded at all: the refusal comes first.
    for (const char* action : {"RunTwoWay", "RunTwoWayF", "RunTwoWayNest"}) {
        h.gui.clear_messages();
        EXPECT_EQ(h.run(action), Outcome::Refused) << action;
        EXPECT_EQ(h.last_message(),
                  "Sorry Group list has only one column, you have requested a 2-Way Manova.  Please check the file and reload");
    }
    EXPECT_EQ(h.box(kResultsBox), "kept");
}

TEST(Diagnostic, WaitsOnceAndEchoesItsValuesInOrder) {
    Loaded h({.groups = "plethodon.groups.txt"});
    h.set_box(kResultsBox, Value("kept"));
    ASSERT_EQ(h.run("GoMan"), Outcome::Done);
    EXPECT_EQ(h.gui.pause_count(), 1);
    const std::string c = h.console_text.str();
    const auto cells = c.find("glistc ="), table = c.find("ccode ="), expvar = c.find("expvar ="), total_ss = c.find("tssd ="),
               wgsd = c.find("wgsd ="), p95 = c.find("pexpvar(95) =");
    ASSERT_NE(p95, std::string::npos);
    EXPECT_LT(cells, table);
    EXPECT_LT(table, expvar);
    EXPECT_LT(expvar, total_ss);
    EXPECT_LT(total_ss, wgsd);
    EXPECT_LT(wgsd, p95);
    EXPECT_EQ(h.box(kResultsBox), "kept");

    Loaded one({.groups = "plethodon.species.groups.txt"});
    EXPECT_EQ(one.run("GoMan"), Outcome::Failed);
    EXPECT_EQ(one.gui.pause_count(), 0);
}

// The two-way design compares the cell model with the model in which the
// second variable is shuffled (the first kept) and with the one in which the
// first is shuffled.  With a strong first variable (individual) and a weak
// second one (side), keeping the individuals keeps most of the explained
// sum, so many shuffles of the side match the cell model; shuffling the
// individuals loses it, so none do.
// Data that leave nothing to test must stop the action with a reason, not
// print a report that looks like a finding; covariates too large to fit
// are named by file and line; small probabilities never print as zero.

namespace {

Matrix two_columns(const std::vector<double>& a, const std::vector<double>& b) {
    Matrix m(static_cast<Eigen::Index>(a.size()), 2);
    m.col(0) = column_of(a);
    m.col(1) = column_of(b);
    return m;
}

// Runs an action that must be refused; returns the message shown.
std::string refusal(Harness& h, const char* action) {
    h.set_box(kResultsBox, Value("earlier"));
    h.set_box(kPermBox, Value("20"));
    h.gui.clear_messages();
    const Outcome o = h.run(action);
    EXPECT_EQ(o, Outcome::Refused) << action << ": " << h.box(kResultsBox);
    EXPECT_EQ(h.box(kResultsBox), "earlier") << action;
    return h.last_message();
}

}  // namespace

// (One-way groupings and a constant second variable are rows of the
// malformed-file table and of the two-way tests.)
TEST(DegenerateData, TwoWayAndNestedDesignsWithNothingToCompareAreRefused) {
    Harness h;
    const std::vector<double> g1 = {1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2};
    std::vector<double> own(12);
    for (int i = 0; i < 12; ++i) own[static_cast<std::size_t>(i)] = i + 1;
    const Matrix shapes = make_shapes({1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2}, 6, 5);
    // One subgroup in every main group leaves no nested factor.
    put_tables(h.shell, shapes, two_columns(g1, std::vector<double>(12, 3)));
    EXPECT_THAT(refusal(h, "RunTwoWayNest"), HasSubstr("a single subgroup"));
    // Cells of one specimen each leave nothing within them.
    put_tables(h.shell, shapes, two_columns(g1, own));
    EXPECT_THAT(refusal(h, "RunTwoWayF"), HasSubstr("in a group of its own"));
    EXPECT_THAT(refusal(h, "RunTwoWayNest"), HasSubstr("in a subgroup of its own"));
}

// (Specimens of one shape are refused by every analysis: the action table's test.)
TEST(DegenerateData, ARealButSmallVariationIsStillTested) {
    Harness h;
    Matrix small(9, 11);
    for (int i = 0; i < 9; ++i) small.row(i) << 0, 0, 1, 0, 1, 1, 0, 2, 0.5, 3, 7;
    for (int i = 0; i < 9; ++i) small(i, 2) += 1e-5 * i;
    put_tables(h.shell, small, column_of({1, 1, 1, 2, 2, 2, 3, 3, 3}));
    h.set_box(kPermBox, Value("20"));
    EXPECT_EQ(h.run("RunOneWay"), Outcome::Reported);
}

TEST(ExtremeCovariates, AreNamedByFileAndLine) {
    Harness h;
    const std::vector<int> g = {1, 1, 1, 1, 1, 2, 2, 2, 2, 2};
    std::vector<double> cov = {1, 2, 3, 4, 5, 1, 2, 3, 4, 5};
    for (double huge : {1e150, 1e160, 1e308}) {
        cov[6] = huge;
        put_tables(h.shell, make_shapes(g, 5, 3), column_of({1, 1, 1, 1, 1, 2, 2, 2, 2, 2}), column_of(cov));
        for (double model : {2.0, 3.0}) {
            h.gui.set(h.gui.findobj_tag(kCovBox).front(), "Value", Value(model));
            h.set_box(kPermBox, Value("20"));
            h.set_box(kResultsBox, Value("earlier"));
            EXPECT_EQ(h.run("RunOneStand"), Outcome::Failed) << huge << " model " << model;
            EXPECT_THAT(h.last_message(), HasSubstr("Line 7 of the covariate file cov.txt"));
            EXPECT_EQ(h.box(kResultsBox), "earlier");
        }
        EXPECT_EQ(h.run("RunOneCov"), Outcome::Failed);
        EXPECT_THAT(h.last_message(), HasSubstr("Line 7 of the covariate file cov.txt"));
    }
}

TEST(ReportedProbabilities, NeverPrintANonzeroValueAsZero) {
    // Formats as the reports use them: the bound of 3,000,000 permutations
    // and a count of 1 in 4,000,000.
    EXPECT_EQ(format_expand_reuse(visible_probability_format("p< %f", 1.0 / 3e6), {1.0 / 3e6}), "p< 0.0000003");
    EXPECT_EQ(format_expand_reuse(visible_probability_format("by %i permutations, p= %f ", 2.6e-7), {1.0, 2.6e-7}),
              "by 1 permutations, p= 0.0000003 ");
    EXPECT_EQ(format_expand_reuse(visible_probability_format("p<%1.5f, (Low p", 1e-6), {1e-6}), "p<0.000001, (Low p");
    // What already shows a digit, and a true zero, print as before.
    EXPECT_EQ(visible_probability_format("p= %f ", 0.001), "p= %f ");
    EXPECT_EQ(visible_probability_format("p= %1.4f", 0.00005), "p= %1.4f");
    EXPECT_EQ(visible_probability_format("p= %f", 0.0), "p= %f");
    EXPECT_EQ(visible_probability_format("100%% of %i", 1e-9), "100%% of %i");
}

TEST(SingleGroupNotice, NamesCodesExactly) {
    Harness h;
    const std::vector<int> shape_groups = {1, 1, 1, 1, 2, 2, 2, 2, 3};
    put_tables(h.shell, make_shapes(shape_groups, 5, 4),
               column_of({4503599627370496, 4503599627370496, 4503599627370496, 4503599627370496, 0.1, 0.1, 0.1, 0.1,
                          4503599627370497}));
    h.set_box(kPermBox, Value("10"));
    ASSERT_EQ(h.run("RunOneWay"), Outcome::Reported);
    // Said once, not again for each permutation, and without waiting for a key.
    int notices = 0;
    for (const auto& m : h.gui.messages()) notices += m.text.find("single specimen") != std::string::npos;
    EXPECT_EQ(notices, 1);
    EXPECT_THAT(h.gui.messages().back().text, HasSubstr("The group 4503599627370497 has a single specimen"));
    EXPECT_EQ(h.gui.pause_count(), 0);
    // The shape analyses say so where their numbers still mean something (no
    // difference from the lone group starred, though about each group's own
    // mean its variance is 0), and refuse where they cannot.
    put_tables(h.shell, make_shapes(shape_groups, 5, 4), column_of({1, 1, 1, 1, 2, 2, 2, 2, 3}));
    h.set_box(kPermBox, Value("99"));
    h.shell.given_options()["formula"] = "~ G1";
    h.shell.given_options()["no-cross-validate"] = "true";
    for (const char* action : {"RunDisparity", "RunCva"}) {
        h.gui.clear_messages();
        ASSERT_EQ(h.run(action), Outcome::Reported) << action << ": " << h.last_message();
        ASSERT_FALSE(h.gui.messages().empty()) << action;
        EXPECT_THAT(h.gui.messages().back().text, HasSubstr("Group 3 of G1 has a single specimen")) << action;
        std::istringstream report(report_of(h));
        for (std::string line; std::getline(report, line);)
            EXPECT_FALSE(line.find(" 3 ") != std::string::npos && line.back() == '*') << action << ": " << line;
    }
    h.shell.given_options()["within-groups"] = "true";
    EXPECT_THAT(refusal(h, "RunOutliers"), HasSubstr("Group 3 of G1 has a single specimen"));
}

// The group tests and the linear models on landmarks in space, on the 3-D
// sets of R's shapes package (data/macaques.*, data/brains.*): their sums are
// the sums of squared full Procrustes distances that shapes gives
// (tests/expected/shapes3d), and their reports say the data are 3-D.

namespace {

// shapes' sums of squares by set, grouping and group (0: the whole set).
std::map<std::string, double> r_sums() {
    const auto rows = expected_csv("shapes3d/group_ss.csv");  // set, grouping, group, n, value
    std::map<std::string, double> out;
    for (auto r = rows.begin() + 1; r != rows.end(); ++r) out[(*r)[0] + "/" + (*r)[1] + "/" + (*r)[2]] = std::stod((*r)[4]);
    return out;
}

const double* value_of(const RecordedModel& m, const std::string& key) { return m.value(key); }

double relative(double a, double b) { return std::fabs(a - b) / std::fabs(b); }

}  // namespace

TEST(SpaceAnalyses, EveryGroupTestRunsAndSaysTheDataAre3D) {
    struct Row {
        const char* action;
        const char* set;
        const char* groups;
        const char* covariate;
    };
    const Row rows[] = {
        {"RunOneWay", "macaques", "macaques.groups.txt", ""},
        {"RunOneWayF", "macaques", "macaques.groups.txt", ""},
        {"RunTwoWay", "brains", "brains.groups.txt", ""},
        {"RunTwoWayF", "brains", "brains.groups.txt", ""},
        {"RunTwoWayNest", "brains", "brains.groups.txt", ""},
        {"RunOneStand", "brains", "brains.sex.groups.txt", "brains.cov.txt"},
        {"RunOneStandF", "brains", "brains.sex.groups.txt", "brains.cov.txt"},
        {"RunTwoStand", "brains", "brains.groups.txt", "brains.cov.txt"},
        {"RunTwoStandF", "brains", "brains.groups.txt", "brains.cov.txt"},
        {"RunOneCov", "brains", "brains.sex.groups.txt", "brains.cov.txt"},
        {"RunTwoCov", "brains", "brains.groups.txt", "brains.cov.txt"},
        {"RunModel", "macaques", "macaques.groups.txt", ""},
    };
    const auto sums = r_sums();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.action);
        Loaded h({.landmarks = std::string(r.set) + ".lm.txt",
                  .groups = r.groups,
                  .covariate = r.covariate,
                  .perms = "99",
                  .dimensions = 3});
        ASSERT_EQ(h.run(r.action), Outcome::Reported) << h.last_message();
        EXPECT_THAT(report_of(h),
                    HasSubstr("specimens, " + std::string(r.set == std::string("macaques") ? "7" : "24") + " LM, 3-D"));
        // Where the report gives the total, it is shapes' sum for the set.
        for (const RecordedModel& m : h.shell.last_record().models)
            if (const double* total = value_of(m, "total_ss"))
                EXPECT_LT(relative(*total, sums.at(std::string(r.set) + "/all/0")), 1e-8) << m.name;
    }
}

TEST(SpaceAnalyses, OneWaySumsAndDegreesOfFreedomAreThoseOfSpace) {
    const auto sums = r_sums();
    Loaded h({.landmarks = "macaques.lm.txt", .groups = "macaques.groups.txt", .perms = "99", .dimensions = 3});
    ASSERT_EQ(h.run("RunOneWayF"), Outcome::Reported) << h.last_message();
    const RecordedModel& m = h.shell.last_record().models.front();
    EXPECT_LT(relative(*m.value("unexplained_ss"), sums.at("macaques/sex/1") + sums.at("macaques/sex/2")), 1e-8);
    // Seven landmarks in space have 3 * 7 - 7 = 14 shape dimensions.
    EXPECT_EQ(*m.value("df1"), 14);
    EXPECT_EQ(*m.value("df2"), 16 * 14);

    // A file whose lines do not hold 3k + 1 numbers is refused at the load.
    Harness bad;
    bad.shell.landmark_dimensions() = 3;
    EXPECT_EQ(bad.load("Load", data_file("pupfish.lm.txt")), Outcome::Failed);
    EXPECT_THAT(bad.last_message(), HasSubstr("pupfish.lm.txt: line 1 has 113 numbers"));
    EXPECT_EQ(bad.shell.workspace().landmarks.size(), 0);
}

// The shape analyses superimpose landmarks in space too: a 3-D table is
// neither refused for an even count of numbers nor read as landmarks in the
// plane (the brains' 73 numbers a line would make 36 landmarks).
TEST(SpaceAnalyses, TheShapeAnalysesSuperimposeInSpace) {
    const std::string halves = std::filesystem::temp_directory_path() / "quillan_space_halves.txt";
    {
        std::ofstream out(halves);
        for (int j = 0; j < 24; ++j) out << (j < 12 ? "front\n" : "back\n");
    }
    struct Row {
        const char* action;
        const char* set;
        const char* expected;
    };
    const Row rows[] = {
        {"RunOutliers", "macaques", "Distances from the mean"},
        {"RunDisparity", "macaques", "variance"},
        {"RunCva", "macaques", "the 14 principal components"},  // 3k - 7 of them, not 2k - 4
        {"RunCva", "macaques", "(x, y and z of each landmark)"},
        {"RunIntegration", "brains", "2 modules"},
        {"RunModularity", "brains", "2 modules"},
        {"RunPls", "brains", "r-PLS"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.action);
        const bool brains = r.set == std::string("brains");
        Loaded h({.landmarks = std::string(r.set) + ".lm.txt",
                  .groups = brains ? "brains.sex.groups.txt" : "macaques.groups.txt",
                  .perms = "9",
                  .dimensions = 3});
        h.shell.given_options()["partition"] = halves;
        h.shell.given_options()["block2"] = data_file("brains.cov.txt");
        ASSERT_EQ(h.run(r.action), Outcome::Reported) << h.last_message();
        EXPECT_THAT(report_of(h), HasSubstr(brains ? "24 LM, 3-D" : "7 LM, 3-D"));
        EXPECT_THAT(report_of(h), HasSubstr(r.expected));
    }
    std::filesystem::remove(halves);
}
