// The landmark table prepared for the permutation tests.
//
// Every permutation re-superimposes each group on its own consensus, so the
// tests spend nearly all their time here.  A `ShapeTable` is built once per
// action from the table being analysed: it checks the table and stores every
// specimen centred and scaled, contiguous and specimen-major.  That is the
// first thing every consensus does to each of its rows, so reusing the stored
// rows gives exactly the numbers a consensus computed from the raw rows gives.
//
// A `ShapeTable` is immutable once built and may be shared by any number of
// threads.  Each thread brings its own `ShapeScratch` (reusable buffers); after
// the first call of a given size nothing is allocated.
//
// Results are reproducible to the last bit: the sum for a set of rows depends
// only on those rows and their order, never on the thread, the lane a row
// lands in or what was computed before.
#pragma once

#include "platform/value.hpp"

#include <cstddef>
#include <new>
#include <span>
#include <vector>

namespace quillan {

// Storage for the kernels' vectors: every block starts on a 64-byte line, so
// that a vector load of 8 doubles at a multiple of 8 (4 at a multiple of 4)
// never straddles two cache lines.  A straddling load costs the processor a
// second access; with 8-lane vectors over a block at an ordinary 16-byte
// allocation every load straddles.
inline constexpr std::size_t kLineBytes = 64;
inline constexpr std::size_t kLineDoubles = kLineBytes / sizeof(double);
template <class T>
struct LineAllocator {
    typedef T value_type;
    LineAllocator() = default;
    template <class U>
    LineAllocator(const LineAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return static_cast<T*>(::operator new (n * sizeof(T), std::align_val_t{kLineBytes})); }
    void deallocate(T* p, std::size_t) noexcept { ::operator delete (p, std::align_val_t{kLineBytes}); }
    template <class U>
    bool operator==(const LineAllocator<U>&) const noexcept {
        return true;
    }
};
typedef std::vector<double, LineAllocator<double>> LineVector;

class ShapeScratch;
class ConsensusRun;
class SpaceRun;

class ShapeTable {
public:
    // Checks `data` as a landmark table and prepares it.  Throws QuillanError
    // when the width is even or below 5 (fewer than two landmarks), when the
    // table has no rows, when a coordinate is not a finite number, or when a
    // specimen has all its landmarks at one point (centroid size 0) or
    // coordinates so large that its size overflows.  Errors name the
    // specimen: row i is "Specimen i (line i of the landmark file)", or, when
    // `specimens` is given, specimen number specimens[i] (1-based), for a table
    // made of some rows of the landmark table.  With `dimensions` 3 each row
    // holds x1 y1 z1 ... xk yk zk and a trailing value, 3k + 1 columns with
    // at least three landmarks.
    explicit ShapeTable(const Matrix& data, std::span<const std::size_t> specimens = {}, int dimensions = 2);

    std::size_t rows() const { return rows_; }
    int landmarks() const { return k_; }
    // Coordinates per landmark, 2 or 3.
    int dimensions() const { return d_; }
    // Coordinates per row, dk.
    std::size_t coordinates() const { return static_cast<std::size_t>(d_) * static_cast<std::size_t>(k_); }
    // Columns of the landmark table, dk + 1.
    Eigen::Index width() const { return static_cast<Eigen::Index>(coordinates()) + 1; }

    // Row i centred and scaled: dk coordinates x1 y1 ... xk yk (with z after
    // each y in space).  Each row starts on a cache line of its own (rows are
    // padded to whole lines).
    const double* row(std::size_t i) const { return coords_.data() + i * stride_; }
    // The trailing value of row i, as loaded.
    double trailing(std::size_t i) const { return trailing_[i]; }

private:
    std::size_t rows_ = 0;
    int k_ = 0;
    int d_ = 2;
    std::size_t stride_ = 0;  // doubles from one row to the next: dk rounded up to whole lines
    LineVector coords_;
    std::vector<double> trailing_;
};

// Checks a landmark table without keeping anything; the same checks and
// messages as the ShapeTable constructor.
void validate_landmark_table(const Matrix& data, int dimensions = 2);

// Landmarks in a row of a table of `width` columns and the given dimension.
inline int landmarks_of(Eigen::Index width, int dimensions) { return static_cast<int>((width - 1) / dimensions); }

// Reusable buffers of one thread for the superimposition of a group.  The
// contents mean nothing between calls; only the capacity is kept.
class ShapeScratch {
public:
    ShapeScratch() = default;

    // Consensus passes made by the calls so far, and the rows fitted in them
    // (for benchmarks and diagnostics); reset them freely.
    std::size_t passes = 0;
    std::size_t row_passes = 0;

private:
    friend class ConsensusRun;
    friend class SpaceRun;
    friend void groups_ss(const ShapeTable&, std::span<const int>, std::span<const std::size_t>, std::span<const std::size_t>,
                          ShapeScratch&, std::span<double>);
    LineVector lanes_;
    std::vector<std::size_t> order_;
    LineVector tiles_;
    LineVector xref_;
    LineVector xrefold_;
    LineVector acc_;
    std::vector<int> all_rows_;
};

// Sum of the squared full Procrustes distances of the given rows (indices
// into `table`, taken in the order given) from their own consensus: the
// consensus and aligned rows of `full_procrustes_consensus`, then `full_procrustes_distances`, then
// the sum of the squares in row order, without building any matrix.  At
// least one row; a single row lies on its own consensus and gives 0 up to
// rounding (the within-group sums skip such groups altogether).  Throws
// QuillanError if the consensus cannot be computed (non-finite values, which
// validated rows do not produce in practice, or no convergence).
double group_ss(const ShapeTable& table, std::span<const int> rows, ShapeScratch& work);

// group_ss of several groups of the same table: group g is the rows
// members[start[g] .. start[g] + size[g]) and its sum goes to out[g]; groups
// of one row are skipped (out[g] is left as it is).  The same numbers to the
// last bit as group_ss group after group, and, when a group cannot be
// computed, the error group_ss gives for the first such group.  Small groups
// of similar sizes are superimposed several at a time, one group per vector
// lane, which spares each the set-up of a consensus of its own and the spare
// lanes of a partly filled tile.
void groups_ss(const ShapeTable& table, std::span<const int> members, std::span<const std::size_t> start,
               std::span<const std::size_t> size, ShapeScratch& work, std::span<double> out);

// Deviations of the given rows (indices into `table`, in the order given)
// from their rotation-only consensus, after each row is aligned on it: the
// coordinates of what `procrustes_residuals` gives for a table of those rows, to the
// last bit, without building any matrix.  Coordinate q of the i-th row given
// goes to out[i * dk + q] (the rows without their trailing values, one after
// another); `out` holds dk * rows.size() values.  When `consensus` is given
// it receives the consensus's dk coordinates.  At least one row.  Throws
// QuillanError if the consensus cannot be computed.
void consensus_residuals(const ShapeTable& table, std::span<const int> rows, ShapeScratch& work, double* out,
                         double* consensus = nullptr);

// Total sum of squares `total_ss` of the whole table: `group_ss` of all rows in
// table order, which is also what `within_group_ss` gives for a code vector that puts
// every row in one group.
double whole_table_ss(const ShapeTable& table, ShapeScratch& work);
double whole_table_ss(const Matrix& data, int dimensions = 2);

}  // namespace quillan
