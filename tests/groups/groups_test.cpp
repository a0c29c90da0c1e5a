// Groups and cells numbered by first appearance, the tables split and put
// back by them, and each group scored on its own consensus.
#include "groups/groups.hpp"
#include "geometry/geometry.hpp"
#include "geometry/shape_table.hpp"
#include "groups/within_groups.hpp"
#include "platform/console.hpp"
#include "platform/error.hpp"
#include "support/fixtures.hpp"
#include "support/reference.hpp"
#include "support/shapes.hpp"
#include "support/text.hpp"
#include "window/operations.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <numeric>
#include <random>
#include <sstream>
#include <thread>

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

TEST(GroupNumbering, CellsAndGroupsNumberAsTheLinearSearchDoes) {
    // Whole-number codes over narrow and wide ranges (either side of the span
    // where the table gives way to the search), halves, negative codes, 0 and
    // -0 (one code) and not-a-number (a cell of its own every time), few and
    // many cells, over the same buffers round after round.
    std::mt19937_64 rng(11);
    CellScratch cells;
    Codes cell_list, gcodes;
    std::vector<std::size_t> ssize;
    std::vector<int> group_of;
    for (int round = 0; round < 60; ++round) {
        const std::size_t m = round % 4 == 0 ? 1000 : 30;
        const int wide = round % 3 == 0 ? 5000 : (round % 3 == 1 ? 40 : 2);
        const double step = round % 5 == 1 ? 0.5 : 1.0;
        const bool gaps = round % 5 == 0;
        std::uniform_int_distribution<int> code(-wide, wide);
        Codes a(m), b(m);
        for (std::size_t i = 0; i < m; ++i) {
            a[i] = code(rng) * step;
            b[i] = gaps && i % 97 == 3 ? kNaN : i % 7 == 3 ? -0.0 : (code(rng) % 4) * step;
        }
        cell_list.assign(m, 0.0);
        const std::size_t n = cell_codes(a, b, cell_list, cells);
        ASSERT_EQ(cell_list, cells_by_search(a, b)) << "round " << round;
        ASSERT_EQ(n, cells.cells());
        for (std::size_t i = 0; i < m; ++i) {
            const std::size_t c = static_cast<std::size_t>(cell_list[i]) - 1;
            ASSERT_EQ(cells.first(c), a[i]);
            if (!std::isnan(b[i])) ASSERT_EQ(cells.second(c), b[i]);
        }
        if (gaps) continue;
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

namespace {

struct Plethodon {
    Matrix data = load_data("plethodon.lm.txt");
    Matrix groups = load_data("plethodon.groups.txt");
    Codes species = column_codes(groups, 0);
    Codes site = column_codes(groups, 1);
    Codes cells = cell_codes(species, site).cell_list;
};

}  // namespace

TEST(WithinGroups, EachGroupIsScoredOnItsOwnConsensus) {
    const Plethodon p;
    const double total = whole_table_ss(p.data);
    for (const Codes& codes : {p.species, p.site, p.cells}) {
        const WithinGroups w = within_group_ss(p.data, codes);
        const SplitGroups s = split_by_group(p.data, codes, Codes(40, 0.0));
        EXPECT_EQ(w.gcodes, s.gcodes);
        EXPECT_EQ(w.ssize, s.ssize);
        EXPECT_TRUE(w.single_codes.empty());
        for (std::size_t g = 0; g < s.dlist.size(); ++g) {
            // The block's own total, to rounding, by the plain procedure and by the closed form.
            EXPECT_NEAR(w.wgsd[g], literal::ss(s.dlist[g]), 1e-13);
            const Consensus c = full_procrustes_consensus(s.dlist[g]);
            double closed = 0;
            for (Eigen::Index i = 0; i < s.dlist[g].rows(); ++i)
                closed += sin2_distance(s.dlist[g].row(i).data(), c.y.data(), 12);
            EXPECT_NEAR(w.wgsd[g], closed, 1e-13);
        }
        EXPECT_GT(w.total(), 0.0);
        EXPECT_LT(w.total(), total);
    }
    // One group scores exactly the total.
    const WithinGroups one = within_group_ss(p.data, Codes(40, 3.0));
    EXPECT_EQ(one.wgsd, std::vector<double>{total});
}

TEST(WithinGroups, SingleSpecimenGroupScoresZeroAndIsReported) {
    const Plethodon p;
    Codes codes = p.species;
    codes[6] = 99;
    codes[30] = 98;
    const WithinGroups w = within_group_ss(p.data, codes);
    ASSERT_EQ(w.gcodes, (Codes{1, 99, 2, 98}));
    EXPECT_EQ(w.ssize, (Rows{19, 1, 19, 1}));
    EXPECT_EQ(w.wgsd[1], 0.0);
    EXPECT_EQ(w.wgsd[3], 0.0);
    EXPECT_EQ(w.single_codes, (Codes{99, 98}));
    // The others are scored as without those two specimens.
    Matrix rest(38, 25);
    Codes rest_codes;
    for (Eigen::Index i = 0, r = 0; i < 40; ++i)
        if (i != 6 && i != 30) {
            rest.row(r++) = p.data.row(i);
            rest_codes.push_back(p.species[static_cast<std::size_t>(i)]);
        }
    const WithinGroups without = within_group_ss(rest, rest_codes);
    EXPECT_EQ(w.wgsd[0], without.wgsd[0]);
    EXPECT_EQ(w.wgsd[2], without.wgsd[1]);
    const ShapeTable t(p.data);
    WithinGroupsScratch scratch;
    const WithinSum s = within_group_ss_sum(t, codes, scratch);
    EXPECT_EQ(s.sum, w.total());
    EXPECT_EQ(s.groups, 4u);
    EXPECT_EQ(s.singles, 2u);
}

TEST(WithinGroups, TheSameGroupingAlwaysScoresTheSameBits) {
    const Plethodon p;
    const ShapeTable t(p.data);
    WithinGroupsScratch scratch;
    WithinGroups first, again;
    within_group_ss(t, p.cells, scratch, first);
    // After other groupings have used the buffers.
    Codes shuffled = p.cells;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937_64(1));
    within_group_ss(t, shuffled, scratch, again);
    within_group_ss(t, Codes(40, 1.0), scratch, again);
    within_group_ss(t, p.cells, scratch, again);
    EXPECT_EQ(again.wgsd, first.wgsd);
    // Codes relabelled (the same groups in the same first-appearance order).
    Codes relabelled = p.cells;
    for (double& c : relabelled) c = 1000.5 - 7 * c;
    EXPECT_EQ(within_group_ss_sum(t, relabelled, scratch).sum, first.total());
    // Through the identity row map and through the matrix form.
    std::vector<int> identity(40);
    std::iota(identity.begin(), identity.end(), 0);
    within_group_ss(t, p.cells, scratch, again, identity);
    EXPECT_EQ(again.wgsd, first.wgsd);
    EXPECT_EQ(within_group_ss(p.data, p.cells).wgsd, first.wgsd);
    // On two threads at once, each with its own buffers.
    std::vector<std::vector<double>> seen(2);
    std::vector<std::thread> threads;
    for (std::size_t th = 0; th < 2; ++th)
        threads.emplace_back([&, th] {
            WithinGroupsScratch own;
            WithinGroups out;
            for (int rep = 0; rep < 3; ++rep) within_group_ss(t, th == 0 ? p.cells : relabelled, own, out);
            seen[th] = out.wgsd;
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(seen[0], first.wgsd);
    EXPECT_EQ(seen[1], first.wgsd);
}

TEST(WithinGroups, RowMapScoresThePermutedTableWithCodesInPlace) {
    const Plethodon p;
    const ShapeTable t(p.data);
    WithinGroupsScratch scratch;
    WithinGroups w;
    std::vector<int> rp(40);
    std::iota(rp.begin(), rp.end(), 0);
    std::mt19937_64 rng(2);
    for (int round = 0; round < 3; ++round) {
        std::shuffle(rp.begin(), rp.end(), rng);
        Matrix permuted(40, 25);
        for (Eigen::Index j = 0; j < 40; ++j) permuted.row(j) = p.data.row(rp[static_cast<std::size_t>(j)]);
        within_group_ss(t, p.species, scratch, w, rp);
        EXPECT_EQ(w.wgsd, within_group_ss(permuted, p.species).wgsd);
    }
    rp[3] = 40;
    EXPECT_THROW(within_group_ss(t, p.species, scratch, w, rp), QuillanError);
    EXPECT_THROW(within_group_ss(t, Codes(39, 1.0), scratch, w), QuillanError);
}

TEST(NamedOperations, GeometryAndGroupsAreCallableByName) {
    Harness h;
    const OpTable table = build_op_table(h.shell);
    const Plethodon p;
    const Value data(p.data), codes(column_of(p.species));
    for (const char* name : {"centpos", "centsize", "standardsize", "getfullpsup", "fullpdist", "getconsensus",
                             "getconsensuspcafull", "split_groups", "unsplit_groups", "combined_code", "sq_d_wg"})
        EXPECT_NE(table.find(name), nullptr) << name;

    // The centroid of four points, the trailing value left out.
    EXPECT_EQ(table.call("centpos", {Value(matrix_from_rows({{0, 0, 2, 0, 1, 1, 0, 1, 42}}))}, 1)[0].matrix(),
              matrix_from_rows({{0.75, 0.5}}));
    const auto cons = table.call("getconsensuspcafull", {data}, 2);
    const Matrix d = table.call("fullpdist", {cons[0], cons[1]}, 1)[0].matrix();
    EXPECT_NEAR(d.col(0).squaredNorm(), whole_table_ss(p.data), 1e-13);

    const auto split = table.call("split_groups", {data, codes, Value(Matrix::Ones(40, 1).eval())}, 5);
    EXPECT_EQ(split[1].matrix(), matrix_from_rows({{1, 2}}));
    EXPECT_EQ(table.call("unsplit_groups", {split[0], split[4], Value(2.0)}, 1)[0].matrix(), p.data);

    Codes singles = p.species;
    singles[0] = 7;
    const auto w = table.call("sq_d_wg", {data, Value(column_of(singles))}, 3);
    EXPECT_EQ(w[0].matrix()(0, 0), 0.0);
    EXPECT_EQ(w[2].matrix(), matrix_from_rows({{1, 19, 20}}));
    EXPECT_THAT(h.console_text.str(), HasSubstr("code 7 has a single specimen")) << h.console_text.str();
    EXPECT_EQ(table.call("combined_code", {codes, Value(column_of(p.site))}, 2)[1].matrix().rows(), 4);
    EXPECT_THAT(h.console_text.str(), HasSubstr("ccount = 4"));
    EXPECT_THROW(table.call("sq_d_wg", {data, codes}, 4), QuillanError);
}

// The permutation loops promise not to allocate once their buffers have
// grown: after a first call of a given size, scoring a grouping and coding
// the cells of two variables allocate nothing.  Every operator new of this
// test program is counted (the scoring buffers are standard containers), and
// the count must not move across further calls of the same size.
#define QUILLAN_COUNTS_ALLOCATIONS (!QUILLAN_TEST_UNDER_ASAN)

#if QUILLAN_COUNTS_ALLOCATIONS
// Under AddressSanitizer the sanitizer owns operator new, so the count is
// kept only in the ordinary build.
namespace {
std::atomic<long long> g_allocations{0};

void* counted_allocation(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return counted_allocation(size); }
void* operator new[](std::size_t size) { return counted_allocation(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace {

long long allocations() {
#if QUILLAN_COUNTS_ALLOCATIONS
    return g_allocations.load();
#else
    return 0;
#endif
}

// Shuffled copies of a code vector, made before counting starts.
std::vector<Codes> shuffles(const Codes& codes, int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<Codes> out(static_cast<std::size_t>(n), codes);
    for (auto& c : out) std::shuffle(c.begin(), c.end(), rng);
    return out;
}

}  // namespace

TEST(NoAllocation, ScoringAGroupingAfterTheFirstCallAllocatesNothing) {
    if (!QUILLAN_COUNTS_ALLOCATIONS) GTEST_SKIP() << "operator new belongs to the sanitizer in this build";
    const Matrix data = make_shapes(60, 9, 5);
    const ShapeTable table(data);
    Codes codes(60);
    for (std::size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<double>(i % 4 + 1);
    const std::vector<Codes> shuffled = shuffles(codes, 20, 3);
    WithinGroupsScratch scratch;
    WithinGroups full;
    within_group_ss(table, codes, scratch, full);
    within_group_ss_sum(table, codes, scratch);
    // Several groupings together, as a permutation of two variables scores them.
    Codes halves(60);
    for (std::size_t i = 0; i < halves.size(); ++i) halves[i] = static_cast<double>(i % 2);
    std::vector<std::span<const double>> two = {{codes.data(), 60}, {halves.data(), 60}};
    std::vector<WithinSum> sums(2);
    within_group_ss_sums(table, two, scratch, sums);

    const long long before = allocations();
    double total = 0;
    for (const Codes& c : shuffled) {
        within_group_ss(table, c, scratch, full);
        total += within_group_ss_sum(table, c, scratch).sum;
        two[0] = std::span<const double>(c.data(), c.size());
        within_group_ss_sums(table, two, scratch, sums);
        total += sums[0].sum + sums[1].sum;
    }
    EXPECT_EQ(allocations(), before);
    EXPECT_GT(total, 0);
}

TEST(NoAllocation, CodingTheCellsOfTwoVariablesAfterTheFirstCallAllocatesNothing) {
    if (!QUILLAN_COUNTS_ALLOCATIONS) GTEST_SKIP() << "operator new belongs to the sanitizer in this build";
    // Enough cells for the hashed look-up as well as the linear one.
    for (int levels : {2, 9}) {
        Codes a(200), b(200);
        for (std::size_t i = 0; i < a.size(); ++i) {
            a[i] = static_cast<double>(i % static_cast<std::size_t>(levels));
            b[i] = static_cast<double>((i / 3) % 5);
        }
        const std::vector<Codes> shuffled = shuffles(b, 20, 11);
        Codes cell_list(200);
        CellScratch cells;
        cell_codes(a, b, cell_list, cells);

        const long long before = allocations();
        std::size_t n = 0;
        for (const Codes& c : shuffled) n += cell_codes(a, c, cell_list, cells);
        EXPECT_EQ(allocations(), before) << levels << " levels";
        EXPECT_GE(n, 20u * static_cast<std::size_t>(levels));
    }
}

TEST(NoAllocation, TheCounterSeesAnAllocation) {
    if (!QUILLAN_COUNTS_ALLOCATIONS) GTEST_SKIP() << "operator new belongs to the sanitizer in this build";
    const long long before = allocations();
    auto* v = new std::vector<double>(100);
    EXPECT_GE(allocations(), before + 2);
    delete v;
}
