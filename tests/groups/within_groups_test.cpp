#include "groups/within_groups.hpp"
#include "byname/operations.hpp"
#include "geometry/geometry.hpp"
#include "geometry/shape_table.hpp"
#include "groups/groups.hpp"
#include "platform/error.hpp"
#include "support/fixtures.hpp"
#include "support/reference.hpp"
#include "support/shapes.hpp"
#include "support/text.hpp"

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

TEST(WithinGroups, GroupsOfSimilarShapesScoreZeroInFirstAppearanceOrder) {
    const Matrix base = make_shapes(2, 6, 30, 0.5);
    Matrix data(4, 13);
    data << base, similar(base.topRows(1), 2.0, 0.1, 4, 4), similar(base.bottomRows(1), -1.0, 30, -4, 4);
    const WithinGroups w = within_group_ss(data, {2, 1, 2, 1});
    EXPECT_EQ(w.gcodes, (Codes{2, 1}));
    EXPECT_NEAR(w.wgsd[0], 0.0, 1e-14);
    EXPECT_NEAR(w.wgsd[1], 0.0, 1e-14);
    EXPECT_GT(within_group_ss(data, {1, 1, 2, 2}).total(), 0.01);
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
