// The consensus iteration on a block of rows held in a ShapeScratch.
//
// Internal to geometry/: the named operations (geometry.cpp) and the fused
// group sums (shape_table.cpp) both run through this one piece of code, so a
// consensus built for a report and one built inside a permutation agree to
// the last bit.
#pragma once

#include "geometry/consensus_block.hpp"
#include "geometry/shape_table.hpp"
#include "geometry/tile_ops.hpp"

#include <cstddef>
#include <span>

namespace quillan {

// The block of the plane: the tile loops of the kernel in use (kernels.hpp)
// over rows of 2k interleaved coordinates.
class ConsensusRun final : public ConsensusBlock {
public:
    // Uses `work`'s buffers for configurations of k landmarks.
    ConsensusRun(ShapeScratch& work, int k);

    // `load` copies the rows only at the first pass of iterate() (or the
    // first other call), fitting each tile while it is in cache.
    void load(const ShapeTable& table, std::span<const int> rows) override;
    void load_all(const ShapeTable& table) override;
    std::size_t size() const override { return b_.n; }
    std::size_t iterate(Procedure proc) override;
    // The rotation is undefined when both sums of its angle's quotient are
    // zero (an isotropic consensus).
    void principal_axes() override;
    double principal_axes_distances() override;
    const double* consensus() const override;
    void fit_all(const double* ref) override;
    void distances(const double* ref, double* d) override;
    void row(std::size_t i, double* out) const override;
    void deviations(double* out) const override;

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
