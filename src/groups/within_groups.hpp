// Within-group sums of squared full Procrustes distances, `sq_d_wg`: the
// unexplained part of the shape variation under a grouping, which every
// grouping test scores once for the observed grouping and once per
// permutation.
//
// Each group is superimposed on its own consensus (getconsensuspcafull of the
// group's rows, then fullpdist), and its entry is the sum of its rows'
// squared distances.  Groups are numbered by first occurrence of their code
// (as split_groups numbers them) and a group's rows are taken in the order
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
    friend void sq_d_wg(const ShapeTable&, std::span<const double>, WithinGroupsScratch&, WithinGroups&, std::span<const int>);
    friend WithinSum sq_d_wg_sum(const ShapeTable&, std::span<const double>, WithinGroupsScratch&, std::span<const int>);
    ShapeScratch work_;
    std::vector<int> group_of_;
    std::vector<std::size_t> start_;
    std::vector<std::size_t> fill_;
    std::vector<int> members_;
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
void sq_d_wg(const ShapeTable& table, std::span<const double> codes, WithinGroupsScratch& scratch, WithinGroups& out,
             std::span<const int> row_of = {});

// The same, keeping only what the permutation loops need (see below).
WithinSum sq_d_wg_sum(const ShapeTable& table, std::span<const double> codes, WithinGroupsScratch& scratch,
                      std::span<const int> row_of = {});

// sq_d_wg(data, glist) for single calls: checks and prepares the table
// (see ShapeTable), then scores it.
WithinGroups sq_d_wg(const Matrix& data, const Codes& glist);

}  // namespace quillan
