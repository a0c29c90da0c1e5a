#include "groups/groups.hpp"
#include "platform/console.hpp"
#include "platform/error.hpp"
#include "support/shapes.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <sstream>

using namespace quillan;
using namespace quillan::test;

namespace {

using Rows = std::vector<std::size_t>;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Cell numbers the plain way: the first earlier cell with both codes equal,
// else a new one.
Codes cells_by_search(const Codes& a, const Codes& b) {
    Codes out;
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

TEST(SplitGroups, NumbersGroupsByFirstAppearanceAndComparesCodesExactly) {
    const Matrix data = make_shapes(7, 3, 20);
    const SplitGroups s = split_by_group(data, {5, 2, 5, 7, 2, 9, 9, 1}, {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7});
    EXPECT_EQ(s.gcodes, (Codes{5, 2, 7, 9}));
    EXPECT_EQ(s.ssize, (Rows{2, 2, 1, 2}));
    EXPECT_EQ(s.d_ord, (std::vector<Rows>{{1, 3}, {2, 5}, {4}, {6, 7}}));
    EXPECT_EQ(s.splitc[1], (std::vector<double>{0.2, 0.5}));
    EXPECT_EQ(s.dlist[1].row(1), data.row(4));
    EXPECT_EQ(s.dlist[2].row(0), data.row(3));
    // No tolerance; not-a-number equals nothing.
    const SplitGroups t = split_by_group(data, {1.0, std::nextafter(1.0, 2.0), kNaN, 1.0, kNaN, 0.0, -0.0}, Codes(7, 0));
    EXPECT_EQ(t.ssize, (Rows{2, 1, 1, 1, 2}));
    EXPECT_THROW(split_by_group(data, {1, 2, 3}, Codes(7, 0.0)), QuillanError);
    EXPECT_THROW(split_by_group(data, Codes(7, 1.0), {1}), QuillanError);
}

TEST(UnsplitGroups, RestoresTheTableSplitByItsGroups) {
    const Matrix data = load_data("plethodon.lm.txt");
    const Matrix groups = load_data("plethodon.groups.txt");
    Codes cov(40);
    for (std::size_t i = 0; i < 40; ++i) cov[i] = static_cast<double>(i);
    const Codes cells = cell_codes(column_codes(groups, 0), column_codes(groups, 1)).cell_list;
    for (const Codes& codes : {column_codes(groups, 0), cells}) {
        const SplitGroups s = split_by_group(data, codes, cov);
        EXPECT_EQ(unsplit_by_group(s.dlist, s.d_ord, s.gcodes.size()), data);
        std::vector<Matrix> c;
        for (const auto& v : s.splitc) c.push_back(Eigen::Map<const Matrix>(v.data(), static_cast<Eigen::Index>(v.size()), 1));
        EXPECT_EQ(unsplit_by_group(c, s.d_ord, s.gcodes.size()), Eigen::Map<const Matrix>(cov.data(), 40, 1));
    }
    // Grows to the largest row stored; rows never stored stay zero.
    const std::vector<Matrix> X = {matrix_from_rows({{1, 1}, {2, 2}}), matrix_from_rows({{3, 3}})};
    EXPECT_EQ(unsplit_by_group(X, {{4, 1}, {2}}, 2), matrix_from_rows({{2, 2}, {3, 3}, {0, 0}, {1, 1}}));
    EXPECT_THROW(unsplit_by_group(X, {{1, 2}, {3}}, 3), QuillanError);
    EXPECT_THROW(unsplit_by_group(X, {{1, 2, 5}, {3}}, 2), QuillanError);
    EXPECT_THROW(unsplit_by_group({X[0], matrix_from_rows({{3, 3, 3}})}, {{1, 2}, {3}}, 2), QuillanError);
}

TEST(CombinedCode, OneCellPerDistinctPairInOrderOfFirstAppearance) {
    EXPECT_EQ(cell_codes({1, 1, 2, 2}, {1, 2, 1, 2}).cell_list, (Codes{1, 2, 3, 4}));
    const CombinedCode b = cell_codes({1, 1, 2, 2}, {3, 3, 3, 3});
    EXPECT_EQ(b.cell_list, (Codes{1, 1, 2, 2}));
    EXPECT_EQ(b.ccode, matrix_from_rows({{1, 1, 3}, {2, 2, 3}}));
    EXPECT_EQ(cell_codes({7}, {8, 9}).ccode, matrix_from_rows({{1, 7, 8}}));
    EXPECT_THROW(cell_codes({1, 2, 3}, {1, 2}), QuillanError);
    std::ostringstream out;
    Console console(out);
    cell_codes({1, 1, 2, 2}, {1, 2, 1, 2}, &console);
    EXPECT_EQ(out.str(), "ccount = 4\n");
}

TEST(CombinedCode, FastFormNumbersLikeTheLinearSearch) {
    // Few and many cells through the same buffers; 0 and -0 are one code,
    // not-a-number is a cell of its own every time.
    std::mt19937_64 rng(5);
    CellScratch cells;
    Codes cell_list;
    for (int round = 0; round < 60; ++round) {
        const std::size_t m = round % 3 == 0 ? 2000 : 60;
        std::uniform_int_distribution<int> code(-(round % 2 ? 40 : 3), round % 2 ? 40 : 3);
        Codes a(m), b(m);
        for (std::size_t i = 0; i < m; ++i) {
            a[i] = code(rng) * (i % 2 ? 1.0 : -1.0);
            b[i] = round % 5 == 0 && i % 97 == 3 ? kNaN : code(rng) * 0.5;
        }
        cell_list.assign(m, 0.0);
        const std::size_t n = cell_codes(a, b, cell_list, cells);
        ASSERT_EQ(cell_list, cells_by_search(a, b)) << "round " << round;
        ASSERT_EQ(n, cells.cells());
        for (std::size_t i = 0; i < m; ++i) ASSERT_EQ(cells.first(static_cast<std::size_t>(cell_list[i]) - 1), a[i]);
    }
}

TEST(GroupNumbering, WholeNumberCodesNumberAsTheSearchDoes) {
    // Whole-number codes, narrow and wide ranges (either side of the span
    // where the table gives way to the search), negative codes and 0 / -0,
    // over the same buffers round after round.
    std::mt19937_64 rng(11);
    CellScratch cells;
    Codes cell_list, gcodes;
    std::vector<std::size_t> ssize;
    std::vector<int> group_of;
    for (int round = 0; round < 40; ++round) {
        const std::size_t m = round % 4 == 0 ? 1000 : 30;
        const int wide = round % 3 == 0 ? 5000 : (round % 3 == 1 ? 40 : 2);
        std::uniform_int_distribution<int> code(-wide, wide);
        Codes a(m), b(m);
        for (std::size_t i = 0; i < m; ++i) {
            a[i] = code(rng);
            b[i] = i % 7 == 3 ? -0.0 : code(rng) % 4;
        }
        cell_list.assign(m, 0.0);
        cell_codes(a, b, cell_list, cells);
        ASSERT_EQ(cell_list, cells_by_search(a, b)) << "round " << round;
        for (std::size_t i = 0; i < m; ++i) {
            const std::size_t c = static_cast<std::size_t>(cell_list[i]) - 1;
            ASSERT_EQ(cells.first(c), a[i]);
            ASSERT_EQ(cells.second(c), b[i]);
        }
        group_of.assign(m, -1);
        number_groups(b, group_of, gcodes, ssize);
        const Codes by_search = cells_by_search(b, Codes(m, 0.0));
        for (std::size_t i = 0; i < m; ++i) ASSERT_EQ(group_of[i] + 1, by_search[i]) << "round " << round;
        // The code kept for a group is its first element's, sign of zero included.
        for (std::size_t g = 0; g < gcodes.size(); ++g) {
            const std::size_t first =
                static_cast<std::size_t>(std::find(group_of.begin(), group_of.end(), int(g)) - group_of.begin());
            ASSERT_EQ(std::signbit(gcodes[g]), std::signbit(b[first]));
        }
    }
}
