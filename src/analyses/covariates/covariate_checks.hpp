// Covariates the straight-line fits cannot take.  A fit squares the centred
// covariate values and multiplies them by coordinates; values of extreme
// size overflow those sums, or leave the other specimens' values below the
// precision of the sum, and the fitted lines come out non-finite or
// meaningless.  The analyses then failed far from the cause (blaming a line
// of the landmark file) or printed a nonsensical percentage.
#pragma once

#include "analyses/workspace.hpp"
#include "platform/value.hpp"

#include <string>

namespace quillan {

// Covariate values may not exceed this in magnitude.
inline constexpr double kMaxCovariateMagnitude = 1e100;

// Fails, naming the covariate file and the line, when a covariate value is
// not finite or too large for the fits.
void require_fittable_covariate(const Workspace& ws);

// Fails, naming the covariate file and the line of its most extreme value,
// when a table standardised by fitted lines holds a non-finite number.
void require_finite_fit(const Workspace& ws, const Matrix& standardised);

}  // namespace quillan
