// The pictures of the shape analyses (outliers, disparity, canonical
// variates, two-block PLS, symmetry), laid out from the numbers each action
// hands its recorder.  The titles come from the caller, with the factor's
// name already in place.
#pragma once

#include "analyses/toolkit/figure_data.hpp"
#include "figures/links.hpp"
#include "render/plots.hpp"

namespace quillan {

// The p-value at or below which a pair is marked as differing, as the
// reports mark it.
inline constexpr double kMarkedP = 0.05;

// Each specimen's distance from its mean, farthest first (the sets one
// after another), with each set's limit and the flagged specimens named.
// The legends name the groups' factor as `factor`.
Scene outlier_distances_scene(const OutliersFigure& f, const QString& title, QSizeF size,
                              const QString& factor = QStringLiteral("G1"));
// Each group's Procrustes variance as a bar; a bracket joins the groups of
// each pair that differ (p at most kMarkedP).  Names too long for their
// bar are turned to read upward.
Scene disparity_scene(const DisparityFigure& f, const QString& title, const QString& groups_title, QSizeF size);
// CV1 against CV2 with each group's 95% data ellipse; with one variate (two
// groups) the histogram of CV1 in each group.
Scene cva_scene(const CvaFigure& f, const QString& title, QSizeF size, const QString& factor = QStringLiteral("G1"));
// The first axis's scores, block 1 across, block 2 up, coloured by group.
Scene pls_scene(const PlsFigure& f, const QString& title, QSizeF size, const QString& factor = QStringLiteral("G1"));
// Each specimen in the first two principal components, marked by its
// replicate, the replicates of each subject joined in replicate order.
Scene measurement_error_scene(const MeasurementErrorFigure& f, const QString& title, QSizeF size);
// The trajectories in PC1 and PC2: each group's points joined by arrows in
// level order, in its colour, named at its last point.
Scene trajectory_scene(const TrajectoryFigure& f, const QString& title, QSizeF size);
// Allometry score `score` of `f` against size, coloured by group, with each
// group's least-squares line.
Scene allometry_scene(const AllometryFigure& f, std::size_t score, const QString& title, QSizeF size,
                      const QString& factor = QStringLiteral("G1"));
// The tips and their ancestors in two components, joined along the
// branches, the tips named where there is room and coloured by the levels
// of the figure's groups (`factor` names G1 in the legend).
Scene phylomorphospace_scene(const PhylomorphospaceFigure& f, const QString& title, QSizeF size,
                             const QString& factor = QStringLiteral("G1"));
// From one shape to another, the change scaled by `magnification`: a
// deformation grid in the plane, three views in space.  Fails as the spline
// cannot be drawn (fewer than three landmarks, or all on one line).
Scene figure_shapes_scene(const FigureShapes& shapes, double magnification, const Links& links, const QString& title, QSizeF size,
                          const ChangeNames& names = {});

}  // namespace quillan
