// What a block of rows superimposed on their consensus offers, in the plane
// (ConsensusRun, consensus_iteration.hpp) and in space (SpaceRun,
// space_run.hpp).  The named operations and the group sums are written once
// over these calls (templates over the concrete class, so every call is a
// direct one) and use either block the same way.  A configuration has dk
// coordinates, d = 2 or 3, each landmark's coordinates together.
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

class ConsensusBlock {
public:
    virtual ~ConsensusBlock() = default;

    // Takes rows of `table` into the block: `load` the rows given (indices,
    // in the order given; QuillanError for an index out of range),
    // `load_all` every row in table order.  A block may copy them only when
    // first used, so `rows` must stay valid until the first other call.
    virtual void load(const ShapeTable& table, std::span<const int> rows) = 0;
    virtual void load_all(const ShapeTable& table) = 0;
    virtual std::size_t size() const = 0;

    // Runs the iteration from the first row as the starting reference;
    // returns the number of passes.  Throws QuillanError when the change
    // measure is not a number or the passes limit is reached.
    virtual std::size_t iterate(Procedure proc) = 0;

    // Turns the consensus and every aligned row onto the consensus's
    // principal axes (no turn where they are undefined or already its axes),
    // then marks the consensus's last element 999.
    virtual void principal_axes() = 0;

    // The sum (in row order) of the squared full Procrustes distances of the
    // aligned rows from the consensus, as principal_axes() followed by the
    // distances would give it up to rounding, without moving the rows; not
    // finite when a row cannot be measured.
    virtual double principal_axes_distances() = 0;

    // The consensus: dk coordinates and the last element.
    virtual const double* consensus() const = 0;
    // Fits every row onto `ref` (dk coordinates) in place.
    virtual void fit_all(const double* ref) = 0;
    // Full Procrustes distance of every row, centred and scaled as loaded
    // from a ShapeTable, from `ref`: written to `d` (one per row).
    virtual void distances(const double* ref, double* d) = 0;
    // Row i of the block (dk coordinates) copied to `out`.
    virtual void row(std::size_t i, double* out) const = 0;
    // Every row less the consensus, coordinate by coordinate: coordinate q of
    // row i goes to out[i * dk + q].
    virtual void deviations(double* out) const = 0;
};

}  // namespace quillan
