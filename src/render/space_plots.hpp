// Pictures of landmarks in space: three orthogonal views side by side, at
// one scale so that the extents seen in each compare, the front (x across,
// y up), the side (z across, y up) and the top (x across, z up).  A flat
// picture of a turned configuration hides whatever lies behind it; three
// views along the axes show every coordinate without a viewpoint to choose.
#pragma once

#include "figures/links.hpp"
#include "figures/shapes.hpp"
#include "render/scene.hpp"

#include <Eigen/Core>

namespace quillan {

struct SpaceView {
    int across, up;  // coordinates 0 x, 1 y, 2 z
    const char* name;
};
inline constexpr SpaceView kSpaceViews[3] = {{0, 1, "Front"}, {2, 1, "Side"}, {0, 2, "Top"}};

// The superimposed specimens (a superimposition in space) in the three views.
Scene space_superimposition_scene(const Superimposition& sup, const Grouping& g, const Links& links, QSizeF size,
                                  const LandmarkMarks& marks = {});
// From the consensus to the target (rows of 3k coordinates, the target
// already magnified) in the three views: a vector at every landmark and the
// target's wireframe.  A deformation grid of a flat view would bend with
// depths it cannot show, so none is drawn.
Scene space_shape_change_scene(const Eigen::RowVectorXd& consensus, const Eigen::RowVectorXd& target, const Links& links,
                               const QString& title, QSizeF size);

// The superimposed specimens turned by `turn` (a rotation of the aligned
// coordinates; the screen's x runs to the right, y up and z toward the
// viewer) and seen from the front, with a triad in the corner showing where
// the axes x, y and z point.  The scale stays as the landmarks turn: the
// frame holds the sphere around every landmark, magnified `zoom` times about
// its centre; what a zoom above 1 brings outside the frame is not drawn.
Scene turned_scene(const Superimposition& sup, const Grouping& g, const Links& links, const Eigen::Matrix3d& turn, QSizeF size,
                   double zoom = 1.0);

}  // namespace quillan
