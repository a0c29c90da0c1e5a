// The consensus iteration of configurations in space: three coordinates per
// landmark, x1 y1 z1 ... xk yk zk.
//
// Internal to geometry/, the block of tables of dimension 3 (a
// ConsensusBlock, as ConsensusRun is for the plane).  The steps are those of
// the plane, with the complex factor of a fit replaced by a rotation and a
// scale:
//  - a full fit of z onto w turns z by the rotation R that best fits it onto
//    w (from the singular value decomposition U S V' of the cross-product
//    matrix A = sum of w_j z_j', R = U diag(1, 1, d) V' with d = det(U V'),
//    so R never reflects) and scales it by (s1 + s2 + d s3) / |z - c|^2;
//  - a rotation-only fit turns by R and keeps the size;
//  - the reference is the first row, then the mean of the fitted rows
//    rescaled to unit size, until its squared change is at most 2^-26 k
//    (2^-26 / 20 rotation-only), as in the plane;
//  - the squared full distance of z from a reference w of unit size is
//    |w|^2 - (s1 + s2 + d s3)^2 / |z - c|^2 for the centred cross products.
// Rows are kept one after another, each of 3k coordinates; every sum takes
// its terms in landmark order and rows are added in row order, so the
// numbers of a set of rows depend only on those rows and their order.
#pragma once

#include "geometry/consensus_block.hpp"
#include "geometry/shape_table.hpp"
#include "geometry/tile_ops.hpp"

#include <cstddef>
#include <span>

namespace quillan {

class SpaceRun final : public ConsensusBlock {
public:
    SpaceRun(ShapeScratch& work, int k);

    void load(const ShapeTable& table, std::span<const int> rows) override;
    void load_all(const ShapeTable& table) override;
    std::size_t size() const override { return n_; }
    std::size_t iterate(Procedure proc) override;
    // The smallest rotation that brings the consensus onto its principal axes.
    void principal_axes() override;
    double principal_axes_distances() override;
    const double* consensus() const override;
    void fit_all(const double* ref) override;
    void distances(const double* ref, double* d) override;
    void row(std::size_t i, double* out) const override;
    void deviations(double* out) const override;

private:
    double* rows() const;
    void fit_pass(Procedure proc, const double* ref, double* acc);

    ShapeScratch& w_;
    int k_;
    std::size_t m1_;
    std::size_t n_ = 0;
    double tmean_ = 0.0;
    double tfirst_ = 0.0;
};

// A configuration of k landmarks in space centred and scaled in place, as
// the ShapeTable stores it; returns the centroid size it had.
double centre_scale_space(double* x, int k);

// Centroid size of a configuration of k landmarks in space.
double centroid_size_space(const double* x, int k);

}  // namespace quillan
