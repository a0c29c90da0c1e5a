// The figures, laid out as scenes: the superimposed specimens, the
// principal components and their scree, the shape change as a deformation
// grid with vectors, and the permutation distribution of a statistic.
#pragma once

#include "figures/distributions.hpp"
#include "figures/links.hpp"
#include "figures/pca.hpp"
#include "figures/shapes.hpp"
#include "render/scene.hpp"

namespace quillan {

enum class Outline { None, Hull, Ellipse };

// `marks`: semilandmarks drawn smaller and joined along their curves,
// estimated landmarks ringed.
Scene superimposition_scene(const Superimposition& s, const Grouping& g, const Links& links, QSizeF size,
                            const LandmarkMarks& marks = {});
Scene components_scene(const PcaResult& pca, const Grouping& g, int pc_x, int pc_y, Outline outline, QSizeF size);
Scene scree_scene(const PcaResult& pca, QSizeF size);
// From the consensus to the target (already magnified): the deformation
// grid, a vector at every landmark and the target's wireframe.
// `names`: what the legend calls the two shapes, other than "Consensus"
// and "Target".
struct ChangeNames {
    QString from = QStringLiteral("Consensus"), to = QStringLiteral("Target");
};
Scene shape_change_scene(const Shape2& consensus, const Shape2& target, const Links& links, const QString& title, QSizeF size,
                         const ChangeNames& names = {});
Scene histogram_scene(const StatisticDistribution& d, const QString& title, QSizeF size);
// The regression score of each specimen against the covariate, coloured by
// the model's first factor.
Scene regression_scene(const RegressionScores& r, QSizeF size);

}  // namespace quillan
