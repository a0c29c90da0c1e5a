// Every kernel variant the processor has must give the numbers of the
// baseline variant to the last bit.  Tables of 1 to 19 rows put every tile
// width through full tiles, a partial last tile and single-row groups.
#include "geometry/geometry.hpp"
#include "geometry/kernel_dispatch.hpp"
#include "geometry/shape_table.hpp"
#include "groups/within_groups.hpp"
#include "platform/error.hpp"
#include "support/reference.hpp"
#include "support/shapes.hpp"
#include "support/text.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>

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

TEST_F(KernelVariants, TheMeasuredChoiceIsAWideKernelThisProcessorRunsAndStaysTheSame) {
    // The choice between AVX2 and AVX-512 is timed once; it must name a
    // kernel the processor has, the widest but one at worst, and never
    // change within a run (reports do not depend on it, diagnostics might).
    const KernelVariant best = best_kernel();
    EXPECT_TRUE(kernel_available(best)) << kernel_name(best);
    if (kernel_available(KernelVariant::Avx2)) {
        EXPECT_NE(best, KernelVariant::Baseline);
    }
    if (!kernel_available(KernelVariant::Avx2) && kernel_available(KernelVariant::Avx512)) {
        EXPECT_EQ(best, KernelVariant::Avx512);
    }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(best_kernel(), best);
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
