// The geometry of landmark tables: centroids, full Procrustes fits and
// consensus in the plane and in space, the sums of squares, and the kernel
// variants that compute them, all to the last bit where the program promises it.
#include "geometry/geometry.hpp"
#include "geometry/kernel_dispatch.hpp"
#include "geometry/shape_table.hpp"
#include "groups/within_groups.hpp"
#include "platform/error.hpp"
#include "support/fixtures.hpp"
#include "support/reference.hpp"
#include "support/shapes.hpp"
#include "support/text.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <numeric>
#include <random>

using namespace quillan::test;
using namespace quillan;

namespace {

double sum_xy(const double* y, int k) {
    double s = 0;
    for (int j = 0; j < k; ++j) s += y[2 * j] * y[2 * j + 1];
    return s;
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

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

// The full Procrustes superimposition of landmarks in space, held against the
// numbers R's shapes package gives for two of its real 3-D sets
// (tests/expected/shapes3d, written by make-expected.R there, which also
// wrote data/macaques.* and data/brains.*), and against the properties any
// such superimposition must have.

namespace {

// Rows of a CSV of shapes' numbers, the header dropped, cells as text.
std::vector<std::vector<std::string>> csv_rows(const std::string& name) {
    auto rows = expected_csv("shapes3d/" + name);
    rows.erase(rows.begin());
    return rows;
}

// Every row turned by its own rotation about a random axis, scaled and moved;
// with `mirror` the rows named are reflected in the x = 0 plane first.
Matrix similar_space(const Matrix& x, unsigned seed, const std::vector<int>& mirror = {}) {
    std::srand(seed);
    auto r = [] { return static_cast<double>(std::rand()) / RAND_MAX - 0.5; };
    Matrix y = x;
    for (Eigen::Index i = 0; i < x.rows(); ++i) {
        const Eigen::Matrix3d rot = Eigen::AngleAxisd(6 * r(), Eigen::Vector3d(r(), r(), r()).normalized()).toRotationMatrix();
        const double scale = 0.2 + 3 * (r() + 0.5);
        const Eigen::Vector3d shift(100 * r(), 100 * r(), 100 * r());
        const bool flip = std::find(mirror.begin(), mirror.end(), i) != mirror.end();
        for (Eigen::Index j = 0; j + 3 < x.cols(); j += 3) {
            Eigen::Vector3d p(x(i, j), x(i, j + 1), x(i, j + 2));
            if (flip) p(0) = -p(0);
            const Eigen::Vector3d q = scale * (rot * p) + shift;
            for (int c = 0; c < 3; ++c) y(i, j + c) = q(c);
        }
    }
    return y;
}

double sum_sq(const Matrix& p) { return p.col(0).squaredNorm(); }

std::vector<int> rows_with_code(const Matrix& groups, Eigen::Index column, double code) {
    std::vector<int> rows;
    for (Eigen::Index i = 0; i < groups.rows(); ++i)
        if (groups(i, column) == code) rows.push_back(static_cast<int>(i));
    return rows;
}

}  // namespace

TEST(SpaceProcrustes, AgreesWithShapesOnRealSets) {
    std::map<std::string, std::vector<double>> r_distances;
    for (const auto& row : csv_rows("full_distances.csv")) r_distances[row[0]].push_back(std::stod(row[2]));
    for (const auto& [set, expected] : r_distances) {
        const Matrix x = load_data(set + ".lm.txt");
        ASSERT_EQ(static_cast<std::size_t>(x.rows()), expected.size()) << set;
        const Consensus c = full_procrustes_consensus(x, 3);
        const Matrix d = full_procrustes_distances(c.y, x, 3);
        // A distance moves with the consensus to first order, and the
        // iteration stops once the consensus moves by at most about
        // 1e-4 sqrt(k) a pass; the sums below move to second order only.
        for (Eigen::Index i = 0; i < x.rows(); ++i) EXPECT_NEAR(d(i, 0), expected[static_cast<std::size_t>(i)], 1e-6) << set;
        EXPECT_EQ(d.col(1), x.col(x.cols() - 1));
    }
    for (const auto& row : csv_rows("group_ss.csv")) {
        const Matrix x = load_data(row[0] + ".lm.txt");
        const ShapeTable table(x, {}, 3);
        ShapeScratch work;
        std::vector<int> rows;
        if (row[1] == "all") {
            for (Eigen::Index i = 0; i < x.rows(); ++i) rows.push_back(static_cast<int>(i));
        } else {
            const Matrix groups = load_data(row[0] + ".groups.txt");
            rows = rows_with_code(groups, row[1] == "sex" ? 0 : 1, std::stod(row[2]));
        }
        ASSERT_EQ(rows.size(), std::stoul(row[3])) << row[0] << " " << row[1];
        const double expected = std::stod(row[4]);
        EXPECT_NEAR(group_ss(table, rows, work), expected, 1e-8 * expected) << row[0] << " " << row[1] << " " << row[2];
    }
}

TEST(SpaceProcrustes, TotalIsTheDistancesAndIgnoresPositionSizeOrientationAndOrder) {
    const Matrix x = load_data("brains.lm.txt");
    const Consensus c = full_procrustes_consensus(x, 3);
    const double total = whole_table_ss(x, 3);
    EXPECT_NEAR(sum_sq(full_procrustes_distances(c.y, c.xpt, 3)), total, 1e-13);
    EXPECT_NEAR(whole_table_ss(similar_space(x, 7), 3), total, 1e-12);
    const Matrix reversed = x.colwise().reverse();           // the rows in reverse order
    EXPECT_NEAR(whole_table_ss(reversed, 3), total, 1e-10);  // another first row starts the iteration
    // A mirror image is another shape: reflecting some specimens changes the sum.
    EXPECT_GT(whole_table_ss(similar_space(x, 7, {3, 10, 40}), 3), total + 1e-3);

    // The aligned rows lie on the consensus's principal axes, centred, each
    // fitted in size; the consensus is of unit size and marked.
    EXPECT_EQ(c.y(0, x.cols() - 1), 999);
    Eigen::Matrix3d scatter = Eigen::Matrix3d::Zero();
    for (Eigen::Index j = 0; j + 1 < x.cols(); j += 3) {
        const Eigen::Vector3d p(c.y(0, j), c.y(0, j + 1), c.y(0, j + 2));
        scatter += p * p.transpose();
    }
    EXPECT_NEAR(scatter.trace(), 1.0, 1e-13);
    EXPECT_NEAR(scatter(0, 1), 0, 1e-13);
    EXPECT_NEAR(scatter(0, 2), 0, 1e-13);
    EXPECT_NEAR(scatter(1, 2), 0, 1e-13);
    for (Eigen::Index i = 0; i < x.rows(); ++i)
        for (int axis = 0; axis < 3; ++axis) {
            double sum = 0;
            for (Eigen::Index j = axis; j + 1 < x.cols(); j += 3) sum += c.xpt(i, j);
            EXPECT_NEAR(sum, 0, 1e-13);
        }
}

TEST(SpaceProcrustes, AFitTurnsWithoutReflectingAndScales) {
    const Matrix x = load_data("macaques.lm.txt");
    const Matrix ref = full_procrustes_consensus(x, 3).y;
    Matrix copies(2, x.cols());
    copies.row(0) = ref.row(0);
    copies.row(1) = ref.row(0);
    const Matrix moved = similar_space(copies, 3, {1});
    const Matrix fitted = full_procrustes_fit(moved, ref, 3);
    // The turned copy comes back onto the reference; the mirror image cannot.
    EXPECT_NEAR((fitted.row(0).leftCols(21) - ref.row(0).leftCols(21)).norm(), 0, 1e-13);
    const Matrix d = full_procrustes_distances(ref, moved, 3);
    EXPECT_NEAR(d(0, 0), 0, 1e-7);
    EXPECT_GT(d(1, 0), 0.05);
    EXPECT_NEAR(centroid_sizes(fitted.row(1).leftCols(21), 3)(0), std::sqrt(1 - d(1, 0) * d(1, 0)), 1e-13);
    const Consensus r = rotation_only_consensus(x, 3);
    EXPECT_NEAR(r.y.leftCols(21).norm(), 1.0, 1e-13);
    for (Eigen::Index i = 0; i < x.rows(); ++i) EXPECT_NEAR(r.xpt.row(i).leftCols(21).norm(), 1.0, 1e-13);
}

TEST(SpaceProcrustes, FaultyTablesAreRefused) {
    const Matrix x = load_data("macaques.lm.txt");
    EXPECT_THAT(error_of([&] { whole_table_ss(x.leftCols(21), 3); }), HasSubstr("one more than a multiple of three"));
    EXPECT_THAT(error_of([&] { whole_table_ss(x.rightCols(7), 3); }), HasSubstr("at least three landmarks"));
    Matrix flat = x;
    for (int q = 0; q < 21; ++q) flat(4, q) = q % 3;
    EXPECT_THAT(error_of([&] { full_procrustes_consensus(flat, 3); }),
                HasSubstr("Specimen 5 (line 5 of the landmark file) has all"));
    flat(4, 20) = 1e300 * 1e10;
    EXPECT_THAT(error_of([&] { ShapeTable t(flat, {}, 3); }), HasSubstr("column 21 holds Inf"));
}

// Groups of a permutation side by side in the vector lanes, one group a
// lane: every variant gives the same bits, and each group the sum it gets
// on its own (by the singular value decomposition) to rounding, the
// reflected specimens among them included.  Real brains and macaques, each
// specimen turned, scaled and moved, some mirrored, in groups of 1 to 17;
// and the macaques flattened into a plane, and onto a line.
TEST(SpaceProcrustes, GroupsSideBySideAgreeWithEachAloneOnEveryVariant) {
    const KernelVariant before = active_kernel();
    struct Case {
        const char* file;
        std::vector<std::size_t> sizes;
    };
    const Case cases[] = {{"brains.lm.txt", {2, 3, 1, 5, 4, 12, 9, 2, 3, 17}},
                          {"macaques.lm.txt", {2, 5, 3, 1, 2, 3, 2}},
                          {"flat", {2, 5, 3, 1, 2, 3, 2}},
                          {"line", {2, 5, 3, 1, 2, 3, 2}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Matrix raw = load_data("macaques.lm.txt");
        if (std::string(c.file) == "brains.lm.txt") raw = load_data(c.file);
        // Specimens in a plane (z = 0), or on a line (y = z = 0), whose
        // rotations the lanes cannot determine: those groups go one by one.
        for (Eigen::Index j = 0; j + 1 < raw.cols(); ++j)
            if ((std::string(c.file) == "flat" && j % 3 == 2) || (std::string(c.file) == "line" && j % 3 != 0))
                raw.col(j).setZero();
        const Matrix x = similar_space(raw, 11, {1, 4, 9, 16});
        Codes codes;
        for (std::size_t g = 0; g < c.sizes.size(); ++g) codes.insert(codes.end(), c.sizes[g], static_cast<double>(g));
        // Dealt so that a group's rows are spread through the table.
        std::vector<double> spread(codes.size());
        for (std::size_t i = 0; i < codes.size(); ++i) spread[(i * 7) % codes.size()] = codes[i];
        const ShapeTable table(x, {}, 3);
        std::vector<double> alone;
        for (std::size_t g = 0; g < c.sizes.size(); ++g) {
            std::vector<int> rows;
            for (std::size_t i = 0; i < spread.size(); ++i)
                if (spread[i] == static_cast<double>(g)) rows.push_back(static_cast<int>(i));
            ShapeScratch work;
            alone.push_back(rows.size() > 1 ? group_ss(table, rows, work) : 0.0);
        }
        std::vector<double> first;
        for (const KernelVariant v : all_kernels()) {
            if (!select_kernel(v)) continue;
            WithinGroupsScratch scratch;
            WithinGroups wg;
            within_group_ss(table, spread, scratch, wg);
            ASSERT_EQ(wg.wgsd.size(), alone.size());
            for (std::size_t i = 0; i < alone.size(); ++i) {
                const auto g = static_cast<std::size_t>(wg.gcodes[i]);
                EXPECT_NEAR(wg.wgsd[i], alone[g], 1e-12 * alone[g]) << kernel_name(v) << ", group " << g;
            }
            if (first.empty()) first = wg.wgsd;
            EXPECT_EQ(std::memcmp(first.data(), wg.wgsd.data(), first.size() * sizeof(double)), 0) << kernel_name(v);
        }
    }
    select_kernel(before);
}

// Every kernel variant the processor has must give the numbers of the
// baseline variant to the last bit.  Tables of 1 to 19 rows put every tile
// width through full tiles, a partial last tile and single-row groups.
namespace quillan::test {
namespace {

// What a variant computes for a table, flattened for a bitwise comparison.
std::vector<double> everything(const Matrix& x) {
    std::vector<double> out;
    auto add = [&](const Matrix& m) { out.insert(out.end(), m.data(), m.data() + m.size()); };
    const Consensus full = full_procrustes_consensus(x);
    add(full.y);
    add(full.xpt);
    add(full_procrustes_distances(full.y, x));
    add(full_procrustes_fit(x, full.y));
    const Consensus rot = rotation_only_consensus(x);
    add(rot.y);
    add(rot.xpt);
    const ShapeTable table(x);
    ShapeScratch work;
    std::vector<int> rows(table.rows());
    std::iota(rows.rbegin(), rows.rend(), 0);  // reversed: rows gathered out of table order
    out.push_back(group_ss(table, rows, work));
    out.push_back(whole_table_ss(table, work));
    std::vector<double> res(rows.size() * 2 * static_cast<std::size_t>(table.landmarks()));
    consensus_residuals(table, rows, work, res.data());
    out.insert(out.end(), res.begin(), res.end());
    std::vector<double> codes(table.rows());
    for (std::size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<double>(i % 3 == 2 ? 7 : i % 2);
    WithinGroupsScratch ws;
    WithinGroups wg;
    within_group_ss(table, codes, ws, wg);
    out.insert(out.end(), wg.wgsd.begin(), wg.wgsd.end());
    return out;
}

class KernelVariants : public ::testing::Test {
protected:
    void SetUp() override { before_ = active_kernel(); }
    void TearDown() override { select_kernel(before_); }
    KernelVariant before_ = KernelVariant::Baseline;
};

TEST_F(KernelVariants, EveryVariantGivesTheBaselineNumbersToTheLastBit) {
    // 7 to 10 landmarks: the last block of 4 landmarks (8 coordinates) is
    // short by 1, 2 or 3 landmarks or whole.
    for (int n = 1; n <= 19; ++n)
        for (const int k : {7, 8, 9, 10}) {
            const Matrix x = make_shapes(n, k, 100 + static_cast<unsigned>(n));
            ASSERT_TRUE(select_kernel(KernelVariant::Baseline));
            const std::vector<double> base = everything(x);
            for (const KernelVariant v : all_kernels()) {
                if (v == KernelVariant::Baseline) continue;
                if (!select_kernel(v)) {
                    if (n == 1 && k == 7)
                        std::cout << "[ NOTE ] " << kernel_name(v) << " not compared: this processor lacks it\n";
                    continue;
                }
                const std::vector<double> got = everything(x);
                ASSERT_EQ(got.size(), base.size());
                EXPECT_EQ(std::memcmp(got.data(), base.data(), base.size() * sizeof(double)), 0)
                    << kernel_name(v) << " differs from baseline with " << n << " rows of " << k << " landmarks";
            }
        }
}

TEST_F(KernelVariants, TheEnvironmentChoosesAndAnUnrunnableChoiceIsRefusedWithAMessage) {
    const char* saved = std::getenv("QUILLAN_KERNEL");
    const std::string given = saved ? saved : "";
    ::setenv("QUILLAN_KERNEL", "", 1);
    EXPECT_EQ(kernel_from_environment(), best_kernel());
    ::setenv("QUILLAN_KERNEL", "baseline", 1);
    EXPECT_EQ(kernel_from_environment(), KernelVariant::Baseline);
    ::setenv("QUILLAN_KERNEL", "sse9", 1);
    EXPECT_THAT(error_of([] { kernel_from_environment(); }), HasSubstr("QUILLAN_KERNEL=sse9 names no kernel"));
    for (const KernelVariant v : all_kernels()) {
        ::setenv("QUILLAN_KERNEL", kernel_name(v), 1);
        if (kernel_available(v)) {
            EXPECT_EQ(kernel_from_environment(), v);
            continue;
        }
        EXPECT_FALSE(select_kernel(v));
        EXPECT_THAT(error_of([] { kernel_from_environment(); }), HasSubstr(std::string("asks for the ") + kernel_name(v)));
    }
    if (saved) ::setenv("QUILLAN_KERNEL", given.c_str(), 1);
    else ::unsetenv("QUILLAN_KERNEL");
}

TEST_F(KernelVariants, APermutationThatKeepsTheGroupingTiesTheObservedSumExactly) {
    // Groups 1 and 2 are the same size; the permutation that trades their
    // positions (in order) only swaps their labels, so every group keeps its
    // rows in their order and the sum must come out bit for bit the same.
    const Matrix x = make_shapes(23, 9, 7);
    const ShapeTable table(x);
    Codes codes(23);
    for (std::size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<double>(i % 3 + 1);
    codes[21] = codes[22] = 3;  // groups 1 and 2 get 7 rows each, group 3 the other 9
    std::vector<std::size_t> ones, twos;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        if (codes[i] == 1) ones.push_back(i);
        if (codes[i] == 2) twos.push_back(i);
    }
    ASSERT_EQ(ones.size(), twos.size());
    Codes traded = codes;
    for (std::size_t j = 0; j < ones.size(); ++j) {
        traded[ones[j]] = codes[twos[j]];
        traded[twos[j]] = codes[ones[j]];
    }
    ASSERT_NE(traded, codes);
    for (const KernelVariant v : all_kernels()) {
        if (!select_kernel(v)) continue;
        WithinGroupsScratch scratch;
        const double observed = within_group_ss_sum(table, codes, scratch).sum;
        const double permuted = within_group_ss_sum(table, traded, scratch).sum;
        EXPECT_EQ(std::memcmp(&observed, &permuted, sizeof observed), 0) << kernel_name(v);
    }
}

// Group g of `sizes` gets sizes[g] rows, its rows spread over the table (the
// codes dealt round-robin among the groups not yet full), so no group's rows
// are contiguous.
Codes dealt_codes(const std::vector<std::size_t>& sizes) {
    std::vector<std::size_t> left = sizes;
    Codes codes;
    for (bool any = true; any;) {
        any = false;
        for (std::size_t g = 0; g < left.size(); ++g)
            if (left[g] > 0) {
                codes.push_back(static_cast<double>(10 + g));
                --left[g];
                any = true;
            }
    }
    return codes;
}

TEST_F(KernelVariants, MixedGroupSizesGiveEachGroupsOwnSumToTheLastBitOnEveryVariant) {
    // Groups of 1-3 specimens beside groups of 50, a run of similar small
    // groups (several to a sweep) and some in between.  Every group's entry
    // must be what the baseline variant gives for that group alone, and the
    // passes must be the groups' own (a group that settles early stops).
    const std::vector<std::size_t> sizes = {2, 50, 3, 1, 5, 4, 5, 5, 4, 2, 3, 50, 16, 12, 13, 16, 3, 2, 1, 9, 27, 5, 4, 5};
    for (const int k : {3, 7, 26}) {
        const Codes codes = dealt_codes(sizes);
        const Matrix x = make_shapes(static_cast<int>(codes.size()), k, 500 + static_cast<unsigned>(k), 0.2);
        const ShapeTable table(x);
        ASSERT_TRUE(select_kernel(KernelVariant::Baseline));
        std::vector<double> alone(sizes.size(), 0.0);
        std::size_t passes = 0;
        for (std::size_t g = 0; g < sizes.size(); ++g) {
            if (sizes[g] == 1) continue;
            std::vector<int> rows;
            for (std::size_t i = 0; i < codes.size(); ++i)
                if (codes[i] == static_cast<double>(10 + g)) rows.push_back(static_cast<int>(i));
            ShapeScratch work;
            alone[g] = group_ss(table, rows, work);
            passes += work.passes;
        }
        for (const KernelVariant v : all_kernels()) {
            if (!select_kernel(v)) continue;
            WithinGroupsScratch scratch;
            WithinGroups wg;
            for (int twice = 0; twice < 2; ++twice) {  // the second time with the buffers of the first
                scratch.work().passes = 0;
                within_group_ss(table, codes, scratch, wg);
                ASSERT_EQ(wg.wgsd.size(), alone.size());
                EXPECT_EQ(std::memcmp(wg.wgsd.data(), alone.data(), alone.size() * sizeof(double)), 0)
                    << kernel_name(v) << ", k = " << k;
                EXPECT_EQ(scratch.work().passes, passes) << kernel_name(v) << ", k = " << k;
                EXPECT_EQ(wg.single_codes, (Codes{13, 28})) << kernel_name(v);
            }
        }
    }
}

// Scores the groupings together on every variant, in the order given and
// reversed: each grouping's sum, group count and single count must be what it
// gets alone on the baseline variant, bit for bit.
void expect_each_its_own_sum(const ShapeTable& table, const std::vector<const Codes*>& all) {
    ASSERT_TRUE(select_kernel(KernelVariant::Baseline));
    std::vector<WithinSum> alone;
    WithinGroupsScratch one;
    for (const Codes* c : all) alone.push_back(within_group_ss_sum(table, *c, one));
    for (const KernelVariant v : all_kernels()) {
        if (!select_kernel(v)) continue;
        WithinGroupsScratch scratch;
        for (const bool reversed : {false, true}) {
            std::vector<std::span<const double>> groupings;
            for (std::size_t c = 0; c < all.size(); ++c) {
                const Codes& codes = *all[reversed ? all.size() - 1 - c : c];
                groupings.emplace_back(codes.data(), codes.size());
            }
            std::vector<WithinSum> together(groupings.size());
            within_group_ss_sums(table, groupings, scratch, together);
            for (std::size_t c = 0; c < all.size(); ++c) {
                const WithinSum& want = alone[reversed ? all.size() - 1 - c : c];
                EXPECT_EQ(std::memcmp(&together[c].sum, &want.sum, sizeof want.sum), 0)
                    << kernel_name(v) << ", grouping " << c << (reversed ? " (reversed)" : "");
                EXPECT_EQ(together[c].groups, want.groups);
                EXPECT_EQ(together[c].singles, want.singles);
            }
        }
    }
}

TEST_F(KernelVariants, GroupingsScoredTogetherGiveEachItsOwnSumToTheLastBit) {
    // What a two-factor permutation scores: cells of 4-5, the two variables'
    // groups of 20-60 and a grouping with single specimens and groups of 2-3
    // beside one of 50, all superimposed together.  Each grouping's sum, group
    // count and single count must be what it gets alone on the baseline
    // variant, bit for bit, whatever the order the groupings come in.
    std::vector<std::size_t> cell_sizes(24, 5);
    for (std::size_t g = 0; g < cell_sizes.size(); g += 5) cell_sizes[g] = 4;
    Codes cells = dealt_codes(cell_sizes);
    const std::size_t n = cells.size();
    const Matrix x = make_shapes(static_cast<int>(n), 26, 91, 0.2);
    const ShapeTable table(x);
    std::mt19937_64 rng(17);
    std::shuffle(cells.begin(), cells.end(), rng);
    Codes halves(n), thirds(n), mixed = dealt_codes({50, 1, 2, 3, 1, 3, 2, 13, 20, 20});
    for (std::size_t i = 0; i < n; ++i) {
        halves[i] = static_cast<double>(i % 2);
        thirds[i] = static_cast<double>((i * 7) % 3 == 0 ? 5 : (i % 5 == 1 ? 6 : 8));
    }
    ASSERT_EQ(mixed.size(), n);
    std::shuffle(mixed.begin(), mixed.end(), rng);
    WithinGroupsScratch one;
    EXPECT_EQ(within_group_ss_sum(table, mixed, one).singles, 2u);
    expect_each_its_own_sum(table, {&cells, &halves, &thirds, &mixed});
    // A grouping with fewer codes than specimens is refused, naming the counts.
    const Codes short_list(n - 1, 1.0);
    const std::vector<std::span<const double>> bad = {{cells.data(), n}, {short_list.data(), short_list.size()}};
    std::vector<WithinSum> out(2);
    WithinGroupsScratch scratch;
    EXPECT_THAT(error_of([&] { within_group_ss_sums(table, bad, scratch, out); }),
                HasSubstr("has " + std::to_string(n - 1) + " codes for " + std::to_string(n) + " specimens"));
}

TEST_F(KernelVariants, CellsBesideTheVariablesGroupsGiveEachItsOwnSumToTheLastBit) {
    // A permutation of a two-factor design of 54 specimens in cells of
    // 12-16: the shuffled cells, cells of one variable against the other
    // shuffled (sizes that vary), and each variable's two groups of 25-29.
    // The cells fill sets side by side; the variables' groups join the last
    // set or go on their own, as they cost least.
    const Codes cells = dealt_codes({16, 13, 12, 13});
    const std::size_t n = cells.size();
    Codes g1(n), g2(n);
    for (std::size_t i = 0; i < n; ++i) {
        g1[i] = cells[i] < 12 ? 1 : 2;                     // 29 and 25
        g2[i] = cells[i] == 10 || cells[i] == 12 ? 1 : 2;  // 28 and 26
    }
    const Matrix x = make_shapes(static_cast<int>(n), 26, 54, 0.2);
    const ShapeTable table(x);
    std::mt19937_64 rng(3);
    for (int shuffle = 0; shuffle < 3; ++shuffle) {
        Codes shuffled = cells, p1 = g1, p2 = g2, cells1(n), cells2(n);
        std::shuffle(shuffled.begin(), shuffled.end(), rng);
        std::shuffle(p1.begin(), p1.end(), rng);
        std::shuffle(p2.begin(), p2.end(), rng);
        for (std::size_t i = 0; i < n; ++i) {
            cells1[i] = 10 * g1[i] + p2[i];
            cells2[i] = 10 * p1[i] + g2[i];
        }
        expect_each_its_own_sum(table, {&shuffled, &cells1, &cells2, &p1, &p2});
        expect_each_its_own_sum(table, {&shuffled, &p1});  // the nested design's pair
    }
}

TEST(OneSweepFit, AgreesWithTheTwoSweepFormToOnePartIn1e12) {
    // The full fit takes the squared size in the fitting sweep, which may
    // move sums in their last bits only; checked on every example set.
    for (const char* name : {"plethodon", "mosquito", "larvalHead", "pupfish", "ratland"}) {
        const Matrix x = load_data(std::string(name) + ".lm.txt");
        const double one_sweep = whole_table_ss(x), two_sweeps = literal::ss(x, true);
        EXPECT_NEAR(one_sweep, two_sweeps, 1e-12 * two_sweeps) << name;
    }
}

}  // namespace
}  // namespace quillan::test
