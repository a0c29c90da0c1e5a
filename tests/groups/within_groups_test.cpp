#include "geometry/geometry.hpp"
#include "geometry/shape_table.hpp"
#include "groups/groups.hpp"
#include "groups/within_groups.hpp"
#include "platform/error.hpp"
#include "platform/optable.hpp"
#include "platform/memory_gui.hpp"
#include "shell/operations.hpp"
#include "support/shapes.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <sstream>
#include <thread>

using namespace quillan;
using namespace quillan::test;

namespace {

using Rows = std::vector<std::size_t>;

// Within-group sums the long way: split the table, and for each group of two
// or more take the consensus, the distances and their squares.
std::vector<double> by_blocks(const Matrix& data, const Codes& codes) {
    const SplitGroups s = split_groups(data, codes, Codes(codes.size(), 0.0));
    std::vector<double> out;
    for (const Matrix& block : s.dlist) {
        if (block.rows() < 2) {
            out.push_back(0.0);
            continue;
        }
        const Consensus c = getconsensuspcafull(block);
        const Matrix p = fullpdist(c.y, c.xpt);
        double sum = 0;
        for (Eigen::Index i = 0; i < p.rows(); ++i) sum += p(i, 0) * p(i, 0);
        out.push_back(sum);
    }
    return out;
}

struct Plethodon {
    Matrix data = load_data("plethodon.lm.txt");
    Matrix groups = load_data("plethodon.groups.txt");
    Codes species = column_codes(groups, 0);
    Codes site = column_codes(groups, 1);
};

}  // namespace

TEST(WithinGroups, EachGroupIsScoredOnItsOwnConsensus) {
    const Plethodon p;
    const CombinedCode cells = combined_code(p.species, p.site);
    for (const Codes& codes : {p.species, p.site, cells.glistc}) {
        const WithinGroups w = sq_d_wg(p.data, codes);
        EXPECT_EQ(w.wgsd, by_blocks(p.data, codes));
        const SplitGroups s = split_groups(p.data, codes, Codes(40, 0.0));
        EXPECT_EQ(w.gcodes, s.gcodes);
        EXPECT_EQ(w.ssize, s.ssize);
        EXPECT_TRUE(w.single_codes.empty());
        // Against the closed form, for each group from its own consensus.
        for (std::size_t g = 0; g < s.dlist.size(); ++g) {
            const Consensus c = getconsensuspcafull(s.dlist[g]);
            double closed = 0;
            for (Eigen::Index i = 0; i < s.dlist[g].rows(); ++i)
                closed += sin2_distance(s.dlist[g].row(i).data(), c.y.data(), 12);
            EXPECT_NEAR(w.wgsd[g], closed, 1e-13);
        }
        // A grouping explains part of the total, never more.
        EXPECT_LT(w.total(), tssd(p.data));
        EXPECT_GT(w.total(), 0.0);
    }
}

TEST(WithinGroups, OneGroupScoresExactlyTheTotal) {
    const Plethodon p;
    const WithinGroups w = sq_d_wg(p.data, Codes(40, 3.0));
    ASSERT_EQ(w.wgsd.size(), 1u);
    EXPECT_EQ(w.wgsd[0], tssd(p.data));
    EXPECT_EQ(w.ssize, (Rows{40}));
}

TEST(WithinGroups, GroupsOfSimilarShapesScoreZeroInFirstAppearanceOrder) {
    // Two shapes, each repeated at different positions, sizes and angles.
    const Matrix base = random_table(2, 6, 30, 0.5);
    Matrix data(4, 13);
    data.row(0) = base.row(0);
    data.row(1) = base.row(1);
    data.row(2) = similar(base.topRows(1), 2.0, 0.1, 4, 4).row(0);
    data.row(3) = similar(base.bottomRows(1), -1.0, 30, -4, 4).row(0);
    const WithinGroups w = sq_d_wg(data, {2, 1, 2, 1});
    EXPECT_EQ(w.gcodes, (Codes{2, 1}));
    ASSERT_EQ(w.wgsd.size(), 2u);
    EXPECT_NEAR(w.wgsd[0], 0.0, 1e-14);
    EXPECT_NEAR(w.wgsd[1], 0.0, 1e-14);
    EXPECT_GT(sq_d_wg(data, {1, 1, 2, 2}).total(), 0.01);
}

TEST(WithinGroups, SingleSpecimenGroupScoresZeroAndIsReported) {
    const Plethodon p;
    Codes codes = p.species;
    codes[6] = 99;   // a group of its own, between the others
    codes[30] = 98;
    const WithinGroups w = sq_d_wg(p.data, codes);
    ASSERT_EQ(w.gcodes, (Codes{1, 99, 2, 98}));
    EXPECT_EQ(w.ssize, (Rows{19, 1, 19, 1}));
    EXPECT_EQ(w.wgsd[1], 0.0);
    EXPECT_EQ(w.wgsd[3], 0.0);
    EXPECT_EQ(w.single_codes, (Codes{99, 98}));
    // The other groups are scored as without those two specimens.
    Matrix rest(38, 25);
    Codes rest_codes;
    for (Eigen::Index i = 0, r = 0; i < 40; ++i)
        if (i != 6 && i != 30) {
            rest.row(r++) = p.data.row(i);
            rest_codes.push_back(p.species[static_cast<std::size_t>(i)]);
        }
    const WithinGroups without = sq_d_wg(rest, rest_codes);
    EXPECT_EQ(w.wgsd[0], without.wgsd[0]);
    EXPECT_EQ(w.wgsd[2], without.wgsd[1]);

    ShapeTable t(p.data);
    Scratch scratch;
    const WithinSum s = sq_d_wg_sum(t, codes, scratch);
    EXPECT_EQ(s.sum, w.total());
    EXPECT_EQ(s.groups, 4u);
    EXPECT_EQ(s.singles, 2u);
}

TEST(WithinGroups, TheSameGroupingAlwaysScoresTheSameBits) {
    const Plethodon p;
    const ShapeTable t(p.data);
    const CombinedCode cells = combined_code(p.species, p.site);
    Scratch scratch;
    WithinGroups first, again;
    sq_d_wg(t, cells.glistc, scratch, first);

    // After other groupings have used the buffers.
    Codes shuffled = cells.glistc;
    std::mt19937_64 rng(1);
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    sq_d_wg(t, shuffled, scratch, again);
    sq_d_wg(t, Codes(40, 1.0), scratch, again);
    sq_d_wg(t, cells.glistc, scratch, again);
    EXPECT_EQ(again.wgsd, first.wgsd);

    // Codes relabelled (same groups, same first appearance).
    Codes relabelled = cells.glistc;
    for (double& c : relabelled) c = 1000.5 - 7 * c;
    sq_d_wg(t, relabelled, scratch, again);
    EXPECT_EQ(again.wgsd, first.wgsd);
    EXPECT_EQ(sq_d_wg_sum(t, relabelled, scratch).sum, first.total());

    // Through the identity row map.
    std::vector<int> identity(40);
    std::iota(identity.begin(), identity.end(), 0);
    sq_d_wg(t, cells.glistc, scratch, again, identity);
    EXPECT_EQ(again.wgsd, first.wgsd);

    // Through the matrix form, and on other threads with their own buffers.
    EXPECT_EQ(sq_d_wg(p.data, cells.glistc).wgsd, first.wgsd);
    std::vector<std::vector<double>> seen(2);
    std::vector<std::thread> threads;
    for (int th = 0; th < 2; ++th)
        threads.emplace_back([&, th] {
            Scratch own;
            WithinGroups out;
            for (int rep = 0; rep < 3; ++rep) sq_d_wg(t, th == 0 ? cells.glistc : relabelled, own, out);
            seen[static_cast<std::size_t>(th)] = out.wgsd;
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(seen[0], first.wgsd);
    EXPECT_EQ(seen[1], first.wgsd);
}

TEST(WithinGroups, RowMapScoresThePermutedTableWithCodesInPlace) {
    const Plethodon p;
    const ShapeTable t(p.data);
    Scratch scratch;
    std::mt19937_64 rng(2);
    std::vector<int> rp(40);
    std::iota(rp.begin(), rp.end(), 0);
    for (int round = 0; round < 3; ++round) {
        std::shuffle(rp.begin(), rp.end(), rng);
        Matrix permuted(40, 25);
        for (Eigen::Index j = 0; j < 40; ++j) permuted.row(j) = p.data.row(rp[static_cast<std::size_t>(j)]);
        WithinGroups w;
        sq_d_wg(t, p.species, scratch, w, rp);
        EXPECT_EQ(w.wgsd, sq_d_wg(permuted, p.species).wgsd);
        EXPECT_EQ(w.gcodes, (Codes{1, 2}));
    }
    std::vector<int> bad(40, 0);
    bad[3] = 40;
    WithinGroups w;
    EXPECT_THROW(sq_d_wg(t, p.species, scratch, w, bad), QuillanError);
    EXPECT_THROW(sq_d_wg(t, Codes(39, 1.0), scratch, w), QuillanError);
    EXPECT_THROW(sq_d_wg(t, p.species, scratch, w, std::vector<int>(39, 0)), QuillanError);
}

TEST(NamedOperations, GeometryAndGroupsAreCallableByNameWithTheirCounts) {
    MemoryGui gui;
    std::ostringstream out;
    Console console(out);
    Shell shell(gui, console);
    const OpTable table = build_op_table(shell);
    const Plethodon p;
    for (const char* name : {"centpos", "centsize", "standardsize", "getfullpsup", "fullpdist", "getconsensus",
                             "getconsensuspcafull", "split_groups", "unsplit_groups", "combined_code", "sq_d_wg"})
        EXPECT_NE(table.find(name), nullptr) << name;

    const Value data(p.data), codes(column_of(p.species));
    const auto cons = table.call("getconsensuspcafull", {data}, 2);
    ASSERT_EQ(cons.size(), 2u);
    const auto dist = table.call("fullpdist", {cons[0], cons[1]}, 1);
    double sum = 0;
    for (Eigen::Index i = 0; i < 40; ++i) sum += dist[0].matrix()(i, 0) * dist[0].matrix()(i, 0);
    EXPECT_EQ(sum, tssd(p.data));

    Matrix cov(40, 1);
    cov.setConstant(1.0);
    const auto split = table.call("split_groups", {data, codes, Value(cov)}, 5);
    ASSERT_EQ(split.size(), 5u);
    EXPECT_EQ(split[1].matrix(), matrix_from_rows({{1, 2}}));
    const auto back = table.call("unsplit_groups", {split[0], split[4], Value(2.0)}, 1);
    EXPECT_EQ(back[0].matrix(), p.data);

    Codes singles = p.species;
    singles[0] = 7;
    const auto w = table.call("sq_d_wg", {data, Value(column_of(singles))}, 3);
    EXPECT_EQ(w[0].matrix()(0, 0), 0.0);
    EXPECT_EQ(w[2].matrix(), matrix_from_rows({{1, 19, 20}}));
    EXPECT_NE(out.str().find("code 7 has a single specimen"), std::string::npos) << out.str();

    EXPECT_THROW(table.call("sq_d_wg", {data, codes}, 4), QuillanError);
    EXPECT_THROW(table.call("centsize", {data, data}, 1), QuillanError);
    const auto cc = table.call("combined_code", {codes, Value(column_of(p.site))}, 2);
    EXPECT_EQ(cc[1].matrix().rows(), 4);
    EXPECT_NE(out.str().find("ccount = 4"), std::string::npos);
}
