// How the analyses score groupings: the prepared landmark table, the total
// sum of squares, and a per-thread scorer that gives the within-group sums of
// any code vector without allocating in the permutation loop.
#pragma once

#include "groups/groups.hpp"
#include "platform/value.hpp"

#include <initializer_list>
#include <memory>
#include <vector>

namespace quillan {

class Console;
class ShapeTable;

// The landmark table checked and prepared once per action (see geometry).
class PreparedTable {
public:
    // `dimensions`: coordinates per landmark, 2 or 3.
    explicit PreparedTable(const Matrix& data, int dimensions = 2);
    ~PreparedTable();
    PreparedTable(const PreparedTable&) = delete;
    PreparedTable& operator=(const PreparedTable&) = delete;

    int specimens() const;
    // Total sum of squared full Procrustes distances from the consensus of
    // the whole table.
    double total_ss() const;
    // The checked, centred and scaled specimens, for computations that work
    // on rows of the table directly.
    const ShapeTable& shapes() const;

    struct Impl;
    const Impl& impl() const { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

// Within-group sums of one grouping.
struct GroupSums {
    std::vector<double> wgsd;          // one entry per group, in order of first appearance
    std::vector<double> gcodes;        // the groups' codes
    std::vector<int> ssize;            // the groups' sizes
    std::vector<double> single_codes;  // codes of the groups of a single specimen (they contribute 0)
    double total = 0;                  // sum of wgsd, first group to last, as the permutation loops add it
    double sum() const { return total; }
    int specimens() const;
    int groups() const { return static_cast<int>(wgsd.size()); }
};

// Scores groupings of one prepared table; one per worker thread.
class Scorer {
public:
    explicit Scorer(const PreparedTable& table);
    ~Scorer();
    // Element i of `codes` is the code of specimen i.
    const GroupSums& score(const Codes& codes);
    // Just the sum of the within-group sums, for the permutation loops;
    // `single` is set when a group of a single specimen was met.
    double sum(const Codes& codes, bool& single);
    // sum() of several groupings at once, within[c] for groupings[c], the
    // same numbers: their groups are superimposed together, so that the few
    // small groups of each share the vector lanes.
    void sums(std::initializer_list<const Codes*> groupings, double* within, bool& single);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// out[i] = in[rp[i]]: the codes taken in the order of a permutation.
void permute_codes(const Codes& in, const std::vector<int>& rp, Codes& out);

// The cells of two code vectors, numbered 1, 2, ... by first appearance,
// into a caller's buffers (no allocation once they have grown).
class CellCoder {
public:
    void code(const Codes& a, const Codes& b, Codes& cells);
    int cells() const;

private:
    CellScratch scratch_;
};

}  // namespace quillan
