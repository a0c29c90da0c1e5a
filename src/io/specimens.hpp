// The per-specimen table a user plots or screens for digitising errors:
// ID, group levels, covariate, centroid size, the coordinates aligned on the
// consensus and each specimen's full Procrustes distance from it, and after
// standardisation the standardised coordinates aligned the same way, or the
// size-corrected ones.
#pragma once

#include "io/import.hpp"

#include <string>

namespace quillan::io {

struct SpecimenExport {
    const Matrix* landmarks = nullptr;  // required
    const Matrix* groups = nullptr;     // may be empty
    const Matrix* covariate = nullptr;  // may be empty
    const Legend* legend = nullptr;
    const Matrix* standardised = nullptr;  // the standardised table, when a covariate model was applied
    int covariate_model = 1;
    // Coordinates aligned as geomorph's gpagen aligns them (the import's
    // alignment when it slid semilandmarks), instead of by the full Procrustes fit.
    bool partial = false;
    // Also the aligned coordinates projected onto the tangent space and
    // corrected for the size model of this design (one row per specimen), as
    // the analyses' --size-corrected takes them; none: not corrected.
    const Eigen::MatrixXd* size_design = nullptr;
    int dimensions = 2;  // coordinates per landmark: the columns are x1,y1,z1,... in space
};

std::string specimens_csv(const SpecimenExport& e);

}  // namespace quillan::io
