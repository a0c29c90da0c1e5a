// Outlines of a group of points in a scatter plot: the convex hull and the
// 95% data ellipse.
#pragma once

#include "figures/shapes.hpp"

namespace quillan {

// The convex hull, counter-clockwise from the lowest-leftmost point, without
// collinear points.  Fewer than three distinct points give those points.
Shape2 convex_hull(Shape2 points);

// The ellipse holding 95% of a bivariate normal distribution with the
// points' mean and covariance (n - 1 divisor), as `segments` points around
// it.  Empty for fewer than three points or a degenerate covariance.
Shape2 data_ellipse(const Shape2& points, int segments = 72, double coverage = 0.95);

}  // namespace quillan
