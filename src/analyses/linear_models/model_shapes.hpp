// The shape variables of the linear models: every specimen's coordinates
// after one superimposition of all of them, projected onto the tangent
// space at their consensus.
#pragma once

#include "analyses/linear_models/model_request.hpp"
#include "platform/value.hpp"

#include <Eigen/Dense>

#include <string>

namespace quillan {

// One row per specimen, x1 y1 ... xk yk, from a landmark table (2k + 1
// columns, the trailing value ignored); in space (`dimensions` 3) x1 y1 z1
// ... xk yk zk from a table of 3k + 1 columns, each turn the rotation
// without reflection from the singular value decomposition, as gpagen turns.  The projection is the orthogonal
// one onto the plane through the consensus perpendicular to it, the
// consensus taken as the mean of the aligned specimens scaled to unit size.
// By gpagen's steps the partial superimposition is the one below and the
// full one `full_procrustes_consensus`; both stop at a tolerance, where they
// still depend on the order of the specimens in the fifth digit.  Converged,
// either goes on from there to its optimum and is turned to the principal
// axes of its consensus, so the shapes depend on the specimens alone.
Eigen::MatrixXd tangent_shapes(const Matrix& landmarks, Alignment alignment, int dimensions = 2,
                               GpaSteps steps = GpaSteps::Converged);

// The rows of `aligned` (superimposed configurations) projected onto the
// tangent plane at their mean scaled to unit size, that consensus added back.
Eigen::MatrixXd projected(const Eigen::MatrixXd& aligned, int dimensions);

// The report's words for the superimposition of `q`, after "Shape: ".
std::string superimposition_words(const ModelRequest& q);
// The record's name of the steps: "converged" or "gpagen".
const char* gpa_steps_name(GpaSteps steps);

// The partial Procrustes superimposition alone (before the projection), as
// gpagen runs it: each specimen centred and scaled to unit centroid size,
// turned onto the first specimen, then onto the mean until the change of
// n (1 - |mean|^2) is at most 1e-4, at most four passes.
Eigen::MatrixXd partial_procrustes_alignment(const Matrix& landmarks, int dimensions = 2);

}  // namespace quillan
