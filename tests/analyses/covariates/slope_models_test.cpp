// The slope models as operations: their sums against a plain regression on
// each group's Procrustes residuals, the algebra that ties the two models
// together, degrees of freedom and F ratios, strict counting, the sums of
// degenerate shuffled cells, and the calls by name.
#include "analyses/covariates/slope_models.hpp"
#include "analyses/covariates/covariate.hpp"
#include "analyses/permutation_engine.hpp"
#include "byname/operations.hpp"
#include "geometry/shape_table.hpp"
#include "support/fixtures.hpp"
#include "support/reference.hpp"
#include "support/shapes.hpp"

#include <gtest/gtest.h>

using namespace quillan;
using namespace quillan::test;

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
