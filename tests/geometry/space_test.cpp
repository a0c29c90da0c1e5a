// The full Procrustes superimposition of landmarks in space, held against the
// numbers R's shapes package gives for two of its real 3-D sets
// (tests/expected/shapes3d, written by make-expected.R there, which also
// wrote data/macaques.* and data/brains.*), and against the properties any
// such superimposition must have.
#include "geometry/geometry.hpp"
#include "geometry/kernel_dispatch.hpp"
#include "geometry/shape_table.hpp"
#include "groups/within_groups.hpp"
#include "support/fixtures.hpp"
#include "support/shapes.hpp"
#include "support/text.hpp"

#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

using namespace quillan;
using namespace quillan::test;

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
