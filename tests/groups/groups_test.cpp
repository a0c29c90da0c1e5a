#include "groups/groups.hpp"
#include "platform/error.hpp"
#include "shell/console.hpp"
#include "support/shapes.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>

using namespace quillan;
using namespace quillan::test;

namespace {

using Rows = std::vector<std::size_t>;

// The numbering of cells the plain way: for each element, the first earlier
// cell with both codes equal, else a new cell.
std::vector<double> cells_by_search(const Codes& a, const Codes& b) {
    std::vector<double> out;
    std::vector<std::pair<double, double>> cells;
    for (std::size_t i = 0; i < a.size(); ++i) {
        std::size_t j = 0;
        while (j < cells.size() && !(cells[j].first == a[i] && cells[j].second == b[i])) ++j;
        if (j == cells.size()) cells.emplace_back(a[i], b[i]);
        out.push_back(static_cast<double>(j + 1));
    }
    return out;
}

}  // namespace

TEST(SplitGroups, NumbersGroupsByFirstAppearanceNotByCode) {
    const Matrix data = random_table(5, 3, 20);
    const SplitGroups s = split_groups(data, {5, 2, 5, 7, 2}, {0.1, 0.2, 0.3, 0.4, 0.5});
    EXPECT_EQ(s.gcodes, (Codes{5, 2, 7}));
    EXPECT_EQ(s.ssize, (Rows{2, 2, 1}));
    ASSERT_EQ(s.d_ord.size(), 3u);
    EXPECT_EQ(s.d_ord[0], (Rows{1, 3}));
    EXPECT_EQ(s.d_ord[1], (Rows{2, 5}));
    EXPECT_EQ(s.d_ord[2], (Rows{4}));
    EXPECT_EQ(s.splitc[1], (std::vector<double>{0.2, 0.5}));
    ASSERT_EQ(s.dlist[1].rows(), 2);
    EXPECT_EQ(s.dlist[1].row(0), data.row(1));
    EXPECT_EQ(s.dlist[1].row(1), data.row(4));
    EXPECT_EQ(s.dlist[2].row(0), data.row(3));
}

TEST(SplitGroups, ComparesCodesExactlyAndNotANumberMatchesNothing) {
    const Matrix data = random_table(5, 3, 21);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const SplitGroups s = split_groups(data, {1.0, std::nextafter(1.0, 2.0), nan, 1.0, nan, 9, 9}, Codes(5, 0.0));
    ASSERT_EQ(s.gcodes.size(), 4u);
    EXPECT_EQ(s.ssize, (Rows{2, 1, 1, 1}));
    EXPECT_EQ(s.d_ord[0], (Rows{1, 4}));
    // One row: one group of one.
    const SplitGroups one = split_groups(data.topRows(1), {3}, {1});
    EXPECT_EQ(one.ssize, (Rows{1}));
    EXPECT_THROW(split_groups(data, {1, 2, 3}, Codes(5, 0.0)), QuillanError);
    EXPECT_THROW(split_groups(data, Codes(5, 1.0), {1}), QuillanError);
    EXPECT_THROW(split_groups(Matrix(0, 7), {1}, {1}), QuillanError);
}

TEST(UnsplitGroups, RestoresTheTableSplitByItsGroups) {
    const Matrix data = load_data("plethodon.lm.txt");
    const Matrix groups = load_data("plethodon.groups.txt");
    const Codes species = column_codes(groups, 0), site = column_codes(groups, 1);
    Codes cov(40);
    for (std::size_t i = 0; i < 40; ++i) cov[i] = static_cast<double>(i);
    const CombinedCode cells = combined_code(species, site);
    for (const Codes& codes : {species, site, cells.glistc}) {
        const SplitGroups s = split_groups(data, codes, cov);
        EXPECT_EQ(unsplit_groups(s.dlist, s.d_ord, s.gcodes.size()), data);
        std::vector<Matrix> c;
        for (const auto& v : s.splitc) c.push_back(Eigen::Map<const Matrix>(v.data(), static_cast<Eigen::Index>(v.size()), 1));
        const Matrix back = unsplit_groups(c, s.d_ord, s.gcodes.size());
        for (Eigen::Index i = 0; i < 40; ++i) EXPECT_EQ(back(i, 0), cov[static_cast<std::size_t>(i)]);
    }
}

TEST(UnsplitGroups, GrowsToTheLargestRowStoredAndRefusesMismatches) {
    const std::vector<Matrix> X = {matrix_from_rows({{1, 1}, {2, 2}}), matrix_from_rows({{3, 3}})};
    const Matrix y = unsplit_groups(X, {{4, 1}, {2}}, 2);
    EXPECT_EQ(y, matrix_from_rows({{2, 2}, {3, 3}, {0, 0}, {1, 1}}));
    // Only the first ngroups groups are stored.
    EXPECT_EQ(unsplit_groups(X, {{4, 1}, {2}}, 1).rows(), 4);
    EXPECT_EQ(unsplit_groups(X, {{1}, {3}}, 0).size(), 0);
    EXPECT_THROW(unsplit_groups(X, {{1, 2}, {3}}, 3), QuillanError);
    EXPECT_THROW(unsplit_groups(X, {{1, 2, 5}, {3}}, 2), QuillanError);
    EXPECT_THROW(unsplit_groups({X[0], matrix_from_rows({{3, 3, 3}})}, {{1, 2}, {3}}, 2), QuillanError);
}

TEST(CombinedCode, OneCellPerDistinctPairInOrderOfFirstAppearance) {
    const CombinedCode a = combined_code({1, 1, 2, 2}, {1, 2, 1, 2});
    EXPECT_EQ(a.glistc, (Codes{1, 2, 3, 4}));
    const CombinedCode b = combined_code({1, 1, 2, 2}, {3, 3, 3, 3});
    EXPECT_EQ(b.glistc, (Codes{1, 1, 2, 2}));
    EXPECT_EQ(b.ccode, matrix_from_rows({{1, 1, 3}, {2, 2, 3}}));
    const CombinedCode one = combined_code({7}, {8, 9});
    EXPECT_EQ(one.glistc, (Codes{1}));
    EXPECT_EQ(one.ccode, matrix_from_rows({{1, 7, 8}}));
    // Second code vector first seen in a different order.
    EXPECT_EQ(combined_code({2, 1, 2, 1}, {5, 5, 6, 5}).glistc, (Codes{1, 2, 3, 2}));
    EXPECT_THROW(combined_code({1, 2, 3}, {1, 2}), QuillanError);
    EXPECT_THROW(combined_code({}, {}), QuillanError);

    std::ostringstream out;
    Console console(out);
    combined_code({1, 1, 2, 2}, {1, 2, 1, 2}, &console);
    EXPECT_EQ(out.str(), "ccount = 4\n");
}

TEST(CombinedCode, FastFormNumbersLikeTheLinearSearchAndReusesItsBuffers) {
    // Few and many cells, the same buffers throughout; codes include 0 and
    // -0 (one code) and not-a-number (a cell of its own every time).
    std::mt19937_64 rng(5);
    CellScratch cells;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> glistc;
    for (int round = 0; round < 60; ++round) {
        const std::size_t m = round % 3 == 0 ? 2000 : 60;
        const int range = round % 2 == 0 ? 3 : 40;
        std::uniform_int_distribution<int> code(-range, range);
        Codes a(m), b(m);
        for (std::size_t i = 0; i < m; ++i) {
            a[i] = code(rng);
            b[i] = code(rng) * 0.5;
            if (a[i] == 0 && i % 2) a[i] = -0.0;
            if (round % 5 == 0 && i % 97 == 3) b[i] = nan;
        }
        glistc.assign(m, 0.0);
        const std::size_t n = combined_code(a, b, glistc, cells);
        ASSERT_EQ(glistc, cells_by_search(a, b)) << "round " << round;
        ASSERT_EQ(n, cells.cells());
        for (std::size_t i = 0; i < m; ++i) {
            const std::size_t cell = static_cast<std::size_t>(glistc[i]) - 1;
            ASSERT_EQ(cells.first(cell), a[i]);
        }
    }
}
