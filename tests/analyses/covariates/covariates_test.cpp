// The covariate model actions run through the dispatcher as the window runs
// them: whole reports on real data with a fixed seed, the sums checked
// against an independent computation, reproducibility across threads, the
// groups and inputs they refuse, and TestCovariate's console-only check.
#include "analyses/common.hpp"
#include "analyses/covariates/covariate.hpp"
#include "analyses/covariates/slope_models.hpp"
#include "analyses/permutation_engine.hpp"
#include "geometry/shape_table.hpp"
#include "platform/format.hpp"
#include "platform/statistics.hpp"
#include "support/fixtures.hpp"
#include "support/reference.hpp"
#include "support/shapes.hpp"
#include "support/text.hpp"
#include "window/operations.hpp"

#include <gtest/gtest.h>

using namespace quillan;
using namespace quillan::test;

// The one-way covariate test says on the console what it does not test.
TEST(RunOneCov, SaysOnTheConsoleItTestsOnlyTheCovariate) {
    Loaded h({.groups = "plethodon.species.groups.txt", .covariate = "plethodon.cov.txt", .perms = "19"});
    ASSERT_EQ(h.run("RunOneCov"), Outcome::Reported);
    EXPECT_THAT(h.console_text.str(), HasSubstr("Tests only the significance of the covariate, use 1-Way with Covariate Next"));
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

// The slope models as operations: their sums against a plain regression on
// each group's Procrustes residuals, the algebra that ties the two models
// together, degrees of freedom and F ratios, strict counting, the sums of
// degenerate shuffled cells, and the calls by name.

namespace {

struct Plethodon {
    Matrix data = dload(data_file("plethodon.lm.txt"));
    Matrix glist = dload(data_file("plethodon.groups.txt"));
    std::vector<double> cov = elements(dload(data_file("plethodon.cov.txt")));
    Codes g1 = column_codes(glist, 0), g2 = column_codes(glist, 1);
};

// A seeded engine on two threads and a console to echo into.
struct Seeded {
    RunOptions options;
    std::ostringstream out;
    Console console{out};
    std::unique_ptr<PermutationEngine> engine;
    explicit Seeded(std::uint64_t seed = 3) {
        options.seed = seed;
        options.threads = 2;
        engine = std::make_unique<PermutationEngine>(options);
    }
    SlopeModels slopes(const Matrix& data, const std::vector<int>& groups, const std::vector<double>& cov, long long nperm) {
        const Codes codes(groups.begin(), groups.end());
        return test_slope_models(*engine, console, ShapeTable(data), cov_groups(codes, cov, group_name), whole_table_ss(data),
                                 nperm);
    }
};

}  // namespace

TEST(SlopeModels, SumsAgreeWithAPlainRegressionOnEachGroupsResiduals) {
    const Plethodon p;
    const ShapeTable table(p.data);
    Codes cells(p.g1.size());
    for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = 10 * p.g1[i] + p.g2[i];
    for (const Codes* codes : {&p.g1, &p.g2, static_cast<const Codes*>(&cells)}) {
        Seeded run;
        const CovGroups groups = cov_groups(*codes, p.cov, group_name);
        const SlopeModels y = test_slope_models(*run.engine, run.console, table, groups, whole_table_ss(p.data), 20);
        EXPECT_NEAR(y.ssunexplain_ms, reference_different_slopes(p.data, *codes, p.cov), 1e-12);
        EXPECT_NEAR(y.ssunexplain_ss, reference_common_slope(p.data, *codes, p.cov), 1e-12);
        // Every route to the different-slopes sum gives the same number.
        EXPECT_EQ(different_slopes_ss(table, groups), y.ssunexplain_ms);
        EXPECT_EQ(coding_different_slopes_ss(table, *codes, p.cov), y.ssunexplain_ms);
    }
    Seeded run;
    const TwoGroupCov t = two_variable_slopes_test(*run.engine, run.console, p.data, p.g1, p.g2, p.cov, 20);
    EXPECT_EQ(t.unexplained_g1, coding_different_slopes_ss(table, p.g1, p.cov));
    EXPECT_EQ(t.unexplained_g2, coding_different_slopes_ss(table, p.g2, p.cov));
    EXPECT_EQ(t.unexplained_cells, coding_different_slopes_ss(table, cells, p.cov));
}

TEST(SlopeModels, TurningMovingOrScalingASpecimenChangesNothing) {
    // Each group's residuals take the orientation of the group's first
    // specimen; lines through several groups must not depend on it.
    const Plethodon p;
    Matrix moved = p.data;
    for (const Eigen::Index row : {Eigen::Index(0), Eigen::Index(20), Eigen::Index(33)}) {
        const double c = std::cos(2.1 + row), s = std::sin(2.1 + row);
        for (Eigen::Index j = 0; j < 12; ++j) {
            const double x = p.data(row, 2 * j), y = p.data(row, 2 * j + 1);
            moved(row, 2 * j) = 3 * (c * x - s * y) + 40;
            moved(row, 2 * j + 1) = 3 * (s * x + c * y) - 7;
        }
    }
    for (const Codes* codes : {&p.g1, &p.g2}) {
        const CovGroups groups = cov_groups(*codes, p.cov, group_name);
        Seeded a, b;
        const SlopeModels y = test_slope_models(*a.engine, a.console, ShapeTable(p.data), groups, 1.0, 200);
        const SlopeModels z = test_slope_models(*b.engine, b.console, ShapeTable(moved), groups, 1.0, 200);
        EXPECT_NEAR(z.ssunexplain_ss, y.ssunexplain_ss, 1e-12);
        EXPECT_NEAR(z.ssunexplain_ms, y.ssunexplain_ms, 1e-12);
        EXPECT_EQ(z.exc_ss, y.exc_ss);
        EXPECT_EQ(z.exc_ms, y.exc_ms);
        EXPECT_EQ(z.cdraw_exc, y.cdraw_exc);
    }
}

TEST(SlopeModels, DifferentSlopesExplainAtLeastTheCommonSlopeAndTheSameWithOneGroup) {
    const std::vector<std::vector<int>> designs = {
        {1, 1, 1, 1, 2, 2, 2, 2, 2, 3, 3, 3},
        {5, 4, 5, 4, 5, 4, 5, 4, 5, 4},
        {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 4, 4, 4, 4},
    };
    unsigned seed = 1;
    for (const auto& design : designs)
        for (int k : {3, 8}) {
            ++seed;
            const SlopeModels y =
                Seeded(seed).slopes(make_shapes(design, k, seed, 0.08), design, random_covariate(design.size(), seed), 10);
            EXPECT_GE(y.explained_ms(), y.explained_ss() - 1e-12) << "design " << seed;
            EXPECT_LE(y.explained_ms(), y.sstotal);
        }
    const std::vector<int> one(15, 2);
    const SlopeModels y = Seeded().slopes(make_shapes(one, 6, 9), one, random_covariate(15, 9), 30);
    EXPECT_EQ(y.result13()(0, 1), y.result13()(0, 2));
}

TEST(SlopeModels, DegreesOfFreedomAndFRatiosUseTheirOwnDenominators) {
    // 10 landmarks (21 columns), 3 groups, 30 specimens.
    std::vector<int> design;
    for (int i = 0; i < 30; ++i) design.push_back(1 + i % 3);
    const SlopeModels y = Seeded().slopes(make_shapes(design, 10, 4), design, random_covariate(30, 4), 15);
    const Matrix r = y.result13();
    ASSERT_EQ(r.cols(), 13);
    EXPECT_EQ(r(0, 4), 64);   // df1up
    EXPECT_EQ(r(0, 5), 400);  // df1low
    EXPECT_EQ(r(0, 7), 96);   // df2up
    EXPECT_EQ(r(0, 8), 368);  // df2low
    const double ss = y.ssunexplain_ss, ms = y.ssunexplain_ms, total = y.sstotal;
    EXPECT_DOUBLE_EQ(r(0, 3), ((total - ss) / 4) / (ss / 26));  // 26 = ntot - ngroups - 1, not the 25 of df1low
    EXPECT_DOUBLE_EQ(r(0, 6), ((total - ms) / 6) / (ms / 23));
    EXPECT_EQ(r(0, 12), 15);
    const Matrix short_row = y.result8();
    const int from13[] = {1, 2, 3, 6, 9, 10, 11, 12};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(short_row(0, i), r(0, from13[i])) << i;
}

TEST(SlopeModels, LinesThroughTheDataLeaveNothingAndEqualSumsNeverCount) {
    // Every coordinate an exact straight line in z: nothing is left (the last
    // column is not a coordinate and is not fitted).
    const std::vector<double> z = {0.5, 1.5, 2.0, 3.25, 4.0};
    Matrix x(5, 5);
    for (Eigen::Index i = 0; i < 5; ++i) {
        const double v = z[static_cast<std::size_t>(i)];
        x.row(i) << 1 + 2 * v, -3 + 0.5 * v, 7.0, 0.25 * v, 100.0 * static_cast<double>(i * i);
    }
    EXPECT_NEAR(regression_unexplained_ss(x, z), 0.0, 1e-24);

    // Groups of two specimens: every line passes through both, in the
    // observed grouping, in every shuffle and in every random grouping, so no
    // permutation is strictly smaller.
    const std::vector<int> pairs = {1, 1, 2, 2, 3, 3, 4, 4};
    const SlopeModels y = Seeded().slopes(make_shapes(pairs, 5, 12), pairs, random_covariate(8, 12), 200);
    EXPECT_EQ(y.ssunexplain_ms, 0.0);
    EXPECT_GT(y.ssunexplain_ss, 0.0);
    EXPECT_EQ(y.exc_ms, 0);
    EXPECT_EQ(y.cdraw_exc, 0);
    EXPECT_GT(y.exc_ss, 0);
}

TEST(SlopeModels, ShuffledCodingsWithDegenerateCellsStillGetASum) {
    const Plethodon p;
    // Specimen 0 alone, and group 2 with one covariate value for all.
    Codes codes = p.g1;
    codes[0] = 7;
    std::vector<double> cov = p.cov;
    for (std::size_t i = 0; i < cov.size(); ++i)
        if (codes[i] == 2) cov[i] = 2.5;
    bool degenerate = false;
    const double sum = coding_different_slopes_ss(ShapeTable(p.data), codes, cov, &degenerate);
    EXPECT_TRUE(degenerate);
    EXPECT_NEAR(sum, reference_different_slopes(p.data, codes, cov), 1e-12);
}

TEST(TwoGroupCov, AConstantSecondVariableLeavesTheCellsOfTheFirst) {
    std::vector<int> g1;
    for (int i = 0; i < 18; ++i) g1.push_back(1 + i % 3);
    Seeded run;
    const TwoGroupCov y = two_variable_slopes_test(*run.engine, run.console, make_shapes(g1, 6, 17), Codes(g1.begin(), g1.end()),
                                                   Codes(18, 4.0), random_covariate(18, 17), 150);
    EXPECT_EQ(y.unexplained_cells, y.unexplained_g1);
    EXPECT_EQ(y.exceeded_g1, 0);  // every shuffle of a constant reproduces the cells exactly
    EXPECT_EQ(y.result()(0, 3), 0);
}

TEST(NamedOperations, SlopeModelsAreCallableByNameWithTheirCounts) {
    Harness h;
    const OpTable ops = build_op_table(h.shell);
    const Plethodon p;
    const Value data(p.data), species(column_of(p.g1)), cov(column_of(p.cov)), total_ss(quillan::whole_table_ss(p.data));

    const auto split = ops.call("split_groups", {data, species, cov}, 5);
    const double unexplained_g1 = ops.call("group_cov_ss", {split[0], split[3], Value(2.0)}, 1)[0].scalar();
    EXPECT_EQ(unexplained_g1, coding_different_slopes_ss(ShapeTable(p.data), p.g1, p.cov));
    const Matrix y13 = ops.call("common_slope_test2", {split[0], split[3], Value(2.0), total_ss, Value(25.0)}, 1)[0].matrix();
    ASSERT_EQ(y13.cols(), 13);
    EXPECT_EQ(y13(0, 2), total_ss.scalar() - unexplained_g1);
    EXPECT_EQ(y13(0, 12), 25);
    EXPECT_EQ(ops.call("common_slope_test", {split[0], split[3], Value(2.0), total_ss, Value(25.0)}, 1)[0].matrix().cols(), 8);
    const Matrix y5 = ops.call("twogroupcov", {data, species, Value(column_of(p.g2)), cov, Value(10.0)}, 1)[0].matrix();
    EXPECT_EQ(y5(0, 0), unexplained_g1);

    // regression_unexplained_ss of procrustes_residuals of the first group, against its centred covariate.
    std::vector<double> zc = elements(split[3].list()[0].matrix());
    double m = 0;
    for (double v : zc) m += v;
    for (double& v : zc) v -= m / static_cast<double>(zc.size());
    const Value res = ops.call("getpresida", {split[0].list()[0]}, 1)[0];
    EXPECT_NEAR(ops.call("getunexplained", {res, Value(row_of(zc))}, 1)[0].scalar(),
                reference_different_slopes(split[0].list()[0].matrix(), Codes(20, 1.0), zc), 1e-12);
    EXPECT_EQ(ops.call("stand_by_groupfunction", {split[0], split[3], Value(2.0), Value(2.7)}, 1)[0].list().size(), 2u);

    EXPECT_THROW(ops.call("getunexplained", {res, Value(Matrix::Constant(20, 1, 3.0))}, 1), QuillanError);
    EXPECT_THROW(ops.call("common_slope_test2", {split[0], split[3], Value(2.0), total_ss, Value(-1.0)}, 1), QuillanError);
    EXPECT_THROW(ops.call("group_cov_ss", {split[0], split[3], Value(2.0), Value(1.0)}, 1), QuillanError);
}

// Standardising the landmark table to the mean covariate under the five
// covariate models, and the four group tests that run on the result.

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
