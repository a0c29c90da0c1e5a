// Group coding: splitting a table by a code vector, putting it back together,
// and numbering the cells of two code vectors.
//
// Codes are whatever numbers the group file holds.  They are compared for
// exact equality only (a not-a-number code equals nothing, so each such
// element starts a group of its own) and are never sorted: groups and cells
// are numbered in the order in which they first occur, scanning from the
// first element.  Every function here gives that numbering.
#pragma once

#include "platform/value.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quillan {

class Console;

// Numbers the groups of `codes`: group_of[i] receives the 0-based group of
// element i, `gcodes` the distinct codes in order of first occurrence and
// `ssize` the number of elements of each.  `group_of` must hold at least
// codes.size() elements.  Allocates nothing once the vectors have grown to
// the number of groups.  Returns the number of groups.
std::size_t number_groups(std::span<const double> codes, std::span<int> group_of, Codes& gcodes, std::vector<std::size_t>& ssize);

// split_by_group(data, glist, clist): one block per group of the first m codes
// (m = rows of data), in order of first occurrence.
struct SplitGroups {
    std::vector<Matrix> dlist;                    // the group's rows, complete, in table order
    Codes gcodes;                                 // distinct codes, first occurrence first
    std::vector<std::size_t> ssize;               // rows per group
    std::vector<std::vector<double>> splitc;      // the covariate values of the group's rows
    std::vector<std::vector<std::size_t>> d_ord;  // 1-based row numbers of the group's rows
};
// Throws QuillanError when data has no rows or glist or clist has fewer than
// m elements (elements beyond m are ignored).
SplitGroups split_by_group(const Matrix& data, const Codes& glist, const std::vector<double>& clist);

// unsplit_by_group(X, d_ord, ngroups): row d_ord[i][j] (1-based) of the result is
// row j of X[i], for the first `ngroups` groups.  The result has as many rows
// as the largest row number stored (rows never stored are zero) and the
// columns of the blocks.  With the d_ord of split_by_group and blocks of the
// same row counts it restores the table's row order.  Throws QuillanError
// when ngroups exceeds the lists, a block has fewer rows than its row
// numbers, a row number is 0, or blocks differ in width.
Matrix unsplit_by_group(const std::vector<Matrix>& X, const std::vector<std::vector<std::size_t>>& d_ord, std::size_t ngroups);

// cell_codes(glist1, glist2): one cell per distinct pair of codes.
// `cell_list` holds the 1-based cell number of each element; `ccode` has one row
// per cell: [cell number, code 1, code 2].  When `console` is given the cell
// count is echoed as `ccount`.  Throws QuillanError when glist1 is empty or
// glist2 is shorter than glist1.
struct CombinedCode {
    Codes cell_list;
    Matrix ccode;
};
CombinedCode cell_codes(const Codes& glist1, const Codes& glist2, Console* console = nullptr);

// The cells found by the fast cell_codes, kept for reuse between calls.
class CellScratch {
public:
    std::size_t cells() const { return first_.size(); }
    double first(std::size_t cell) const { return first_[cell]; }    // code 1 of a cell (0-based)
    double second(std::size_t cell) const { return second_[cell]; }  // code 2 of a cell

private:
    friend std::size_t cell_codes(std::span<const double>, std::span<const double>, std::span<double>, CellScratch&);
    // Finds the cell of the pair (a, b), neither not-a-number, or adds it.
    std::size_t find_or_add(double a, double b);
    void index(std::size_t cell);
    void rebuild(std::size_t slots);

    std::vector<double> first_;
    std::vector<double> second_;
    // Once there are more than a few cells, they are also found through an
    // open-addressing table of cell numbers; a slot is in use when its stamp
    // is the current call's, so nothing needs clearing between calls.
    std::vector<std::uint32_t> slot_cell_;
    std::vector<std::uint32_t> slot_stamp_;
    std::uint32_t stamp_ = 0;
    bool indexed_ = false;
};

// cell_codes for the permutation loops: writes the 1-based cell numbers of
// the first glist1.size() elements to `cell_list` (at least that long; glist2 at
// least that long too) and leaves the cells' codes in `cells`.  Same
// numbering as above; nothing is allocated once `cells` has grown to the
// number of cells.  Returns the number of cells.
std::size_t cell_codes(std::span<const double> glist1, std::span<const double> glist2, std::span<double> cell_list,
                       CellScratch& cells);

}  // namespace quillan
