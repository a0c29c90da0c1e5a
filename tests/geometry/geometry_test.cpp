#include "geometry/geometry.hpp"
#include "geometry/shape_table.hpp"
#include "groups/within_groups.hpp"
#include "platform/error.hpp"
#include "support/shapes.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

using namespace quillan;
using namespace quillan::test;

namespace {

// The message of the QuillanError that `f` throws ("" when it throws none).
template <class F>
std::string error_of(F f) {
    try {
        f();
    } catch (const QuillanError& e) {
        return e.what();
    }
    return "";
}

double sum_xy(const Matrix& y, int k) {
    double s = 0;
    for (int j = 0; j < k; ++j) s += y(0, 2 * j) * y(0, 2 * j + 1);
    return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// Centroid and centroid size

TEST(Centroid, UnitSquareHasCentreHalfHalfAndSizeRootTwo) {
    const Matrix sq = matrix_from_rows({{0, 0, 1, 0, 1, 1, 0, 1, 42}});
    const std::vector<double> row(sq.data(), sq.data() + sq.size());
    const Centroid c = centpos(row);
    EXPECT_DOUBLE_EQ(c.x, 0.5);
    EXPECT_DOUBLE_EQ(c.y, 0.5);
    EXPECT_DOUBLE_EQ(centsize(sq)(0), std::sqrt(2.0));
    // The trailing value enters neither.
    const Matrix without = sq.leftCols(8);
    EXPECT_EQ(centsize(without)(0), centsize(sq)(0));
    const std::vector<double> two = {3.5, -2};
    EXPECT_EQ(centpos(two).x, 3.5);
    EXPECT_EQ(centpos(two).y, -2);
}

TEST(Centroid, SizeFollowsScaleAndIgnoresTranslationRowByRow) {
    const Matrix x = random_table(5, 7, 1);
    const Eigen::VectorXd cs = centsize(x);
    ASSERT_EQ(cs.size(), 5);
    const Eigen::VectorXd moved = centsize(similar(x, 0.0, 1.0, 12.5, -3.0));
    const Eigen::VectorXd scaled = centsize(similar(x, 0.0, 2.5, 0.0, 0.0));
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(moved(i), cs(i), 1e-12 * cs(i));
        EXPECT_NEAR(scaled(i), 2.5 * cs(i), 1e-12 * cs(i));
    }
    EXPECT_THROW(centpos(std::vector<double>{1.0}), QuillanError);
}

TEST(ShapeTable, StoresEveryRowCentredWithUnitSizeAndKeepsTrailingValue) {
    const Matrix x = random_table(6, 5, 2);
    const ShapeTable t(x);
    ASSERT_EQ(t.rows(), 6u);
    ASSERT_EQ(t.landmarks(), 5);
    for (std::size_t i = 0; i < 6; ++i) {
        const Centroid c = centpos(std::span<const double>(t.row(i), 10));
        EXPECT_NEAR(c.x, 0, 1e-15);
        EXPECT_NEAR(c.y, 0, 1e-15);
        Matrix r(1, 10);
        for (int q = 0; q < 10; ++q) r(0, q) = t.row(i)[q];
        EXPECT_NEAR(centsize(r)(0), 1.0, 1e-15);
        EXPECT_EQ(t.trailing(i), x(static_cast<Eigen::Index>(i), 10));
    }
}

// ---------------------------------------------------------------------------
// Full Procrustes fit and distance

TEST(FullProcrustes, DistanceIsTheSineOfTheProcrustesAngle) {
    const Matrix x = random_table(12, 9, 3, 0.3);
    const Consensus c = getconsensuspcafull(x);
    const Matrix p = fullpdist(c.y, x);
    ASSERT_EQ(p.rows(), 12);
    ASSERT_EQ(p.cols(), 2);
    for (Eigen::Index i = 0; i < x.rows(); ++i) {
        EXPECT_NEAR(p(i, 0) * p(i, 0), sin2_distance(x.row(i).data(), c.y.data(), 9), 1e-13) << "row " << i;
        EXPECT_EQ(p(i, 1), x(i, 18));
    }
    // A full fit onto a unit-size reference leaves a row of size cos(angle).
    const Matrix fitted = getfullpsup(x, c.y);
    const Eigen::VectorXd cs = centsize(fitted);
    for (Eigen::Index i = 0; i < x.rows(); ++i)
        EXPECT_NEAR(cs(i) * cs(i), 1 - sin2_distance(x.row(i).data(), c.y.data(), 9), 1e-13);
}

TEST(FullProcrustes, DistanceDoesNotDependOnPositionSizeOrOrientation) {
    const Matrix x = random_table(8, 6, 4, 0.2);
    const Matrix ref = getconsensuspcafull(x).y;
    const Matrix p = fullpdist(ref, x);
    const Matrix moved = similar(x, 2.1, 0.3, -77.0, 1e2);
    const Matrix q = fullpdist(ref, moved);
    for (Eigen::Index i = 0; i < x.rows(); ++i) EXPECT_NEAR(q(i, 0), p(i, 0), 1e-13);

    // The same shape as the reference is at distance 0, its mirror image is not.
    Matrix same = similar(ref, 0.7, 3.0, 5.0, 6.0);
    same(0, 12) = 1;
    EXPECT_NEAR(fullpdist(ref, same)(0, 0), 0.0, 1e-7);
    Matrix mirror = same;
    for (int j = 0; j < 6; ++j) mirror(0, 2 * j) = -mirror(0, 2 * j);
    EXPECT_GT(fullpdist(ref, mirror)(0, 0), 0.1);
}

TEST(FullProcrustes, ReferenceLastElementHasNoEffect) {
    const Matrix x = random_table(5, 4, 5);
    Matrix ref = getconsensuspcafull(x).y;
    ASSERT_EQ(ref(0, 8), 999);
    const Matrix a = fullpdist(ref, x);
    const Matrix fa = getfullpsup(x, ref);
    ref(0, 8) = -1e300;
    EXPECT_EQ(fullpdist(ref, x), a);
    EXPECT_EQ(getfullpsup(x, ref), fa);
    // Without the element at all.
    const Matrix shorter = ref.leftCols(8);
    EXPECT_EQ(fullpdist(shorter, x), a);
    EXPECT_THROW(fullpdist(ref.leftCols(7), x), QuillanError);
}

// ---------------------------------------------------------------------------
// Consensus

TEST(Consensus, MatchesThePlainProcedureToTheLastBit) {
    // 10 landmarks: the tolerance is 1.4901161193847656e-07.  The plain
    // procedure stops on that tolerance; a different one would change the
    // number of passes and the bits.  13 rows leave a partly filled block.
    const Matrix x = random_table(13, 10, 6, 0.4);
    const literal::Result lit = literal::pcafull(x);
    const Consensus c = getconsensuspcafull(x);
    EXPECT_EQ(static_cast<int>(c.passes), lit.passes);
    EXPECT_GT(lit.passes, 2);
    for (int q = 0; q < 21; ++q) EXPECT_EQ(c.y(0, q), lit.y[q]) << q;
    for (Eigen::Index i = 0; i < 13; ++i)
        for (int q = 0; q < 21; ++q) ASSERT_EQ(c.xpt(i, q), lit.xpt(i, q)) << i << "," << q;
    const std::vector<double> d = literal::fullpdist(lit.y, lit.xpt);
    const Matrix p = fullpdist(c.y, c.xpt);
    for (Eigen::Index i = 0; i < 13; ++i) EXPECT_EQ(p(i, 0), d[static_cast<std::size_t>(i)]);
}

TEST(Consensus, IsCentredOfUnitSizeOnItsPrincipalAxesAndMarked) {
    const Matrix x = load_data("plethodon.lm.txt");
    ASSERT_EQ(x.rows(), 40);
    ASSERT_EQ(x.cols(), 25);
    const Consensus c = getconsensuspcafull(x);
    const Centroid cp = centpos(std::span<const double>(c.y.data(), 24));
    EXPECT_NEAR(cp.x, 0, 1e-15);
    EXPECT_NEAR(cp.y, 0, 1e-15);
    EXPECT_NEAR(centsize(c.y)(0), 1.0, 1e-14);
    EXPECT_NEAR(sum_xy(c.y, 12), 0.0, 1e-15);
    EXPECT_EQ(c.y(0, 24), 999);
    // The aligned rows keep the trailing column and have size at most 1.
    const Eigen::VectorXd cs = centsize(c.xpt);
    for (Eigen::Index i = 0; i < 40; ++i) {
        EXPECT_EQ(c.xpt(i, 24), x(i, 24));
        EXPECT_LE(cs(i), 1.0);
        EXPECT_GT(cs(i), 0.9);
    }
}

TEST(Consensus, TwoSimilarSpecimensGiveTheirCommonShape) {
    Matrix two = random_table(1, 6, 7);
    two.conservativeResize(2, Eigen::NoChange);
    two.row(1) = similar(two.topRows(1), 1.2, 4.0, 10, -20).row(0);
    for (const Consensus& c : {getconsensuspcafull(two), getconsensus(two)}) {
        const Matrix p = fullpdist(c.y, two);
        EXPECT_NEAR(p(0, 0), 0.0, 1e-7);
        EXPECT_NEAR(p(1, 0), 0.0, 1e-7);
        for (int q = 0; q < 12; ++q) EXPECT_NEAR(c.xpt(1, q), c.y(0, q), 1e-12);
    }
}

TEST(Consensus, ShapeAndDistancesDoNotDependOnRowOrder) {
    const Matrix x = random_table(9, 8, 8, 0.3);
    Matrix rev = x.colwise().reverse();
    const Consensus a = getconsensuspcafull(x), b = getconsensuspcafull(rev);
    const Matrix pa = fullpdist(a.y, a.xpt), pb = fullpdist(b.y, b.xpt);
    // Each consensus stops within its tolerance of the exact one, from a
    // different starting specimen.
    for (Eigen::Index i = 0; i < 9; ++i) EXPECT_NEAR(pa(i, 0), pb(8 - i, 0), 1e-5);
    EXPECT_NEAR(sin2_distance(a.y.data(), b.y.data(), 8), 0.0, 1e-9);
}

TEST(Consensus, RotationOnlyKeepsUnitSizeAndTheFirstSpecimensOrientation) {
    const Matrix x = random_table(7, 5, 9, 0.2);
    const Consensus c = getconsensus(x);
    const Eigen::VectorXd cs = centsize(c.xpt);
    for (Eigen::Index i = 0; i < 7; ++i) {
        EXPECT_NEAR(cs(i), 1.0, 1e-14);
        EXPECT_EQ(c.xpt(i, 10), x(i, 10));
    }
    EXPECT_NEAR(centsize(c.y)(0), 1.0, 1e-14);
    // The consensus is the mean of the aligned rows scaled to unit norm, and
    // its last element the mean trailing value over the same norm.
    const Eigen::RowVectorXd mean = c.xpt.colwise().mean();
    const double norm = mean.head(10).norm();
    EXPECT_LT(norm, 0.999);
    for (int q = 0; q < 10; ++q) EXPECT_NEAR(c.y(0, q), mean(q) / norm, 1e-14);
    EXPECT_NEAR(c.y(0, 10), x.col(10).mean() / norm, 1e-12);
    // The consensus is turned like the first specimen: its fit onto the first
    // specimen needs (almost) no rotation.
    const ShapeTable t(x.topRows(1));
    double b2 = 0, b1 = 0;
    for (int j = 0; j < 5; ++j) {
        b1 += c.y(0, 2 * j) * t.row(0)[2 * j] + c.y(0, 2 * j + 1) * t.row(0)[2 * j + 1];
        b2 += t.row(0)[2 * j] * c.y(0, 2 * j + 1) - t.row(0)[2 * j + 1] * c.y(0, 2 * j);
    }
    EXPECT_LT(std::fabs(std::atan2(b2, b1)), 0.2);
    EXPECT_NE(getconsensuspcafull(x).passes, 0u);
}

TEST(Consensus, OneSpecimenIsItsOwnConsensus) {
    const Matrix one = random_table(1, 7, 10);
    const Consensus c = getconsensuspcafull(one);
    const ShapeTable t(one);
    // The specimen centred and scaled, turned to its principal axes.
    EXPECT_NEAR(sin2_distance(c.y.data(), t.row(0), 7), 0.0, 1e-14);
    EXPECT_NEAR(centsize(c.y)(0), 1.0, 1e-14);
    EXPECT_NEAR(sum_xy(c.y, 7), 0.0, 1e-15);
    EXPECT_EQ(c.y(0, 14), 999);
    for (int q = 0; q < 14; ++q) EXPECT_NEAR(c.xpt(0, q), c.y(0, q), 1e-14);
    EXPECT_NEAR(fullpdist(c.y, one)(0, 0), 0.0, 1e-7);

    const Consensus r = getconsensus(one);
    for (int q = 0; q < 14; ++q) EXPECT_NEAR(r.y(0, q), t.row(0)[q], 1e-12);
}

TEST(Consensus, IsotropicConsensusKeepsItsOrientation) {
    // A square about its centre: its principal-axis angle is 0/0.
    const Matrix sq = matrix_from_rows({{1, 0, 0, 1, -1, 0, 0, -1, 5}, {2, 0, 0, 2, -2, 0, 0, -2, 6}});
    const Consensus c = getconsensuspcafull(sq);
    const std::vector<double> expect = {0.5, 0, 0, 0.5, -0.5, 0, 0, -0.5};
    for (int q = 0; q < 8; ++q) {
        EXPECT_EQ(c.y(0, q), expect[q]) << q;
        EXPECT_EQ(c.xpt(0, q), expect[q]) << q;
        EXPECT_EQ(c.xpt(1, q), expect[q]) << q;
    }
    EXPECT_EQ(c.y(0, 8), 999);
}

TEST(Consensus, ASpecimenAtRightAnglesToTheConsensusEndsWithAnErrorNotNaN) {
    // sum of conj(z) w = 0: the full fit maps the second specimen to a single
    // point, which has no distance that the centring could measure.
    const Matrix x = matrix_from_rows({{1, 0, -1, 0, 0, 0, 0, 0, 1}, {0, 0, 0, 0, 1, 0, -1, 0, 2}});
    const Consensus c = getconsensuspcafull(x);
    for (int q = 0; q < 8; ++q) EXPECT_EQ(c.xpt(1, q), 0.0);
    const std::string e = error_of([&] { tssd(x); });
    EXPECT_NE(e.find("could not be computed"), std::string::npos) << e;
    EXPECT_NE(error_of([&] { sq_d_wg(x, {1, 1}); }), "");
}

// ---------------------------------------------------------------------------
// Refused tables

TEST(LandmarkTable, FaultyTablesAreRefusedWithTheSpecimenNamed) {
    Matrix x = random_table(9, 4, 11);
    EXPECT_EQ(error_of([&] { validate_landmark_table(x); }), "");

    Matrix flat = x;
    for (int j = 0; j < 4; ++j) {
        flat(6, 2 * j) = 3.25;
        flat(6, 2 * j + 1) = -1;
    }
    const std::string e = error_of([&] { getconsensuspcafull(flat); });
    EXPECT_NE(e.find("Specimen 7 (line 7 of the landmark file) has all its landmarks at one point"), std::string::npos) << e;
    EXPECT_EQ(error_of([&] { ShapeTable t(flat); }), e);
    EXPECT_EQ(error_of([&] { fullpdist(getconsensuspcafull(x).y, flat); }), e);
    // Numbered as the caller says when the table is part of a larger one.
    const std::vector<std::size_t> numbers = {11, 12, 13, 14, 15, 16, 17, 18, 19};
    EXPECT_NE(error_of([&] { ShapeTable t(flat, numbers); }).find("Specimen 17 (line 17"), std::string::npos);

    Matrix nan = x;
    nan(2, 3) = std::numeric_limits<double>::quiet_NaN();
    const std::string en = error_of([&] { getconsensus(nan); });
    EXPECT_NE(en.find("Specimen 3 (line 3 of the landmark file)"), std::string::npos) << en;
    EXPECT_NE(en.find("not a finite number"), std::string::npos) << en;
    Matrix inf = x;
    inf(0, 0) = -std::numeric_limits<double>::infinity();
    EXPECT_NE(error_of([&] { tssd(inf); }).find("Specimen 1 "), std::string::npos);
    // The trailing value is not a coordinate.
    Matrix tail = x;
    tail(4, 8) = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(error_of([&] { getconsensuspcafull(tail); }), "");

    const Matrix even = x.leftCols(8);
    const std::string ee = error_of([&] { getconsensuspcafull(even); });
    EXPECT_NE(ee.find("8 columns, an even number"), std::string::npos) << ee;
    EXPECT_NE(error_of([&] { getfullpsup(even, x.row(0)); }), "");
    EXPECT_NE(error_of([&] { standardsize(even, std::vector<double>(9, 1.0), 0.0); }), "");
    EXPECT_NE(error_of([&] { getconsensuspcafull(x.leftCols(3)); }).find("too few"), std::string::npos);
    EXPECT_NE(error_of([&] { getconsensuspcafull(Matrix(0, 9)); }).find("empty"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Standardising to a covariate value

TEST(StandardSize, MovesEachSpecimenAlongTheFittedLines) {
    Matrix x = random_table(6, 3, 12);
    const std::vector<double> t = {1.0, 2.0, 4.0, 3.5, 0.5, 2.5};
    // Column 1 an exact line in t: it becomes constant, its value at tfixed.
    for (int i = 0; i < 6; ++i) x(i, 0) = 3.0 - 2.0 * t[static_cast<std::size_t>(i)];
    const StandardSizeResult r = standardsize(x, t, 4.0);
    ASSERT_EQ(r.tvect.rows(), 6);
    EXPECT_NEAR(r.tvect(0, 0), -2.0, 1e-12);
    EXPECT_NEAR(r.tvect(0, 1), 3.0 - 2.0 * 4.0, 1e-12);
    for (Eigen::Index i = 0; i < 6; ++i) {
        EXPECT_NEAR(r.y(i, 0), -5.0, 1e-12);
        EXPECT_EQ(r.y(i, 6), x(i, 6));
        for (int j = 0; j < 6; ++j)
            EXPECT_NEAR(r.y(i, j), x(i, j) - r.tvect(j, 0) * (t[static_cast<std::size_t>(i)] - 4.0), 1e-12);
    }
    // The specimen whose covariate is tfixed stays where it is.
    for (int j = 0; j < 7; ++j) EXPECT_EQ(r.y(2, j), x(2, j));

    EXPECT_NE(error_of([&] { standardsize(x, std::vector<double>(6, 2.0), 2.0); }).find("same value"),
              std::string::npos);
    EXPECT_NE(error_of([&] { standardsize(x, std::vector<double>(5, 2.0), 2.0); }), "");
    std::vector<double> tn = t;
    tn[3] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_NE(error_of([&] { standardsize(x, tn, 2.0); }).find("specimen 4"), std::string::npos);
}

// ---------------------------------------------------------------------------
// The prepared table and the total sum of squares

TEST(TotalSumOfSquares, EqualsConsensusThenDistancesExactly) {
    const Matrix x = load_data("plethodon.lm.txt");
    const Consensus c = getconsensuspcafull(x);
    const Matrix p = fullpdist(c.y, c.xpt);
    double sum = 0;
    for (Eigen::Index i = 0; i < p.rows(); ++i) sum += p(i, 0) * p(i, 0);
    const ShapeTable t(x);
    ShapeWork w;
    EXPECT_EQ(tssd(t, w), sum);
    EXPECT_EQ(tssd(x), sum);
    EXPECT_EQ(literal::ss(x), sum);
    // Against the closed form (distances from the same consensus).
    double closed = 0;
    for (Eigen::Index i = 0; i < x.rows(); ++i) closed += sin2_distance(x.row(i).data(), c.y.data(), 12);
    EXPECT_NEAR(sum, closed, 1e-13);
    // Invariant under a similarity of every specimen, up to rounding.
    EXPECT_NEAR(tssd(similar(x, -0.4, 17.0, 3.0, 9.0)), sum, 1e-12);
}

TEST(TotalSumOfSquares, GroupSumsAreReproducibleWhateverRanBefore) {
    const Matrix x = random_table(23, 5, 13, 0.3);
    const ShapeTable t(x);
    ShapeWork fresh, used;
    const std::vector<int> rows = {4, 0, 17, 9, 22, 3, 11};
    const double a = group_ss(t, rows, fresh);
    // The same rows after unrelated work with a larger and a smaller group.
    (void)tssd(t, used);
    (void)group_ss(t, std::vector<int>{1, 2}, used);
    EXPECT_EQ(group_ss(t, rows, used), a);
    // The same rows as a table of their own, through the matrix functions.
    Matrix sub(7, 11);
    for (int i = 0; i < 7; ++i) sub.row(i) = x.row(rows[static_cast<std::size_t>(i)]);
    EXPECT_EQ(tssd(sub), a);
    EXPECT_EQ(literal::ss(sub), a);
    EXPECT_THROW(group_ss(t, std::vector<int>{1, 23}, used), QuillanError);
    EXPECT_THROW(group_ss(t, std::vector<int>{}, used), QuillanError);
}
