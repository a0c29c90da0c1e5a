// The consensus iteration on a block of rows held in a ShapeScratch.
//
// Internal to geometry/: the named operations (geometry.cpp) and the fused
// group sums (shape_table.cpp) both run through this one piece of code, so a
// consensus built for a report and one built inside a permutation agree to
// the last bit.
#pragma once

#include "geometry/shape_table.hpp"
#include "geometry/tile_ops.hpp"

#include <cstddef>
#include <span>

namespace quillan {

// A passes limit that real data never comes near (a few passes to a few
// dozen): it turns a consensus that never settles into an error instead of a
// hang.
inline constexpr std::size_t kMaxConsensusPasses = 10000;

class ConsensusRun {
public:
    // Uses `work`'s buffers for configurations of k landmarks.
    ConsensusRun(ShapeScratch& work, int k);

    // Takes rows of `table` into the block: `load` the rows given (indices,
    // in the order given; QuillanError for an index out of range),
    // `load_all` every row in table order.  `load` copies them only at the
    // first pass of iterate() (or the first other call), fitting each tile
    // while it is in cache, so `rows` must stay valid until then.
    void load(const ShapeTable& table, std::span<const int> rows);
    void load_all(const ShapeTable& table);

    std::size_t size() const { return b_.n; }

    // Runs the iteration from the first row as the starting reference;
    // returns the number of passes.  Throws QuillanError when the change
    // measure is not a number or the passes limit is reached.
    std::size_t iterate(Procedure proc);

    // The principal-axis rotation of the consensus and of every aligned row,
    // then the marker 999 in the consensus's last element.  When the angle is
    // undefined (both sums of its quotient zero: an isotropic consensus) no
    // rotation is made.
    void principal_axes();

    // The sum (in row order) of the squared full Procrustes distances of the
    // aligned rows from the consensus: what principal_axes() followed by
    // full_procrustes_distances of the consensus and the aligned rows gives, up to rounding,
    // computed in closed form without moving the rows.  Returns a non-finite
    // value when a row cannot be measured.
    double principal_axes_distances();

    // The consensus: 2k coordinates and the last element.
    const double* consensus() const;

    // Fits every row onto `ref` (2k interleaved coordinates) in place.
    void fit_all(const double* ref);

    // Full Procrustes distance of every row, centred and scaled as loaded
    // from a ShapeTable, from `ref`: written to `d` (one per row).
    void distances(const double* ref, double* d);

    // Row i of the block (2k coordinates) copied to `out`.
    void row(std::size_t i, double* out) const;

    // Every row less the consensus, coordinate by coordinate: coordinate q
    // of row i goes to out[i * 2k + q].
    void deviations(double* out) const;

private:
    // The principal-axis turn of the consensus: false when the angle is
    // undefined, else its cosine and sine.
    bool principal_turn(double& c, double& s) const;
    // Copies rows still waiting since load() into the tiles.
    void ensure_loaded() const;

    ShapeScratch& w_;
    int k_;
    // The kernels for the block, chosen by its number of rows at load time.
    const kernels::KernelOps* ops_;
    std::size_t lanes_;
    void use_kernels_for(std::size_t n);
    mutable kernels::TileBlock b_;
    // Rows taken by load() and not yet copied.
    mutable const ShapeTable* pending_table_ = nullptr;
    mutable const int* pending_rows_ = nullptr;
};

}  // namespace quillan
