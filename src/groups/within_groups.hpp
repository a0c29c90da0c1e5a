// Within-group sums of squared full Procrustes distances, `within_group_ss`: the
// unexplained part of the shape variation under a grouping, which every
// grouping test scores once for the observed grouping and once per
// permutation.  Splitting the total sum of squared distances into within-
// and between-group parts and judging it by permutation is the method of:
// M. J. Anderson, "A new method for non-parametric multivariate analysis of
// variance", Austral Ecology 26 (2001) 32-46, here with full Procrustes
// distances in the tangent space at each group's consensus (Dryden and
// Mardia, "Statistical Shape Analysis", Wiley, 1998).
//
// Each group is superimposed on its own consensus (full_procrustes_consensus of the
// group's rows, then full_procrustes_distances), and its entry is the sum of its rows'
// squared distances.  Groups are numbered by first occurrence of their code
// (as split_by_group numbers them) and a group's rows are taken in the order
// of their positions in the code vector.
//
// A group of a single specimen lies on its own consensus: its entry is
// exactly 0.  Nothing is shown or waited for here; the codes of such groups
// are returned (WithinGroups::single_codes, WithinSum::singles) so that the
// analysis can tell the user once per action.
//
// Threads: a ShapeTable may be shared; each thread needs its own WithinGroupsScratch.
// Results are reproducible to the last bit: the same rows in the same groups
// in the same order give the same sums, whatever the codes' values, the
// thread or what the WithinGroupsScratch was used for before.  The same rows in another
// order (a row map that moves specimens within a group) agree only to within
// the consensus tolerance, since each consensus starts from its group's
// first row.
#pragma once

#include "geometry/shape_table.hpp"
#include "platform/value.hpp"

#include <cstddef>
#include <span>
#include <vector>

namespace quillan {

struct WithinGroups {
    std::vector<double> wgsd;        // per group, in the order of gcodes
    Codes gcodes;                    // distinct codes, first occurrence first
    std::vector<std::size_t> ssize;  // rows per group
    Codes single_codes;              // codes of the groups of one specimen (their wgsd entry is 0)

    // Sum of wgsd, added from the first group to the last: the unexplained
    // sum of squares.
    double total() const;
};

// What the permutation loops need of a scoring: `sum` is exactly
// WithinGroups::total() of the same call.
struct WithinSum {
    double sum = 0.0;         // sum of wgsd, first group to last
    std::size_t groups = 0;   // number of groups
    std::size_t singles = 0;  // number of groups of one specimen
};

// Reusable buffers of one thread.  The contents mean nothing between calls;
// after a first call of a given size no call allocates.
class WithinGroupsScratch {
public:
    WithinGroupsScratch() = default;

    // The geometry buffers; `work().passes` counts consensus passes.
    ShapeScratch& work() { return work_; }

private:
    friend void within_group_ss(const ShapeTable&, std::span<const double>, WithinGroupsScratch&, WithinGroups&,
                                std::span<const int>);
    friend WithinSum within_group_ss_sum(const ShapeTable&, std::span<const double>, WithinGroupsScratch&, std::span<const int>);
    friend void within_group_ss_sums(const ShapeTable&, std::span<const std::span<const double>>, WithinGroupsScratch&,
                                     std::span<WithinSum>);
    ShapeScratch work_;
    std::vector<int> group_of_;
    std::vector<std::size_t> start_;
    std::vector<std::size_t> fill_;
    std::vector<int> members_;
    std::vector<std::size_t> sizes_;  // every grouping's groups, one after another (within_group_ss_sums)
    std::vector<double> ss_;
    WithinGroups result_;
};

// Scores a grouping of the rows of `table`.  codes[i] is the code of position
// i, for positions 0 .. table.rows()-1 (further codes are ignored).  Without
// `row_of`, position i is table row i; with it, position i uses table row
// row_of[i] (0-based) while the codes stay in place: this is how a test that
// permutes specimens instead of codes scores its permuted table.  `out` is
// overwritten, reusing its capacity.  Throws QuillanError when codes or row_of
// are shorter than the table, a row index is out of range, or a group's
// consensus cannot be computed.
void within_group_ss(const ShapeTable& table, std::span<const double> codes, WithinGroupsScratch& scratch, WithinGroups& out,
                     std::span<const int> row_of = {});

// The same, keeping only what the permutation loops need (see below).
WithinSum within_group_ss_sum(const ShapeTable& table, std::span<const double> codes, WithinGroupsScratch& scratch,
                              std::span<const int> row_of = {});

// within_group_ss_sum of several groupings of the same table at once:
// out[c] is what within_group_ss_sum(table, groupings[c], scratch) gives, to
// the last bit.  The groups of all the groupings are superimposed together,
// so small groups of different groupings share the vector lanes of one sweep
// (a permutation scores several groupings, each of a few groups).  When a
// group's consensus cannot be computed, the error is that of the first such
// group of the first grouping that has one.
void within_group_ss_sums(const ShapeTable& table, std::span<const std::span<const double>> groupings,
                          WithinGroupsScratch& scratch, std::span<WithinSum> out);

// within_group_ss(data, glist) for single calls: checks and prepares the table
// (see ShapeTable), then scores it.
WithinGroups within_group_ss(const Matrix& data, const Codes& glist);

}  // namespace quillan
