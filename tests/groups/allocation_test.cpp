// The permutation loops promise not to allocate once their buffers have
// grown: after a first call of a given size, scoring a grouping and coding
// the cells of two variables allocate nothing.  Every operator new of this
// test program is counted (the scoring buffers are standard containers), and
// the count must not move across further calls of the same size.
#include "geometry/shape_table.hpp"
#include "groups/groups.hpp"
#include "groups/within_groups.hpp"
#include "support/shapes.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <random>

#if defined(__SANITIZE_ADDRESS__)
#define QUILLAN_COUNTS_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLAN_COUNTS_ALLOCATIONS 0
#endif
#endif
#ifndef QUILLAN_COUNTS_ALLOCATIONS
#define QUILLAN_COUNTS_ALLOCATIONS 1
#endif

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

using namespace quillan;
using namespace quillan::test;

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
