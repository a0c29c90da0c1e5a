#include "render/plot_parts.hpp"
#include "render/toolkit_plots.hpp"

namespace quillan {

using namespace plot_parts;

Scene phylomorphospace_scene(const PhylomorphospaceFigure& f, const QString& title, QSizeF size, const QString& factor) {
    Scene s;
    s.size = size;
    const auto y_of = [](const Eigen::MatrixXd& m, Eigen::Index i) { return m.cols() > 1 ? m(i, 1) : 0.0; };
    Bounds b;
    for (Eigen::Index i = 0; i < f.tip_scores.rows(); ++i) b.add(f.tip_scores(i, 0), y_of(f.tip_scores, i));
    for (Eigen::Index i = 0; i < f.node_scores.rows(); ++i) b.add(f.node_scores(i, 0), y_of(f.node_scores, i));
    const QColor tip_ink(70, 120, 180), node_ink(60, 60, 60), branch_ink(150, 150, 150);
    const int ng = static_cast<int>(f.groups.names.size());
    const bool coloured = ng > 1 && f.groups.group_of.size() == f.tips.size();
    std::vector<LegendItem> items;
    if (coloured) {
        Grouping g;
        g.names = f.groups.names;
        items = group_items(g, true, f.factor.empty() ? factor : QString::fromStdString(f.factor));
    } else {
        items.push_back({QStringLiteral("Tips"), tip_ink, true, Marker::Circle});
    }
    items.push_back({QStringLiteral("Ancestors"), node_ink, true, Marker::Circle});
    items.push_back({QStringLiteral("Root"), node_ink, true, Marker::Circle, true});
    items.push_back({QStringLiteral("Branches"), branch_ink, false, Marker::Circle, false, false, Qt::SolidLine});
    const LegendPlan legend = lay_out(s, title, items, [&](QRectF room) { return equal_frame(padded(b), room); });
    const auto axis = [&](int c) {
        const double share = c < static_cast<int>(f.percent.size()) ? f.percent[static_cast<std::size_t>(c)] : 0.0;
        return QStringLiteral("%1 %2 (%3%)").arg(QString::fromStdString(f.axis)).arg(c + 1).arg(share, 0, 'f', 1);
    };
    add_axes(s, axis(0), axis(1));
    std::vector<QPointF> tips, nodes;
    for (Eigen::Index i = 0; i < f.tip_scores.rows(); ++i) tips.push_back(s.frame.map(f.tip_scores(i, 0), y_of(f.tip_scores, i)));
    for (Eigen::Index i = 0; i < f.node_scores.rows(); ++i)
        nodes.push_back(s.frame.map(f.node_scores(i, 0), y_of(f.node_scores, i)));
    const auto branch = [&](QPointF from, QPointF to) {
        s.paths.push_back({branch_ink, kPoint, false, false, QColor(), {from, to}, true});
    };
    for (std::size_t i = 0; i < tips.size(); ++i) branch(nodes[static_cast<std::size_t>(f.tip_parent[i])], tips[i]);
    for (std::size_t v = 1; v < nodes.size(); ++v) branch(nodes[static_cast<std::size_t>(f.node_parent[v])], nodes[v]);
    s.dots.push_back({node_ink, 3.5 * kPoint, false, std::vector<QPointF>(nodes.begin() + (nodes.empty() ? 0 : 1), nodes.end())});
    if (!nodes.empty()) s.dots.push_back({node_ink, 5 * kPoint, true, {nodes.front()}});
    if (coloured) {
        for (int k = 0; k < ng; ++k) s.dots.push_back({group_color(k), 4.5 * kPoint, false, {}, {}, group_marker(k, ng)});
        for (std::size_t i = 0; i < tips.size(); ++i)
            s.dots[s.dots.size() - static_cast<std::size_t>(ng) + static_cast<std::size_t>(f.groups.group_of[i])]
                .points.push_back(tips[i]);
    } else {
        s.dots.push_back({tip_ink, 4.5 * kPoint, false, tips});
    }
    std::vector<QString> names;
    for (const auto& t : f.tips) names.push_back(QString::fromStdString(t));
    add_point_labels(s, tips, 4.5 * kPoint, names, nodes);
    add_legend(s, legend, s.frame.area);
    return s;
}

}  // namespace quillan
