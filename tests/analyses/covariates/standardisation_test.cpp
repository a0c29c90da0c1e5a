// Standardising the landmark table to the mean covariate under the five
// covariate models, and the four group tests that run on the result.
#include "analyses/common.hpp"
#include "analyses/covariates/covariate.hpp"
#include "platform/format.hpp"
#include "platform/statistics.hpp"
#include "support/fixtures.hpp"
#include "support/reference.hpp"
#include "support/shapes.hpp"
#include "support/text.hpp"

#include <gtest/gtest.h>

using namespace quillan;
using namespace quillan::test;

namespace {

// Six specimens of three landmarks in two groups of G1 and three of G2.  In
// group 1 of G1 the coordinate x1 is 2 + 3t, in group 2 it is 5 - t; every
// other coordinate is constant within each G1 group.
struct LineData {
    Matrix data, glist, clist;
    LineData() {
        const double t[] = {1, 2, 4, 0, 3, 5};
        data.resize(6, 7);
        glist.resize(6, 2);
        clist.resize(6, 1);
        for (int i = 0; i < 6; ++i) {
            const bool first = i < 3;
            const double x1 = first ? 2 + 3 * t[i] : 5 - t[i];
            data.row(i) << x1, 0, 10, 0, 5, first ? 8 : 9, 100 + i;
            glist.row(i) << (first ? 1 : 2), 1 + i % 3;
            clist(i, 0) = t[i];
        }
    }
};

CovariateModel model_of(Harness& h, double model_choice, bool two_way = false) {
    return apply_covariate_model(h.shell.workspace(), ControlWords{}, h.console, covariate_choice(model_choice).get(),
                                 standardisation_value(h.shell.workspace()), two_way);
}

}  // namespace

TEST(CovariateModels, ModelsOneAndTwoOnHandCheckableData) {
    Harness h;
    LineData d;
    put_tables(h.shell, d.data, d.glist, d.clist);
    const double svalue = 2.5;  // mean of 1 2 4 0 3 5
    EXPECT_EQ(standardisation_value(h.shell.workspace()), svalue);

    const CovariateModel none = model_of(h, 1);
    EXPECT_EQ(none.xdata, d.data);
    EXPECT_EQ(none.edf_red, 0);
    EXPECT_EQ(none.line, "\n\nNo Covariate Used");

    // One line per coordinate over all specimens: checked against a direct fit.
    const CovariateModel all = model_of(h, 2);
    EXPECT_EQ(all.edf_red, 1);
    EXPECT_EQ(all.line, "\n\nCovariate Used, no intercation");
    EXPECT_EQ(model_of(h, 2, true).line, "\n\nCovariate Used, no interaction");
    std::vector<double> t = column_codes(d.clist, 0), x1 = column_codes(d.data, 0);
    const Line fit = polyfit1(t.data(), x1.data(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(all.xdata(i, 0), d.data(i, 0) - fit.slope * (t[static_cast<std::size_t>(i)] - svalue), 1e-12);
        EXPECT_EQ(all.xdata(i, 6), d.data(i, 6));  // the trailing value is never moved
    }
    EXPECT_NEAR(all.xdata(0, 2), 10, 1e-12);  // a constant coordinate stays where it is
}

TEST(CovariateModels, GroupModelsMoveEveryGroupAlongItsOwnLinesToTheOverallMean) {
    Harness h;
    LineData d;
    put_tables(h.shell, d.data, d.glist, d.clist);
    const CovariateModel g1 = model_of(h, 3);
    EXPECT_EQ(g1.edf_red, 2);
    EXPECT_EQ(g1.line, "\n\nCovariate Used, Group 1 interaction (G1 x Covariate)");
    // x1 is an exact line within each group, so it becomes that line's value at 2.5.
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(g1.xdata(i, 0), 2 + 3 * 2.5, 1e-12);
    for (int i = 3; i < 6; ++i) EXPECT_NEAR(g1.xdata(i, 0), 5 - 2.5, 1e-12);
    // Coordinates that do not depend on the covariate within a group come back unchanged, in the specimens' order.
    for (int i = 0; i < 6; ++i)
        for (int j = 1; j < 7; ++j) EXPECT_NEAR(g1.xdata(i, j), d.data(i, j), 1e-12) << i << "," << j;

    // Model 4 fits within the groups of G2, model 5 within the cells.
    const CovariateModel g2 = model_of(h, 4);
    EXPECT_EQ(g2.edf_red, 3);
    EXPECT_EQ(g2.xdata.rows(), 6);
    EXPECT_EQ(g2.xdata.col(6), d.data.col(6));
    h.shell.workspace().groups.col(1).setConstant(4);  // one cell per G1 group
    const CovariateModel cells = model_of(h, 5);
    EXPECT_EQ(cells.edf_red, 2);
    EXPECT_EQ(model_of(h, 5, false).line, "\n\nCovariate Used, Groups 1 & 2 interaction (G1 x G2 x Covariate");
    EXPECT_EQ(model_of(h, 5, true).line, "\n\nCovariate Used, Groups 1 & 2 interaction (G1 x G2 x Covariate)");
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 7; ++j) EXPECT_NEAR(cells.xdata(i, j), g1.xdata(i, j), 1e-12);
}

TEST(CovariateModels, UndeterminedLinesAndMissingListsAreNamed) {
    Harness h;
    LineData d;
    put_tables(h.shell, d.data, d.glist, d.clist);
    auto message_of = [&](double model_choice) { return error_of([&] { model_of(h, model_choice); }); };
    // A covariate constant within group 2 of G1.
    h.shell.workspace().covariate(3, 0) = h.shell.workspace().covariate(4, 0) = h.shell.workspace().covariate(5, 0) = 7;
    EXPECT_THAT(message_of(3), HasSubstr("same value for every specimen of the group 2 of grouping variable 1")) << message_of(3);
    h.shell.workspace().covariate.setConstant(1);
    EXPECT_THAT(message_of(2), HasSubstr("same value for every specimen"));
    // A single-specimen cell.
    h.shell.workspace().covariate = d.clist;
    h.shell.workspace().groups.col(1) << 4, 4, 4, 4, 4, 9;
    EXPECT_THAT(message_of(5), HasSubstr("The cell of G1 = 2 and G2 = 9 has a single specimen")) << message_of(5);
    // A one-column list for the models of the second variable.
    h.shell.workspace().groups = d.glist.leftCols(1);
    EXPECT_THAT(message_of(4), HasSubstr("only one column"));
    // No covariate list, or a short one; model 1 needs none.
    h.shell.workspace().covariate = Matrix();
    EXPECT_THAT(message_of(2), HasSubstr("No covariate file is loaded"));
    EXPECT_EQ(message_of(1), "(no error)");
    h.shell.workspace().covariate = d.clist.topRows(4);
    EXPECT_THAT(message_of(3), HasSubstr("The covariate file has 4 specimens, but the landmark file has 6"));
    EXPECT_THAT(message_of(6), HasSubstr("covariate model must be one of the five"));
}

TEST(StandardisedTests, ModelOneGivesThePlainTestsPartitionAndCounts) {
    Loaded h({.groups = "plethodon.site.groups.txt", .seed = 31, .perms = "300"});
    ASSERT_EQ(h.run("RunOneWay"), Outcome::Reported);
    const std::string plain = h.box(kResultsBox);
    ASSERT_EQ(h.run("RunOneStand"), Outcome::Reported);  // no covariate file: model 1 needs none
    const std::string stand = h.box(kResultsBox);
    EXPECT_THAT(stand, HasSubstr("\n\nNo Covariate Used"));
    EXPECT_THAT(stand, HasSubstr("Explained by Covariate SS=0.0000, Percent Explained =0.000"));
    EXPECT_EQ(number_after(stand, "Total SS after Standardization = "), number_after(plain, "Total SS="));
    EXPECT_EQ(number_after(stand, "Explained SS="), number_after(plain, "Explained SS="));
    EXPECT_EQ(number_after(stand, "exceeded by "), number_after(plain, "exceeded by "));

    ASSERT_EQ(h.run("RunOneWayF"), Outcome::Reported);
    const std::string plain_f = h.box(kResultsBox);
    ASSERT_EQ(h.run("RunOneStandF"), Outcome::Reported);
    const std::string stand_f = h.box(kResultsBox);
    EXPECT_THAT(stand_f, HasSubstr("Note loss of 0 degrees of freedom"));
    const auto f = plain_f.find("\n\nF="), sf = stand_f.find("\n\nF=");
    ASSERT_NE(f, std::string::npos);
    EXPECT_EQ(plain_f.substr(f), stand_f.substr(sf));
}

TEST(StandardisedTests, DegreesOfFreedomLostToTheRegressionLines) {
    // 30 specimens of 10 landmarks; G1 of 3 groups for the one-way tests.
    Harness h;
    std::vector<int> g;
    Matrix glist(30, 2), clist(30, 1);
    for (int i = 0; i < 30; ++i) {
        glist.row(i) << 1 + i / 10, 1 + i % 3;
        clist(i, 0) = 1 + 0.1 * i + 0.3 * ((i * 7) % 5);
        g.push_back(i / 10);
    }
    const Matrix data = make_shapes(g, 10, 4);
    put_tables(h.shell, data, glist.leftCols(1), clist);
    h.set_box(kPermBox, Value("20"));
    auto set_model = [&](double m) { h.gui.set(h.gui.findobj_tag(kCovBox).front(), "Value", Value(m)); };

    set_model(2);
    ASSERT_EQ(h.run("RunOneStandF"), Outcome::Reported);
    std::string r = h.box(kResultsBox);
    EXPECT_THAT(r, HasSubstr("Note loss of 16 degrees of freedom"));
    EXPECT_THAT(r, HasSubstr("df1 (numerator)=32.0000, df2(denominator)=416.0000")) << r;
    set_model(3);
    ASSERT_EQ(h.run("RunOneStandF"), Outcome::Reported);
    r = h.box(kResultsBox);
    EXPECT_THAT(r, HasSubstr("Note loss of 48 degrees of freedom"));
    EXPECT_THAT(r, HasSubstr("df2(denominator)=384.0000"));

    // Two-way: G1 of 2 groups, G2 of 3 groups.
    for (int i = 0; i < 30; ++i) glist.row(i) << 1 + i / 15, 1 + i % 3;
    put_tables(h.shell, data, glist, clist);
    set_model(2);
    ASSERT_EQ(h.run("RunTwoStandF"), Outcome::Reported);
    r = h.box(kResultsBox);
    EXPECT_THAT(r, HasSubstr("Note the loss of 16 df"));
    EXPECT_THAT(r, HasSubstr("For Group1, F="));
    EXPECT_THAT(r, HasSubstr("df1(numerator) 16 df2(denominator) 432")) << r;
    EXPECT_THAT(r, HasSubstr("df1(numerator): 32 df2(denominator): 432"));
    EXPECT_THAT(r, HasSubstr("For Group 1x2 interaction"));
    set_model(5);
    ASSERT_EQ(h.run("RunTwoStandF"), Outcome::Reported);
    r = h.box(kResultsBox);
    EXPECT_THAT(r, HasSubstr("Note the loss of 96 df"));
    EXPECT_THAT(r, HasSubstr("df2(denominator) 352"));
    EXPECT_THAT(h.last_message(), Not(HasSubstr("too few")));
}

TEST(StandardisedTests, TooFewSpecimensForTheLinesStillReportButWarn) {
    Harness h;
    std::vector<int> g = {1, 1, 1, 1, 2, 2, 2, 2};
    Matrix glist(8, 2), clist(8, 1);
    for (int i = 0; i < 8; ++i) {
        glist.row(i) << g[static_cast<std::size_t>(i)], 1 + (i / 2) % 2;
        clist(i, 0) = i * 0.7 + (i % 2);
    }
    put_tables(h.shell, make_shapes(g, 4, 9), glist, clist);
    h.gui.set(h.gui.findobj_tag(kCovBox).front(), "Value", Value(3.0));
    h.set_box(kPermBox, Value("10"));
    auto warned = [&] {
        bool w = false;
        for (const auto& m : h.gui.messages()) w = w || m.text.find("F ratios are undefined") != std::string::npos;
        return w;
    };
    ASSERT_EQ(h.run("RunTwoStandF"), Outcome::Reported);  // dfe = 8 - 1 - 2 = 5
    EXPECT_FALSE(warned());
    h.shell.workspace().groups.col(1) << 1, 2, 3, 4, 5, 6, 7, 7;  // dfe = 8 - 6 - 2
    ASSERT_EQ(h.run("RunTwoStandF"), Outcome::Reported);
    EXPECT_TRUE(warned());
    EXPECT_NE(h.box(kResultsBox).find("df2(denominator) 0"), std::string::npos) << h.box(kResultsBox);
}

TEST(StandardisedTests, RefusalsComeAfterTheStandardisation) {
    Harness h;
    ASSERT_EQ(h.load("Load", data_file("plethodon.lm.txt")), Outcome::Done);
    ASSERT_EQ(h.load("LoadGlist", data_file("plethodon.groups.txt")), Outcome::Done);
    ASSERT_EQ(h.load("LoadClist", data_file("plethodon.cov.txt")), Outcome::Done);
    h.set_box(kResultsBox, Value("kept"));
    h.gui.set(h.gui.findobj_tag(kCovBox).front(), "Value", Value(4.0));
    for (const char* action : {"RunOneStand", "RunOneStandF"}) {
        h.gui.clear_messages();
        EXPECT_EQ(h.run(action), Outcome::Refused);
        EXPECT_EQ(h.last_message().substr(0, 40), "You have loaded a group list with multip");
    }
    ASSERT_EQ(h.load("LoadGlist", data_file("plethodon.species.groups.txt")), Outcome::Done);
    // With one column, model 4 cannot standardise: an error, not the two-way refusal.
    for (const char* action : {"RunTwoStand", "RunTwoStandF", "RunOneStand"}) {
        h.gui.clear_messages();
        EXPECT_EQ(h.run(action), Outcome::Failed) << action;
        EXPECT_THAT(h.last_message(), HasSubstr("only one column"));
    }
    h.gui.set(h.gui.findobj_tag(kCovBox).front(), "Value", Value(2.0));
    EXPECT_EQ(h.run("RunTwoStand"), Outcome::Refused);
    EXPECT_EQ(h.box(kResultsBox), "kept");
}

TEST(StandardisedTests, ReportsOnRealDataMatchTheReviewedTexts) {
    Loaded h({.groups = "plethodon.species.groups.txt", .covariate = "plethodon.cov.txt", .seed = 17, .perms = "199"});
    auto run_model = [&](const char* action, double model, const char* expected) {
        h.gui.set(h.gui.findobj_tag(kCovBox).front(), "Value", Value(model));
        ASSERT_EQ(h.run(action), Outcome::Reported) << h.last_message();
        expect_report(expected, h.box(kResultsBox));
    };
    run_model("RunOneStand", 2, "one_stand_plethodon_model2.txt");
    run_model("RunOneStandF", 3, "one_stand_f_plethodon_model3.txt");
    ASSERT_EQ(h.load("LoadGlist", data_file("plethodon.groups.txt")), Outcome::Done);
    ASSERT_EQ(h.load("LoadClist", data_file("plethodon.cov.txt")), Outcome::Done);
    run_model("RunTwoStand", 3, "two_stand_plethodon_model3.txt");
    run_model("RunTwoStandF", 5, "two_stand_f_plethodon_model5.txt");

    // The prior line's explained sum is the plain difference of the two totals.
    h.gui.set(h.gui.findobj_tag(kCovBox).front(), "Value", Value(2.0));
    ASSERT_EQ(h.run("RunTwoStand"), Outcome::Reported);
    const std::string r = h.box(kResultsBox);
    const double pre = number_after(r, ", SS="), removed = number_after(r, "Explained by Covariate SS="),
                 after = number_after(r, "Total SS after Standardization = ");
    EXPECT_NEAR(pre - after, removed, 1.5e-4);
    EXPECT_NEAR(pre, reference_total(h.shell.workspace().landmarks), 1e-4);
    EXPECT_EQ(number_after(r.substr(r.find("second grouping")), "Total SS after Standardization = "), after);
}
