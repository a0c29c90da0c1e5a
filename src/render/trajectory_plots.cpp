#include "render/plot_parts.hpp"
#include "render/toolkit_plots.hpp"

#include <cmath>

namespace quillan {

using namespace plot_parts;

namespace {

// An arrowhead at `to`, pointing along the segment from `from`.
ScenePath arrowhead(QPointF from, QPointF to, QColor color) {
    const double dx = to.x() - from.x(), dy = to.y() - from.y(), length = std::hypot(dx, dy);
    ScenePath head{color, 1.5 * kPoint, false, true, color, {}, true};
    if (length <= 0) return head;
    const double ux = dx / length, uy = dy / length, size = std::min(7.0 * kPoint, 0.45 * length);
    head.points = {to, QPointF(to.x() - size * ux + 0.45 * size * uy, to.y() - size * uy - 0.45 * size * ux),
                   QPointF(to.x() - size * ux - 0.45 * size * uy, to.y() - size * uy + 0.45 * size * ux)};
    return head;
}

}  // namespace

Scene trajectory_scene(const TrajectoryFigure& f, const QString& title, QSizeF size) {
    Scene s;
    s.size = size;
    Bounds b;
    for (const auto& t : f.scores)
        for (Eigen::Index i = 0; i < t.rows(); ++i) b.add(t(i, 0), t(i, 1));
    std::vector<LegendItem> items{{QStringLiteral("Trajectories"), QColor(), false, Marker::Circle, false, true}};
    for (std::size_t g = 0; g < f.groups.size(); ++g)
        items.push_back({QString::fromStdString(f.groups[g]), group_color(static_cast<int>(g)), false, Marker::Circle, false,
                         false, Qt::SolidLine});
    if (!f.points.empty())
        items.push_back({QStringLiteral("First point (%1)").arg(QString::fromStdString(f.points.front())), QColor(Qt::gray), true,
                         Marker::Circle, true});
    const LegendPlan legend = lay_out(s, title, items, [&](QRectF room) { return equal_frame(padded(b), room); });
    const auto axis = [&](int c) {
        return QStringLiteral("PC%1 (%2% of the points' variance)")
            .arg(c + 1)
            .arg(f.percent[static_cast<std::size_t>(c)], 0, 'f', 1);
    };
    add_axes(s, axis(0), axis(1));
    for (std::size_t g = 0; g < f.scores.size(); ++g) {
        const QColor c = group_color(static_cast<int>(g));
        const Eigen::MatrixXd& t = f.scores[g];
        std::vector<QPointF> at;
        for (Eigen::Index i = 0; i < t.rows(); ++i) at.push_back(s.frame.map(t(i, 0), t(i, 1)));
        s.paths.push_back({c, 1.5 * kPoint, false, false, QColor(), at, true});
        for (std::size_t i = 1; i < at.size(); ++i) s.paths.push_back(arrowhead(at[i - 1], at[i], c));
        s.dots.push_back({c, 5 * kPoint, true, {at.front()}, {}, Marker::Circle});
        s.dots.push_back({c, 4 * kPoint, false, std::vector<QPointF>(at.begin() + 1, at.end()), {}, Marker::Circle});
        s.texts.push_back({QString::fromStdString(f.groups[g]), at.back() + QPointF(4 * kPoint, -4 * kPoint),
                           Qt::AlignLeft | Qt::AlignBottom, SceneText::Role::Label, c});
    }
    add_legend(s, legend, s.frame.area);
    return s;
}

}  // namespace quillan
