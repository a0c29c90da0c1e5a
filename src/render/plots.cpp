#include "render/plots.hpp"

#include "figures/outlines.hpp"
#include "figures/spline.hpp"
#include "render/plot_parts.hpp"

#include <algorithm>
#include <cmath>

namespace quillan {

namespace plot_parts {

QColor translucent(QColor c, int alpha) {
    c.setAlpha(alpha);
    return c;
}

// A tick step of 1, 2 or 5 times a power of ten giving about `ticks` ticks.
double nice_step(double span, int ticks) {
    if (!(span > 0) || !std::isfinite(span)) return 1.0;
    const double raw = span / ticks;
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    const double m = raw / p;
    return (m < 1.5 ? 1 : m < 3.5 ? 2 : m < 7.5 ? 5 : 10) * p;
}

QString tick_text(double v, double step) {
    if (std::abs(v) < step * 1e-9) v = 0;
    return QString::number(v, 'g', 6);
}

// The frame left after the margins (and the legend, if any).
QRectF plot_rect(QSizeF size, bool legend) {
    const double right = kRight + (legend ? kLegendWidth : 0);
    return QRectF(kLeft, kTop, std::max(10.0, size.width() - kLeft - right), std::max(10.0, size.height() - kTop - kBottom));
}

Bounds padded(Bounds b) {
    if (b.empty) b.add(0, 0);
    double w = b.width(), h = b.height();
    if (!(w > 0)) w = std::max(h, std::max(std::abs(b.xmin), 1.0) * 1e-3);
    if (!(h > 0)) h = std::max(w, std::max(std::abs(b.ymin), 1.0) * 1e-3);
    const double cx = (b.xmin + b.xmax) / 2, cy = (b.ymin + b.ymax) / 2;
    Bounds out;
    out.add(cx - w * 0.56, cy - h * 0.56);
    out.add(cx + w * 0.56, cy + h * 0.56);
    return out;
}

// One data unit as long on both axes, and the frame as wide and high as the
// data: it takes the data's aspect within `area`, centred, rather than
// leaving empty bands inside the axes.  A frame too narrow for its ticks
// to be read keeps some of the room around the data instead.
PlotFrame equal_frame(const Bounds& data, QRectF area) {
    const Bounds b = padded(data);
    const double scale = std::min(area.width() / b.width(), area.height() / b.height());
    const double cx = (b.xmin + b.xmax) / 2, cy = (b.ymin + b.ymax) / 2;
    constexpr double kNarrowest = 160;
    const double w = std::min(area.width(), std::max(b.width() * scale, kNarrowest));
    const double h = std::min(area.height(), std::max(b.height() * scale, kNarrowest));
    const QRectF fitted(area.center().x() - w / 2, area.center().y() - h / 2, w, h);
    const double hw = w / scale / 2, hh = h / scale / 2;
    return {fitted, cx - hw, cx + hw, cy - hh, cy + hh};
}

PlotFrame free_frame(double x0, double x1, double y0, double y1, QRectF area) { return {area, x0, x1, y0, y1}; }

// Above the frame, which may sit lower than the top margin when it takes the
// data's aspect.
void add_title(Scene& s, const QString& title) {
    s.texts.push_back(
        {title, QPointF(s.size.width() / 2, s.frame.area.top() - kTop / 2), Qt::AlignCenter, SceneText::Role::Title});
}

// The room a landmark number takes, as its font draws it (near enough).
QRectF label_box(QPointF at, int digits) { return {at.x(), at.y() - 7, 7.0 * digits + 2, 14}; }

// The landmark numbers beside their marks.  Each goes to the first place
// around its mark, nearest first, where it covers no number placed before
// it nor another mark; one that had to move away gets a thin line back.
void add_landmark_labels(Scene& s, const std::vector<QPointF>& marks, const std::vector<int>& numbers) {
    static const QPointF kDirections[] = {{1, -1}, {1, 1}, {-1, -1}, {-1, 1}, {1, 0}, {-1, 0}, {0, -1.2}, {0, 1.2}};
    std::vector<QRectF> taken;
    for (std::size_t j = 0; j < marks.size(); ++j) {
        const QString text = QString::number(j < numbers.size() ? numbers[j] : static_cast<int>(j) + 1);
        const QPointF p = marks[j];
        QRectF chosen;
        bool moved = false;
        for (int ring = 1; ring <= 4 && chosen.isNull(); ++ring)
            for (const QPointF& d : kDirections) {
                const double r = 9.0 * ring;
                const double w = 7.0 * text.size() + 2;
                // Boxes to the left end at the offset; the others start there.
                const QPointF at = p + QPointF(d.x() * r - (d.x() < 0 ? w : d.x() == 0 ? w / 2 : 0), d.y() * r);
                const QRectF box = label_box(at, static_cast<int>(text.size()));
                bool clear = std::none_of(taken.begin(), taken.end(), [&](const QRectF& t) { return t.intersects(box); });
                for (std::size_t k = 0; clear && k < marks.size(); ++k) clear = !box.adjusted(-3, -3, 3, 3).contains(marks[k]);
                if (!clear) continue;
                chosen = box;
                moved = ring > 1;
                break;
            }
        if (chosen.isNull()) chosen = label_box(p + QPointF(7, -9), static_cast<int>(text.size()));  // nowhere free: as before
        taken.push_back(chosen);
        if (moved) s.paths.push_back({QColor(150, 150, 150), 0.6, false, false, QColor(), {p, chosen.center()}});
        s.texts.push_back(
            {text, QPointF(chosen.left() + 1, chosen.center().y()), Qt::AlignLeft | Qt::AlignVCenter, SceneText::Role::Label});
    }
}

void add_axes(Scene& s, const QString& x_title, const QString& y_title, bool x_ticks, double y_title_offset) {
    const PlotFrame& f = s.frame;
    const QRectF& a = f.area;
    const QColor axis(90, 90, 90);
    s.paths.push_back({axis, 1.0, false, true, QColor(), {a.topLeft(), a.topRight(), a.bottomRight(), a.bottomLeft()}});
    if (x_ticks) {
        const double step = nice_step(f.x1 - f.x0, std::max(3, static_cast<int>(a.width() / 110)));
        for (double v = std::ceil(f.x0 / step) * step; v <= f.x1 + step * 1e-9; v += step) {
            const QPointF p = f.map(v, f.y0);
            s.paths.push_back({axis, 1.0, false, false, QColor(), {p, p + QPointF(0, 5)}});
            s.texts.push_back({tick_text(v, step), p + QPointF(0, 8), Qt::AlignHCenter | Qt::AlignTop, SceneText::Role::Tick});
        }
    }
    const double step = nice_step(f.y1 - f.y0, std::max(3, static_cast<int>(a.height() / 80)));
    for (double v = std::ceil(f.y0 / step) * step; v <= f.y1 + step * 1e-9; v += step) {
        const QPointF p = f.map(f.x0, v);
        s.paths.push_back({axis, 1.0, false, false, QColor(), {p, p - QPointF(5, 0)}});
        s.texts.push_back({tick_text(v, step), p - QPointF(8, 0), Qt::AlignRight | Qt::AlignVCenter, SceneText::Role::Tick});
    }
    s.texts.push_back({x_title, QPointF(a.center().x(), a.bottom() + 40), Qt::AlignCenter, SceneText::Role::AxisTitle});
    SceneText yt{y_title, QPointF(a.left() - y_title_offset, a.center().y()), Qt::AlignCenter, SceneText::Role::AxisTitle};
    yt.vertical = true;
    s.texts.push_back(yt);
}

// A swatch of each colour, or with `marks` the mark itself, as the groups'
// points are drawn.
void add_legend(Scene& s, const std::vector<QString>& names, const std::vector<QColor>& colors, bool marks) {
    const double x = s.frame.area.right() + 18;
    double y = s.frame.area.top() + 4;
    const int n = static_cast<int>(names.size());
    for (int i = 0; i < n; ++i, y += 20) {
        const auto k = static_cast<std::size_t>(i);
        const QRectF swatch(x, y, 12, 12);
        const Marker marker = marks ? group_marker(i, n) : Marker::Circle;
        s.legend.push_back({names[k], colors[k], swatch, marker});
        if (marks) s.dots.push_back({colors[k], 10.0, false, {swatch.center()}, {}, marker});
        else s.boxes.push_back({swatch, colors[k], colors[k].darker(130)});
        s.texts.push_back({names[k], QPointF(x + 18, y + 6), Qt::AlignLeft | Qt::AlignVCenter, SceneText::Role::Legend});
    }
}

std::vector<QString> group_names(const Grouping& g) {
    std::vector<QString> out;
    for (const auto& n : g.names) out.push_back(QString::fromStdString(n));
    return out;
}

std::vector<QColor> group_colors(int n) {
    std::vector<QColor> out;
    for (int i = 0; i < n; ++i) out.push_back(group_color(i));
    return out;
}

void add_wireframe(Scene& s, const Shape2& shape, const Links& links, QColor color, double width) {
    for (const auto& [a, b] : links)
        s.paths.push_back({color,
                           width,
                           false,
                           false,
                           QColor(),
                           {s.frame.map(shape[static_cast<std::size_t>(a)].x, shape[static_cast<std::size_t>(a)].y),
                            s.frame.map(shape[static_cast<std::size_t>(b)].x, shape[static_cast<std::size_t>(b)].y)}});
}

void shift(Scene& s, QPointF by) {
    for (auto& p : s.paths)
        for (auto& q : p.points) q += by;
    for (auto& d : s.dots)
        for (auto& q : d.points) q += by;
    for (auto& b : s.boxes) b.rect.translate(by);
    for (auto& t : s.texts) t.at += by;
    for (auto& e : s.legend) e.swatch.translate(by);
    s.frame.area.translate(by);
}

}  // namespace plot_parts

using namespace plot_parts;

void trim_to_frame(Scene& s) {
    const QRectF& a = s.frame.area;
    // The frame sits in the middle of the room the margins leave it.
    const double dy = a.top() - kTop, dx = a.left() - kLeft;
    if (dy > 1) {
        double bottom = s.size.height() - 2 * dy;
        for (const auto& e : s.legend) bottom = std::max(bottom, e.swatch.bottom() - dy + 8);
        shift(s, QPointF(0, -dy));
        s.size.setHeight(bottom);
    }
    if (dx > 1) {
        shift(s, QPointF(-dx, 0));
        s.size.setWidth(s.size.width() - 2 * dx);
    }
}

namespace plot_parts {

// The estimated landmarks of the specimens, ringed in red over their dots.
void add_estimated(Scene& s, const Superimposition& sup, const LandmarkMarks& marks) {
    if (marks.estimated.empty()) return;
    SceneDots ring{QColor(200, 30, 30), 8.0, true, {}, {}};
    for (const auto& [i, j] : marks.estimated) {
        if (i < 0 || i >= sup.specimens() || j < 0 || j >= sup.landmarks) continue;
        const Point2 p = sup.point(i, j);
        ring.points.push_back(s.frame.map(p.x, p.y));
        ring.specimens.push_back(i);
    }
    s.dots.push_back(std::move(ring));
}

// The consensus: fixed landmarks large and numbered, semilandmarks small.
void add_consensus(Scene& s, const Shape2& consensus, const LandmarkMarks& marks) {
    std::vector<bool> semi(consensus.size(), false);
    for (int j : marks.semilandmarks)
        if (j >= 0 && static_cast<std::size_t>(j) < semi.size()) semi[static_cast<std::size_t>(j)] = true;
    SceneDots fixed{QColor(20, 20, 20), 9.0, true, {}, {}}, sliding{QColor(20, 20, 20), 4.5, false, {}, {}};
    std::vector<int> numbers;
    for (std::size_t j = 0; j < consensus.size(); ++j) {
        const QPointF p = s.frame.map(consensus[j].x, consensus[j].y);
        if (semi[j]) {
            sliding.points.push_back(p);
            continue;
        }
        fixed.points.push_back(p);
        numbers.push_back(static_cast<int>(j) + 1);
    }
    add_landmark_labels(s, fixed.points, numbers);
    if (!sliding.points.empty()) s.dots.push_back(std::move(sliding));
    s.dots.push_back(std::move(fixed));
}

void add_superimposed(Scene& s, const Superimposition& sup, const Grouping& g, const Links& links, const LandmarkMarks& marks) {
    // Specimens first, one batch per group, so the consensus sits on top.
    const std::size_t first = s.dots.size();
    const int ng = std::max(1, g.groups());
    for (int k = 0; k < ng; ++k) s.dots.push_back({translucent(group_color(k), ng > 1 ? 200 : 150), 2.5, false, {}, {}});
    auto group_of = [&](Eigen::Index i) {
        const std::size_t gi = g.group_of.empty() ? 0 : static_cast<std::size_t>(g.group_of[static_cast<std::size_t>(i)]);
        return first + std::min(gi, static_cast<std::size_t>(ng - 1));
    };
    std::vector<std::size_t> counts(s.dots.size(), 0);
    for (Eigen::Index i = 0; i < sup.aligned.rows(); ++i) counts[group_of(i)] += static_cast<std::size_t>(sup.landmarks);
    for (std::size_t k = first; k < s.dots.size(); ++k) {
        s.dots[k].points.reserve(counts[k]);
        s.dots[k].specimens.reserve(counts[k]);
    }
    const PlotFrame& f = s.frame;
    // The frame's map, unrolled: this loop places every landmark of every specimen.
    const double sx = f.area.width() / (f.x1 - f.x0), sy = f.area.height() / (f.y1 - f.y0);
    const double ox = f.area.left() - f.x0 * sx, oy = f.area.bottom() + f.y0 * sy;
    for (Eigen::Index i = 0; i < sup.aligned.rows(); ++i) {
        auto& batch = s.dots[group_of(i)];
        const double* row = sup.aligned.row(i).data();
        for (int j = 0; j < sup.landmarks; ++j) {
            batch.points.emplace_back(ox + row[2 * j] * sx, oy - row[2 * j + 1] * sy);
            batch.specimens.push_back(static_cast<int>(i));
        }
    }
    add_estimated(s, sup, marks);
    add_wireframe(s, sup.consensus, links, QColor(20, 20, 20), 1.6);
    add_wireframe(s, sup.consensus, marks.curves, QColor(20, 20, 20), 1.0);
    add_consensus(s, sup.consensus, marks);
}

namespace {
const QColor kChangeColor(200, 60, 40);
}  // namespace

void add_change(Scene& s, const Shape2& consensus, const Shape2& target, const Links& links) {
    add_wireframe(s, target, links, QColor(20, 20, 20), 1.6);
    SceneDots from{QColor(120, 120, 120), 6.0, false, {}, {}}, to{QColor(20, 20, 20), 8.0, true, {}, {}};
    for (std::size_t j = 0; j < consensus.size(); ++j) {
        const QPointF a = s.frame.map(consensus[j].x, consensus[j].y), z = s.frame.map(target[j].x, target[j].y);
        s.paths.push_back({kChangeColor, 2.0, false, false, QColor(), {a, z}});
        from.points.push_back(a);
        to.points.push_back(z);
    }
    add_landmark_labels(s, to.points);
    s.dots.push_back(std::move(from));
    s.dots.push_back(std::move(to));
}

void add_change_legend(Scene& s) {
    add_legend(s, {QStringLiteral("Consensus"), QStringLiteral("Target"), QStringLiteral("Change")},
               {QColor(120, 120, 120), QColor(20, 20, 20), kChangeColor});
}

}  // namespace plot_parts

Scene superimposition_scene(const Superimposition& sup, const Grouping& g, const Links& links, QSizeF size,
                            const LandmarkMarks& marks) {
    Scene s;
    s.size = size;
    const bool legend = g.groups() > 1;
    Bounds b;
    for (Eigen::Index i = 0; i < sup.aligned.rows(); ++i)
        for (int j = 0; j < sup.landmarks; ++j) b.add(sup.aligned(i, 2 * j), sup.aligned(i, 2 * j + 1));
    for (const auto& p : sup.consensus) b.add(p);
    s.frame = equal_frame(b, plot_rect(size, legend));
    add_title(s, QStringLiteral("Superimposed specimens (%1 specimens, %2 landmarks)").arg(sup.specimens()).arg(sup.landmarks));
    add_axes(s, QStringLiteral("x (aligned)"), QStringLiteral("y (aligned)"));
    add_superimposed(s, sup, g, links, marks);
    if (legend) add_legend(s, group_names(g), group_colors(g.groups()));
    return s;
}

Scene components_scene(const PcaResult& pca, const Grouping& g, int pc_x, int pc_y, Outline outline, QSizeF size) {
    Scene s;
    s.size = size;
    const bool legend = g.groups() > 1;
    const int m = pca.components();
    pc_x = std::clamp(pc_x, 0, std::max(0, m - 1));
    pc_y = std::clamp(pc_y, 0, std::max(0, m - 1));
    auto score = [&](Eigen::Index i, int pc) { return m > 0 ? pca.scores(i, pc) : 0.0; };
    const int ng = std::max(1, g.groups());
    std::vector<Shape2> members(static_cast<std::size_t>(ng)), outlines(static_cast<std::size_t>(ng));
    Bounds b;
    for (Eigen::Index i = 0; i < pca.scores.rows(); ++i) {
        const std::size_t gi = g.group_of.empty() ? 0 : static_cast<std::size_t>(g.group_of[static_cast<std::size_t>(i)]);
        members[gi].push_back({score(i, pc_x), score(i, pc_y)});
        b.add(members[gi].back());
    }
    // The axes take in the outlines too, so no group's outline is cut off.
    if (outline != Outline::None)
        for (std::size_t k = 0; k < members.size(); ++k) {
            outlines[k] = outline == Outline::Hull ? convex_hull(members[k]) : data_ellipse(members[k]);
            for (const auto& p : outlines[k]) b.add(p);
        }
    s.frame = equal_frame(b, plot_rect(size, legend));
    add_title(s, QStringLiteral("Principal components of the aligned shapes"));
    auto axis_name = [&](int pc) {
        return m > 0 ? QStringLiteral("PC%1 (%2% of the variance)").arg(pc + 1).arg(pca.percent(pc), 0, 'f', 1)
                     : QStringLiteral("(no variation)");
    };
    add_axes(s, axis_name(pc_x), axis_name(pc_y));
    for (int k = 0; k < ng; ++k) s.dots.push_back({group_color(k), 7.0, false, {}, {}, group_marker(k, ng)});
    for (Eigen::Index i = 0; i < pca.scores.rows(); ++i) {
        const std::size_t gi = g.group_of.empty() ? 0 : static_cast<std::size_t>(g.group_of[static_cast<std::size_t>(i)]);
        s.dots[gi].points.push_back(s.frame.map(score(i, pc_x), score(i, pc_y)));
        s.dots[gi].specimens.push_back(static_cast<int>(i));
    }
    for (int k = 0; k < ng; ++k) {
        const Shape2& line = outlines[static_cast<std::size_t>(k)];
        if (line.size() < 2) continue;
        ScenePath path{group_color(k), 1.5, outline == Outline::Ellipse, true, translucent(group_color(k), 40), {}, true};
        for (const auto& p : line) path.points.push_back(s.frame.map(p.x, p.y));
        s.paths.push_back(std::move(path));
    }
    if (legend) add_legend(s, group_names(g), group_colors(g.groups()), g.groups() > 10);
    return s;
}

Scene scree_scene(const PcaResult& pca, QSizeF size) {
    Scene s;
    s.size = size;
    const int m = std::max(1, pca.components());
    const double top = pca.components() > 0 ? pca.percent(0) : 100.0;
    s.frame = free_frame(0.4, m + 0.6, 0, std::max(1.0, top * 1.1), plot_rect(size, false));
    add_title(s, QStringLiteral("Variance of each principal component"));
    add_axes(s, QStringLiteral("Principal component"), QStringLiteral("Percent of the variance"), false);
    const double step = std::max(1.0, nice_step(m, std::max(2, static_cast<int>(s.frame.area.width() / 60))));
    for (int c = 1; c <= m; ++c) {
        if (std::fmod(c - 1, step) != 0 && c != 1) continue;
        const QPointF p = s.frame.map(c, 0);
        s.texts.push_back({QString::number(c), p + QPointF(0, 8), Qt::AlignHCenter | Qt::AlignTop, SceneText::Role::Tick});
    }
    for (int c = 0; c < pca.components(); ++c) {
        const QPointF a = s.frame.map(c + 1 - 0.35, pca.percent(c)), z = s.frame.map(c + 1 + 0.35, 0);
        s.boxes.push_back({QRectF(a, z), QColor(70, 120, 180), QColor(40, 80, 130)});
        if (c < 8)
            s.texts.push_back({QString::number(pca.percent(c), 'f', 1), s.frame.map(c + 1, pca.percent(c)) - QPointF(0, 4),
                               Qt::AlignHCenter | Qt::AlignBottom, SceneText::Role::Label});
    }
    return s;
}

Scene shape_change_scene(const Shape2& consensus, const Shape2& target, const Links& links, const QString& title, QSizeF size) {
    Scene s;
    s.size = size;
    const ThinPlateSpline spline(consensus, target);
    const DeformationGrid grid = deformation_grid(spline, consensus, 22, 48, 0.12);
    Bounds b;
    for (const auto& line : grid.lines)
        for (const auto& p : line) b.add(p);
    for (const auto& p : target) b.add(p);
    s.frame = equal_frame(b, plot_rect(size, true));
    add_title(s, title);
    add_axes(s, QStringLiteral("x"), QStringLiteral("y"));
    for (const auto& line : grid.lines) {
        ScenePath path{QColor(150, 150, 150), 0.8, false, false, QColor(), {}};
        for (const auto& p : line) path.points.push_back(s.frame.map(p.x, p.y));
        s.paths.push_back(std::move(path));
    }
    add_change(s, consensus, target, links);
    add_change_legend(s);
    return s;
}

Scene histogram_scene(const StatisticDistribution& d, const QString& title, QSizeF size) {
    Scene s;
    s.size = size;
    const HistogramBins h = histogram_of(d);
    long long top = 1;
    for (long long c : h.counts) top = std::max(top, c);
    double lo = h.lo, hi = h.hi;
    if (std::isfinite(d.observed)) {
        lo = std::min(lo, d.observed);
        hi = std::max(hi, d.observed);
    }
    const double pad = (hi - lo) * 0.03;
    s.frame = free_frame(lo - pad, hi + pad, 0, static_cast<double>(top) * 1.12, plot_rect(size, false));
    add_title(s, title);
    add_axes(s, QStringLiteral("Value in each permutation"), QStringLiteral("Permutations"));
    for (std::size_t i = 0; i < h.counts.size(); ++i) {
        if (h.counts[i] == 0) continue;
        const double x0 = h.lo + h.width() * static_cast<double>(i);
        s.boxes.push_back({QRectF(s.frame.map(x0, static_cast<double>(h.counts[i])), s.frame.map(x0 + h.width(), 0)),
                           QColor(120, 150, 190), QColor(60, 90, 130)});
    }
    const QColor marker(200, 30, 30);
    if (std::isfinite(d.observed)) {
        const QPointF a = s.frame.map(d.observed, 0), z = s.frame.map(d.observed, s.frame.y1);
        s.paths.push_back({marker, 2.0, false, false, QColor(), {a, z}});
    }
    const QPointF at = s.frame.map(std::isfinite(d.observed) ? d.observed : s.frame.x0, s.frame.y1) + QPointF(6, 14);
    const bool left = at.x() > s.frame.area.center().x();
    const Qt::Alignment align = (left ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
    const QPointF shift = left ? QPointF(-12, 0) : QPointF(0, 0);
    s.texts.push_back(
        {QStringLiteral("Observed %1").arg(d.observed, 0, 'g', 6), at + shift, align, SceneText::Role::Note, marker});
    const bool counted = d.rule == PValueRule::ReachedWithObserved;  // never below 1 / (N + 1): no "p <"
    QString p = d.exceeded == 0 && !counted
                    ? QStringLiteral("p < %1").arg(1.0 / static_cast<double>(std::max(1LL, d.permutations)), 0, 'g', 3)
                : d.p_value() >= 0.001 ? QStringLiteral("p = %1").arg(d.p_value(), 0, 'f', 4)
                                       : QStringLiteral("p = %1").arg(d.p_value(), 0, 'g', 3);
    p += counted ? QStringLiteral(" (%1 of %2 permutations and the observed reached it)").arg(d.reached).arg(d.permutations)
                 : QStringLiteral(" (%1 of %2 permutations exceeded it)").arg(d.exceeded).arg(d.permutations);
    s.texts.push_back({p, at + shift + QPointF(0, 18), align, SceneText::Role::Note, marker});
    if (!d.kept())
        s.texts.push_back({QStringLiteral("Counted in bins as the permutations ran"), at + shift + QPointF(0, 36), align,
                           SceneText::Role::Note, QColor(90, 90, 90)});
    return s;
}

Scene regression_scene(const RegressionScores& r, QSizeF size) {
    Scene s;
    s.size = size;
    const int ng = std::max(1, static_cast<int>(r.levels.size()));
    const auto group = [&](std::size_t i) { return r.group_of.empty() ? 0 : r.group_of[i]; };
    Bounds b;
    for (std::size_t i = 0; i < r.x.size(); ++i) b.add(r.x[i], r.score[i]);
    const Bounds p = padded(b);
    s.frame = free_frame(p.xmin, p.xmax, p.ymin, p.ymax, plot_rect(size, ng > 1));
    add_title(s, QStringLiteral("Regression score of shape on %1").arg(QString::fromStdString(r.covariate)));
    add_axes(s, QString::fromStdString(r.covariate), QStringLiteral("Regression score"));
    for (int k = 0; k < ng; ++k) s.dots.push_back({group_color(k), 7.0, false, {}, {}, group_marker(k, ng)});
    for (std::size_t i = 0; i < r.x.size(); ++i) {
        auto& dots = s.dots[static_cast<std::size_t>(group(i))];
        dots.points.push_back(s.frame.map(r.x[i], r.score[i]));
        dots.specimens.push_back(static_cast<int>(i));
    }
    if (ng > 1) {
        std::vector<QString> names;
        for (const auto& l : r.levels) names.push_back(QString::fromStdString(r.factor + ": " + l));
        add_legend(s, names, group_colors(ng), ng > 10);
    }
    return s;
}

}  // namespace quillan
