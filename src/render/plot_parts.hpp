// The pieces the figures of plots.cpp are built from, shared with the
// pictures of landmarks in space (space_plots.cpp), which lay out several
// frames in one scene.  Everything here works on the scene's current frame.
#pragma once

#include "figures/links.hpp"
#include "figures/shapes.hpp"
#include "render/scene.hpp"

#include <vector>

namespace quillan::plot_parts {

// The margins around a frame, and the width of a legend beside it.
inline constexpr double kLeft = 88, kRight = 24, kTop = 44, kBottom = 58, kLegendWidth = 170;

QColor translucent(QColor c, int alpha);
// Data bounds widened by 6% (and made non-empty).
Bounds padded(Bounds b);
// The frame, its ticks and the axis titles; the y title `y_title_offset`
// pixels left of the frame.
void add_axes(Scene& s, const QString& x_title, const QString& y_title, bool x_ticks = true, double y_title_offset = kLeft - 18);
// One entry a line beside the frame.
void add_legend(Scene& s, const std::vector<QString>& names, const std::vector<QColor>& colors, bool marks = false);
std::vector<QString> group_names(const Grouping& g);
std::vector<QColor> group_colors(int n);
void add_wireframe(Scene& s, const Shape2& shape, const Links& links, QColor color, double width);
// The landmark numbers beside their marks, clear of each other.
void add_landmark_labels(Scene& s, const std::vector<QPointF>& marks, const std::vector<int>& numbers = {});
// The specimens' landmarks, one batch of marks per group, the estimated
// landmarks ringed, and the consensus with its wireframe on top.
void add_superimposed(Scene& s, const Superimposition& sup, const Grouping& g, const Links& links, const LandmarkMarks& marks);

// From the consensus to the target: a vector at every landmark, the
// target's wireframe and its landmark numbers; and the legend saying so.
void add_change(Scene& s, const Shape2& consensus, const Shape2& target, const Links& links);
void add_change_legend(Scene& s);

}  // namespace quillan::plot_parts
