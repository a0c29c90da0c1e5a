#include "geometry/geometry.hpp"
#include "geometry/shape_table.hpp"
#include "groups/within_groups.hpp"
#include "platform/error.hpp"
#include "support/reference.hpp"
#include "support/shapes.hpp"
#include "support/text.hpp"

#include <gtest/gtest.h>

#include <limits>

using namespace quillan;
using namespace quillan::test;

namespace {

double sum_xy(const double* y, int k) {
    double s = 0;
    for (int j = 0; j < k; ++j) s += y[2 * j] * y[2 * j + 1];
    return s;
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

TEST(Centroid, UnitSquareAndTheTrailingValue) {
    const Matrix sq = matrix_from_rows({{0, 0, 1, 0, 1, 1, 0, 1, 42}});
    const Centroid c = centroid_of(std::span<const double>(sq.data(), 9));
    EXPECT_EQ(c.x, 0.5);
    EXPECT_EQ(c.y, 0.5);
    EXPECT_DOUBLE_EQ(centroid_sizes(sq)(0), std::sqrt(2.0));
    EXPECT_EQ(centroid_sizes(sq.leftCols(8))(0), centroid_sizes(sq)(0));
    EXPECT_EQ(centroid_of(std::vector<double>{3.5, -2}).y, -2);
    // Size follows scale and ignores position, row by row.
    const Matrix x = make_shapes(4, 7, 1);
    const Eigen::VectorXd cs = centroid_sizes(x), moved = centroid_sizes(similar(x, 1.0, 2.5, 12.5, -3.0));
    ASSERT_EQ(cs.size(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(moved(i), 2.5 * cs(i), 1e-12 * cs(i));
}

TEST(ShapeTable, StoresEveryRowCentredWithUnitSize) {
    const Matrix x = make_shapes(5, 5, 2);
    const ShapeTable t(x);
    for (std::size_t i = 0; i < 5; ++i) {
        const Centroid c = centroid_of(std::span<const double>(t.row(i), 10));
        EXPECT_NEAR(c.x, 0, 1e-13);
        EXPECT_NEAR(c.y, 0, 1e-13);
        EXPECT_NEAR(centroid_sizes(Eigen::Map<const Matrix>(t.row(i), 1, 10))(0), 1.0, 1e-15);
        EXPECT_EQ(t.trailing(i), x(static_cast<Eigen::Index>(i), 10));
    }
}

TEST(FullProcrustes, DistanceIsTheSineOfTheAngleWhereverTheSpecimenLies) {
    const Matrix x = make_shapes(12, 9, 3, 0.3);
    Matrix ref = full_procrustes_consensus(x).y;
    const Matrix p = full_procrustes_distances(ref, x);
    const Matrix q = full_procrustes_distances(ref, similar(x, 2.1, 0.3, -77.0, 1e2));
    const Eigen::VectorXd fitted = centroid_sizes(full_procrustes_fit(x, ref));
    for (Eigen::Index i = 0; i < 12; ++i) {
        const double s2 = sin2_distance(x.row(i).data(), ref.data(), 9);
        EXPECT_NEAR(p(i, 0) * p(i, 0), s2, 1e-13);
        EXPECT_NEAR(q(i, 0), p(i, 0), 1e-13);
        EXPECT_EQ(p(i, 1), x(i, 18));
        // A full fit onto a unit-size reference leaves size cos(angle).
        EXPECT_NEAR(fitted(i) * fitted(i), 1 - s2, 1e-13);
    }
    // The reference's last element is never read.
    ref(0, 18) = -1e300;
    EXPECT_EQ(full_procrustes_distances(ref, x), p);
    EXPECT_EQ(full_procrustes_distances(ref.leftCols(18), x), p);
    EXPECT_THROW(full_procrustes_distances(ref.leftCols(17), x), QuillanError);
    // The same shape is at distance 0, its mirror image is not.
    Matrix same = similar(ref, 0.7, 3.0, 5.0, 6.0), mirror = same;
    for (int j = 0; j < 9; ++j) mirror(0, 2 * j) = -mirror(0, 2 * j);
    EXPECT_NEAR(full_procrustes_distances(ref, same)(0, 0), 0.0, 1e-7);
    EXPECT_GT(full_procrustes_distances(ref, mirror)(0, 0), 0.1);
}

TEST(Consensus, MatchesThePlainProcedureToTheLastBit) {
    // 10 landmarks: the plain procedure stops on 1.4901161193847656e-07; any
    // other tolerance changes the passes and the bits.  13 rows leave a
    // partly filled block.
    const Matrix x = make_shapes(13, 10, 6, 0.4);
    const literal::Result lit = literal::pcafull(x);
    const Consensus c = full_procrustes_consensus(x);
    EXPECT_GT(lit.passes, 2);
    EXPECT_EQ(static_cast<int>(c.passes), lit.passes);
    EXPECT_EQ(std::vector<double>(c.y.data(), c.y.data() + 21), lit.y);
    EXPECT_EQ(c.xpt, lit.xpt);
    const std::vector<double> d = literal::full_procrustes_distances(lit.y, lit.xpt);
    EXPECT_EQ(full_procrustes_distances(c.y, c.xpt).col(0), Eigen::Map<const Eigen::VectorXd>(d.data(), 13));
}

TEST(Consensus, IsCentredOfUnitSizeOnItsPrincipalAxesAndMarked) {
    const Matrix x = load_data("plethodon.lm.txt");
    ASSERT_EQ(x.rows(), 40);
    ASSERT_EQ(x.cols(), 25);
    const Consensus c = full_procrustes_consensus(x);
    const Centroid cp = centroid_of(std::span<const double>(c.y.data(), 24));
    EXPECT_NEAR(cp.x, 0, 1e-15);
    EXPECT_NEAR(cp.y, 0, 1e-15);
    EXPECT_NEAR(centroid_sizes(c.y)(0), 1.0, 1e-14);
    EXPECT_NEAR(sum_xy(c.y.data(), 12), 0.0, 1e-15);
    EXPECT_EQ(c.y(0, 24), 999);
    const Eigen::VectorXd cs = centroid_sizes(c.xpt);
    EXPECT_EQ(c.xpt.col(24), x.col(24));
    EXPECT_LE(cs.maxCoeff(), 1.0);
    EXPECT_GT(cs.minCoeff(), 0.9);
    // Another row order: the same shape and distances up to the tolerance.
    const Matrix rev = x.colwise().reverse();
    const Consensus b = full_procrustes_consensus(rev);
    EXPECT_NEAR(sin2_distance(c.y.data(), b.y.data(), 12), 0.0, 1e-9);
    const Matrix pa = full_procrustes_distances(c.y, c.xpt), pb = full_procrustes_distances(b.y, b.xpt);
    for (Eigen::Index i = 0; i < 40; ++i) EXPECT_NEAR(pa(i, 0), pb(39 - i, 0), 1e-5);
}

TEST(Consensus, RotationOnlyKeepsUnitSizeAndScalesTheMeanToUnitNorm) {
    const Matrix x = make_shapes(7, 5, 9, 0.2);
    const Consensus c = rotation_only_consensus(x);
    const Eigen::VectorXd cs = centroid_sizes(c.xpt);
    for (Eigen::Index i = 0; i < 7; ++i) EXPECT_NEAR(cs(i), 1.0, 1e-14);
    EXPECT_EQ(c.xpt.col(10), x.col(10));
    const Eigen::RowVectorXd mean = c.xpt.colwise().mean();
    const double norm = mean.head(10).norm();
    EXPECT_LT(norm, 0.999);
    for (int q = 0; q < 10; ++q) EXPECT_NEAR(c.y(0, q), mean(q) / norm, 1e-14);
    EXPECT_NEAR(c.y(0, 10), x.col(10).mean() / norm, 1e-12);
}

TEST(Consensus, OneSpecimenIsotropicShapesAndRightAngles) {
    // One specimen is its own consensus.
    const Matrix one = make_shapes(1, 7, 10);
    const Consensus c = full_procrustes_consensus(one);
    const ShapeTable t(one);
    EXPECT_NEAR(sin2_distance(c.y.data(), t.row(0), 7), 0.0, 1e-14);
    EXPECT_NEAR(sum_xy(c.y.data(), 7), 0.0, 1e-15);
    EXPECT_EQ(c.y(0, 14), 999);
    for (int q = 0; q < 14; ++q) EXPECT_NEAR(c.xpt(0, q), c.y(0, q), 1e-14);
    for (int q = 0; q < 14; ++q) EXPECT_NEAR(rotation_only_consensus(one).y(0, q), t.row(0)[q], 1e-12);

    // A square has no principal axes (0/0): it keeps its orientation.
    const Matrix sq = matrix_from_rows({{1, 0, 0, 1, -1, 0, 0, -1, 5}, {2, 0, 0, 2, -2, 0, 0, -2, 6}});
    const Consensus s = full_procrustes_consensus(sq);
    const Matrix expect = matrix_from_rows({{0.5, 0, 0, 0.5, -0.5, 0, 0, -0.5}});
    EXPECT_EQ(s.y.leftCols(8), expect);
    EXPECT_EQ(s.xpt.block(1, 0, 1, 8), expect);

    // sum conj(z) w = 0: the full fit maps the second specimen to a point,
    // which has no distance to measure: an error rather than not-a-number.
    const Matrix right = matrix_from_rows({{1, 0, -1, 0, 0, 0, 0, 0, 1}, {0, 0, 0, 0, 1, 0, -1, 0, 2}});
    EXPECT_EQ(full_procrustes_consensus(right).xpt.block(1, 0, 1, 8), Matrix::Zero(1, 8));
    EXPECT_THAT(error_of([&] { whole_table_ss(right); }), HasSubstr("could not be computed"));
    EXPECT_NE(error_of([&] { within_group_ss(right, {1, 1}); }), "(no error)");
}

TEST(LandmarkTable, FaultyTablesAreRefusedWithTheSpecimenNamed) {
    const Matrix x = make_shapes(9, 4, 11);
    Matrix flat = x;
    flat.block(6, 0, 1, 8).setConstant(3.25);
    const std::string e = error_of([&] { full_procrustes_consensus(flat); });
    EXPECT_THAT(e, HasSubstr("Specimen 7 (line 7 of the landmark file) has all its landmarks at one point")) << e;
    EXPECT_EQ(error_of([&] { full_procrustes_distances(x.row(0), flat); }), e);
    const std::vector<std::size_t> numbers = {11, 12, 13, 14, 15, 16, 17, 18, 19};
    EXPECT_THAT(error_of([&] { ShapeTable t(flat, numbers); }), HasSubstr("Specimen 17 (line 17"));

    Matrix nan = x;
    nan(2, 3) = kNaN;
    const std::string en = error_of([&] { rotation_only_consensus(nan); });
    EXPECT_THAT(en, HasSubstr("Specimen 3 (line 3 of the landmark file) has a coordinate that is not a finite number")) << en;
    nan(2, 3) = x(2, 3);
    nan(4, 8) = kNaN;  // the trailing value is not a coordinate
    EXPECT_EQ(error_of([&] { full_procrustes_consensus(nan); }), "(no error)");

    EXPECT_THAT(error_of([&] { full_procrustes_consensus(x.leftCols(8)); }), HasSubstr("8 columns, an even number"));
    EXPECT_NE(error_of([&] { full_procrustes_fit(x.leftCols(8), x.row(0)); }), "(no error)");
    EXPECT_THAT(error_of([&] { full_procrustes_consensus(x.leftCols(3)); }), HasSubstr("too few"));
    EXPECT_THAT(error_of([&] { whole_table_ss(Matrix(0, 9)); }), HasSubstr("empty"));
}

TEST(StandardSize, MovesEachSpecimenAlongTheFittedLines) {
    Matrix x = make_shapes(6, 3, 12);
    const std::vector<double> t = {1.0, 2.0, 4.0, 3.5, 0.5, 2.5};
    for (int i = 0; i < 6; ++i) x(i, 0) = 3.0 - 2.0 * t[static_cast<std::size_t>(i)];  // exactly on a line
    const StandardSizeResult r = standardise_along_lines(x, t, 4.0);
    EXPECT_NEAR(r.tvect(0, 0), -2.0, 1e-12);
    EXPECT_NEAR(r.tvect(0, 1), -5.0, 1e-12);
    for (Eigen::Index i = 0; i < 6; ++i) {
        EXPECT_NEAR(r.y(i, 0), -5.0, 1e-12);
        for (int j = 1; j < 6; ++j)
            EXPECT_NEAR(r.y(i, j), x(i, j) - r.tvect(j, 0) * (t[static_cast<std::size_t>(i)] - 4.0), 1e-12);
    }
    EXPECT_EQ(r.y.col(6), x.col(6));
    EXPECT_EQ(r.y.row(2), x.row(2));  // its covariate is the one adjusted to

    EXPECT_THAT(error_of([&] { standardise_along_lines(x, std::vector<double>(6, 2.0), 2.0); }), HasSubstr("same value"));
    EXPECT_NE(error_of([&] { standardise_along_lines(x, std::vector<double>(5, 2.0), 2.0); }), "(no error)");
    std::vector<double> tn = t;
    tn[3] = kNaN;
    EXPECT_THAT(error_of([&] { standardise_along_lines(x, tn, 2.0); }), HasSubstr("specimen 4"));
    EXPECT_NE(error_of([&] { standardise_along_lines(x.leftCols(6), t, 2.0); }), "(no error)");
}

TEST(TotalSumOfSquares, IsTheConsensusThenTheDistances) {
    const Matrix x = load_data("plethodon.lm.txt");
    const Consensus c = full_procrustes_consensus(x);
    const Matrix p = full_procrustes_distances(c.y, c.xpt);
    double sum = 0, closed = 0;
    for (Eigen::Index i = 0; i < 40; ++i) {
        sum += p(i, 0) * p(i, 0);
        closed += sin2_distance(x.row(i).data(), c.y.data(), 12);
    }
    const ShapeTable t(x);
    ShapeScratch w;
    EXPECT_NEAR(whole_table_ss(t, w), sum, 1e-13);
    EXPECT_EQ(literal::ss(x), sum);
    EXPECT_EQ(whole_table_ss(x), whole_table_ss(t, w));
    EXPECT_NEAR(sum, closed, 1e-13);
    EXPECT_NEAR(whole_table_ss(similar(x, -0.4, 17.0, 3.0, 9.0)), sum, 1e-12);
}

TEST(TotalSumOfSquares, GroupSumsDependOnlyOnTheirRows) {
    const Matrix x = make_shapes(23, 5, 13, 0.3);
    const ShapeTable t(x);
    ShapeScratch fresh, used;
    const std::vector<int> rows = {4, 0, 17, 9, 22, 3, 11};
    const double a = group_ss(t, rows, fresh);
    (void)whole_table_ss(t, used);
    (void)group_ss(t, std::vector<int>{1, 2}, used);
    EXPECT_EQ(group_ss(t, rows, used), a);
    Matrix sub(7, 11);
    for (int i = 0; i < 7; ++i) sub.row(i) = x.row(rows[static_cast<std::size_t>(i)]);
    EXPECT_NEAR(literal::ss(sub), a, 1e-13);
    EXPECT_THROW(group_ss(t, std::vector<int>{1, 23}, used), QuillanError);
    EXPECT_THROW(group_ss(t, std::vector<int>{}, used), QuillanError);
}
