#include "render/toolkit_plots.hpp"

#include "figures/outlines.hpp"
#include "render/plot_parts.hpp"
#include "render/space_plots.hpp"

#include <algorithm>
#include <cmath>

namespace quillan {

using namespace plot_parts;

namespace {

const QColor kFlagged(200, 30, 30);
const QColor kPlain(70, 120, 180);

// The flagged specimens' colour: red beside the one set's blue; among the
// groups' colours (red among them) black, the palette's fifteenth, which
// only a fifteenth group would share, and beyond that the estimated
// landmarks' purple, which no group has.
QColor flagged_color(int sets) { return sets <= 1 ? kFlagged : sets < 15 ? QColor(0, 0, 0) : kEstimatedColor; }

// Where each specimen of the sets goes along the axis: the sets one after
// another, a place left empty between two.
std::vector<std::vector<double>> outlier_places(const OutliersFigure& f, double& last) {
    std::vector<std::vector<double>> at;
    double x = 0;
    for (const auto& set : f.sets) {
        if (!at.empty()) x += 1;
        at.emplace_back();
        for (std::size_t k = 0; k < set.specimens.size(); ++k) at.back().push_back(++x);
    }
    last = x;
    return at;
}

std::vector<LegendItem> outlier_items(const OutliersFigure& f, const QString& factor) {
    std::vector<LegendItem> items;
    const int sets = static_cast<int>(f.sets.size());
    if (sets > 1) items.push_back({factor, QColor(), false, Marker::Circle, false, true});
    for (int k = 0; sets > 1 && k < sets; ++k)
        items.push_back(
            {QString::fromStdString(f.sets[static_cast<std::size_t>(k)].group), group_color(k), true, group_marker(k, sets)});
    bool any = false;
    for (const auto& set : f.sets) any = any || !set.flagged.empty();
    const QColor flagged = flagged_color(sets);
    items.push_back({any ? QStringLiteral("Flagged") : QStringLiteral("Flagged: none"), flagged, true, Marker::Circle, true});
    items.push_back({QStringLiteral("Limit: Q3 + 1.5 IQR"), flagged, false, Marker::Circle, false, false, Qt::DashLine});
    return items;
}

}  // namespace

Scene outlier_distances_scene(const OutliersFigure& f, const QString& title, QSizeF size, const QString& factor) {
    Scene s;
    s.size = size;
    double last = 0;
    const auto places = outlier_places(f, last);
    double top = 0;
    for (const auto& set : f.sets) {
        top = std::max(top, set.limit);
        for (double d : set.distances) top = std::max(top, d);
    }
    if (!(top > 0)) top = 1;
    const LegendPlan legend = lay_out(s, title, outlier_items(f, factor), [&](QRectF room) {
        // Room above the farthest for the names of the flagged.
        const double names = text_size(QStringLiteral("Xg"), SceneText::Role::Label).height() * 2 + kGap;
        const double high = top * room.height() / std::max(room.height() * 0.5, room.height() - names);
        return PlotFrame{room, 0.3, std::max(2.0, last + 0.7), 0, high};
    });
    const bool one = f.sets.size() == 1;
    add_axes(s, one ? QStringLiteral("Specimens, farthest first") : QStringLiteral("Specimens of each group, farthest first"),
             f.within_groups ? QStringLiteral("Procrustes distance from the group's mean")
                             : QStringLiteral("Procrustes distance from the mean"),
             one);
    const int sets = static_cast<int>(f.sets.size());
    const QColor flagged_ink = flagged_color(sets);
    SceneDots flagged{flagged_ink, 5.0 * kPoint, true, {}, {}};
    flagged.keep_clear = true;
    std::vector<QPointF> others;
    std::vector<QString> names;
    for (int k = 0; k < sets; ++k) {
        const auto& set = f.sets[static_cast<std::size_t>(k)];
        const auto& xs = places[static_cast<std::size_t>(k)];
        SceneDots plain{one ? kPlain : group_color(k), 4.0 * kPoint, false, {}, {}, group_marker(k, sets)};
        for (std::size_t j = 0; j < set.specimens.size(); ++j) {
            const int i = set.specimens[j];
            const QPointF p = s.frame.map(xs[j], set.distances[j]);
            const bool marked = std::find(set.flagged.begin(), set.flagged.end(), i) != set.flagged.end();
            SceneDots& batch = marked ? flagged : plain;
            batch.points.push_back(p);
            batch.specimens.push_back(i);
            if (marked) names.push_back(QString::fromStdString(f.names[static_cast<std::size_t>(i)]));
            else others.push_back(p);
        }
        if (!xs.empty())
            s.paths.push_back({flagged_ink,
                               1.2 * kPoint,
                               true,
                               false,
                               QColor(),
                               {s.frame.map(xs.front() - 0.5, set.limit), s.frame.map(xs.back() + 0.5, set.limit)}});
        s.dots.push_back(std::move(plain));
    }
    add_point_labels(s, flagged.points, flagged.size, names, others);
    s.dots.push_back(std::move(flagged));
    add_legend(s, legend, s.frame.area);
    return s;
}

namespace {

// The pairs that differ, each given the lowest level at which its bracket
// meets no other (two brackets ending at one bar never share a level).
struct Bracket {
    int a, b, level;
};
std::vector<Bracket> brackets_of(const DisparityFigure& f, int& levels) {
    std::vector<Bracket> out;
    for (const auto& p : f.pairs)
        if (p.p <= kMarkedP) out.push_back({std::min(p.a, p.b), std::max(p.a, p.b), 0});
    std::stable_sort(out.begin(), out.end(), [](const Bracket& x, const Bracket& y) { return x.b - x.a < y.b - y.a; });
    levels = 0;
    for (std::size_t k = 0; k < out.size(); ++k) {
        for (bool clash = true; clash; ++out[k].level) {
            clash = false;
            for (std::size_t j = 0; j < k; ++j)
                clash = clash || (out[j].level == out[k].level && out[j].a <= out[k].b && out[k].a <= out[j].b);
            if (!clash) break;
        }
        levels = std::max(levels, out[k].level + 1);
    }
    return out;
}

// A bar's name on two lines, broken after a hyphen or underscore or at a
// space where the longer line is shortest; the name whole when it has none.
std::pair<QString, QString> two_lines(const QString& name) {
    std::pair<QString, QString> best{name, QString()};
    double widest = text_size(name, SceneText::Role::Tick).width();
    for (qsizetype i = 1; i + 1 < name.size(); ++i) {
        const QChar c = name[i];
        if (c != QLatin1Char(' ') && c != QLatin1Char('-') && c != QLatin1Char('_')) continue;
        const QString first = c == QLatin1Char(' ') ? name.left(i) : name.left(i + 1), second = name.mid(i + 1);
        const double w =
            std::max(text_size(first, SceneText::Role::Tick).width(), text_size(second, SceneText::Role::Tick).width());
        if (w < widest) widest = w, best = {first, second};
    }
    return best;
}

// How the bars' names go under them: across, on two lines, or turned to
// read upward (their end at the tick), as the slot of a bar allows; and how
// much deeper than one line of ticks they reach (the longest turned name
// at most a third of the picture).
struct BarNames {
    enum class Way { Across, TwoLines, Turned } way = Way::Across;
    double depth = 0;
};
BarNames bar_names_of(const DisparityFigure& f, QSizeF size) {
    const double slot = (size.width() - 90) / static_cast<double>(std::max<std::size_t>(1, f.groups.size())) - kGap;
    const double tick = text_size(QStringLiteral("0"), SceneText::Role::Tick).height();
    double widest = 0, widest_line = 0;
    for (const auto& g : f.groups) {
        const QString name = QString::fromStdString(g);
        widest = std::max(widest, text_size(name, SceneText::Role::Tick).width());
        const auto [first, second] = two_lines(name);
        widest_line = std::max(
            {widest_line, text_size(first, SceneText::Role::Tick).width(), text_size(second, SceneText::Role::Tick).width()});
    }
    if (widest <= slot) return {};
    if (widest_line <= slot) return {BarNames::Way::TwoLines, tick};
    return {BarNames::Way::Turned, std::max(0.0, std::min(widest, size.height() / 3) - tick)};
}

void add_bar_names(Scene& s, const DisparityFigure& f, const BarNames& way) {
    const double slot = s.frame.area.width() / static_cast<double>(std::max<std::size_t>(1, f.groups.size()));
    const double tick = text_size(QStringLiteral("0"), SceneText::Role::Tick).height();
    for (std::size_t k = 0; k < f.groups.size(); ++k) {
        const QString name = QString::fromStdString(f.groups[k]);
        const QPointF at = s.frame.map(static_cast<double>(k) + 1, 0) + QPointF(0, kTickLength + 2);
        const auto across = [&](const QString& text, QPointF where) {
            s.texts.push_back({fitted(text, SceneText::Role::Tick, slot - kGap), where, Qt::AlignHCenter | Qt::AlignTop,
                               SceneText::Role::Tick});
        };
        if (way.way == BarNames::Way::Across) {
            across(name, at);
        } else if (way.way == BarNames::Way::TwoLines) {
            const auto [first, second] = two_lines(name);
            across(first, at);
            if (!second.isEmpty()) across(second, at + QPointF(0, tick));
        } else {
            // Shortened only where even turned it is too long.
            SceneText t{fitted(name, SceneText::Role::Tick, way.depth + tick), at, Qt::AlignRight | Qt::AlignVCenter,
                        SceneText::Role::Tick};
            t.vertical = true;
            s.texts.push_back(t);
        }
    }
}

}  // namespace

Scene disparity_scene(const DisparityFigure& f, const QString& title, const QString& groups_title, QSizeF size) {
    Scene s;
    s.size = size;
    const int k = std::max(1, static_cast<int>(f.groups.size()));
    double top = 0;
    for (double v : f.variance) top = std::max(top, v);
    if (!(top > 0)) top = 1;
    int levels = 0;
    const std::vector<Bracket> brackets = brackets_of(f, levels);
    std::vector<QString> values;
    double widest = 0;
    for (double v : f.variance) {
        values.push_back(QString::number(v, 'g', 3));
        widest = std::max(widest, text_size(values.back(), SceneText::Role::Label).width());
    }
    const double label = text_size(QStringLiteral("0"), SceneText::Role::Label).height();
    const double step = label + 3;
    int shown = levels;
    const BarNames names = bar_names_of(f, size);
    lay_out(s, title, {}, [&](QRectF room) {
        room.setBottom(room.bottom() - names.depth);
        // The values over the bars, then a level of brackets above another.
        shown = std::clamp(static_cast<int>((room.height() * 0.6 - label - 2 * kGap) / step), 0, levels);
        const double headroom = label + 2 * kGap + shown * step;
        return PlotFrame{room, 0.4, k + 0.6, 0, top * room.height() / std::max(1.0, room.height() - headroom)};
    });
    QString below = groups_title;
    if (shown < levels) {
        std::size_t left = 0;
        for (const auto& b : brackets) left += b.level >= shown ? 1 : 0;
        below += QStringLiteral(" (%1 more pairs differ: see the report)").arg(left);
    }
    add_axes(s, below, QStringLiteral("Procrustes variance"), false, true, names.depth);
    add_bar_names(s, f, names);
    const bool room_for_values = widest + kGap < s.frame.area.width() / k;
    for (std::size_t g = 0; g < f.variance.size(); ++g) {
        const double x = static_cast<double>(g) + 1;
        s.boxes.push_back(
            {QRectF(s.frame.map(x - 0.35, f.variance[g]), s.frame.map(x + 0.35, 0)), QColor(120, 150, 190), QColor(60, 90, 130)});
        if (room_for_values)
            s.texts.push_back({values[g], s.frame.map(x, f.variance[g]) - QPointF(0, 2), Qt::AlignHCenter | Qt::AlignBottom,
                               SceneText::Role::Label});
    }
    const double base = s.frame.map(0, top).y() - label - 2 * kGap;
    for (const auto& b : brackets) {
        if (b.level >= shown) continue;
        const double y = base - b.level * step, xa = s.frame.map(b.a + 1, 0).x(), xb = s.frame.map(b.b + 1, 0).x();
        s.paths.push_back(
            {kFlagged, 1.0 * kPoint, false, false, QColor(), {{xa + 2, y + 4}, {xa + 2, y}, {xb - 2, y}, {xb - 2, y + 4}}});
        s.texts.push_back({QStringLiteral("*"), QPointF((xa + xb) / 2, y + 1), Qt::AlignHCenter | Qt::AlignBottom,
                           SceneText::Role::Label, kFlagged});
    }
    return s;
}

namespace {

Grouping grouping_of(const FigureGroups& g, std::size_t specimens) {
    Grouping out;
    out.names = g.names;
    out.group_of = g.group_of;
    if (out.names.empty() || out.group_of.size() != specimens) {
        out.names = {"All specimens"};
        out.group_of.assign(specimens, 0);
    }
    return out;
}

// The points, one batch of marks per group, each named by its specimen.
void add_group_points(Scene& s, const Grouping& g, const std::vector<double>& x, const std::vector<double>& y) {
    const int ng = g.groups();
    const std::size_t first = s.dots.size();
    for (int k = 0; k < ng; ++k)
        s.dots.push_back({ng > 1 ? group_color(k) : kPlain, 4.5 * kPoint, false, {}, {}, group_marker(k, ng)});
    for (std::size_t i = 0; i < x.size(); ++i) {
        auto& d = s.dots[first + static_cast<std::size_t>(g.group_of[i])];
        d.points.push_back(s.frame.map(x[i], y[i]));
        d.specimens.push_back(static_cast<int>(i));
    }
}

std::vector<LegendItem> legend_of(const Grouping& g, const QString& factor) {
    return g.groups() > 1 ? group_items(g, g.groups() > 10, factor) : std::vector<LegendItem>{};
}

QString variate_axis(const CvaFigure& f, int v) {
    return QStringLiteral("CV%1 (%2% of the eigenvalues)").arg(v + 1).arg(f.percent[static_cast<std::size_t>(v)], 0, 'f', 1);
}

// Two groups, one variate: each group's scores counted in bins, the
// groups' bars over each other, translucent.
Scene cva_histogram_scene(const CvaFigure& f, const QString& title, QSizeF size, const QString& factor) {
    Scene s;
    s.size = size;
    const auto n = static_cast<std::size_t>(f.scores.rows());
    const Grouping g = grouping_of(f.groups, n);
    double lo = n ? f.scores.col(0).minCoeff() : 0, hi = n ? f.scores.col(0).maxCoeff() : 1;
    if (!(hi > lo)) hi = lo + 1;
    const int bins = std::clamp(static_cast<int>(std::lround(2 * std::cbrt(static_cast<double>(n)))), 8, 30);
    const double width = (hi - lo) / bins;
    std::vector<std::vector<int>> counts(static_cast<std::size_t>(g.groups()), std::vector<int>(static_cast<std::size_t>(bins)));
    int top = 1;
    for (std::size_t i = 0; i < n; ++i) {
        const int b = std::clamp(static_cast<int>((f.scores(static_cast<Eigen::Index>(i), 0) - lo) / width), 0, bins - 1);
        top = std::max(top, ++counts[static_cast<std::size_t>(g.group_of[i])][static_cast<std::size_t>(b)]);
    }
    const double pad = (hi - lo) * 0.04;
    const LegendPlan legend = lay_out(s, title, legend_of(g, factor), [&](QRectF room) {
        return PlotFrame{room, lo - pad, hi + pad, 0, top * 1.08};
    });
    add_axes(s, f.percent.empty() ? QStringLiteral("CV1") : variate_axis(f, 0), QStringLiteral("Specimens"));
    for (int k = 0; k < g.groups(); ++k)
        for (int b = 0; b < bins; ++b) {
            const int c = counts[static_cast<std::size_t>(k)][static_cast<std::size_t>(b)];
            if (c == 0) continue;
            const double x0 = lo + b * width;
            s.boxes.push_back({QRectF(s.frame.map(x0, c), s.frame.map(x0 + width, 0)), translucent(group_color(k), 110),
                               group_color(k).darker(130)});
        }
    add_legend(s, legend, s.frame.area);
    return s;
}

}  // namespace

Scene cva_scene(const CvaFigure& f, const QString& title, QSizeF size, const QString& factor) {
    if (f.scores.cols() < 2) return cva_histogram_scene(f, title, size, factor);
    Scene s;
    s.size = size;
    const auto n = static_cast<std::size_t>(f.scores.rows());
    const Grouping g = grouping_of(f.groups, n);
    std::vector<double> x(n), y(n);
    std::vector<Shape2> members(static_cast<std::size_t>(g.groups()));
    Bounds b;
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = f.scores(static_cast<Eigen::Index>(i), 0);
        y[i] = f.scores(static_cast<Eigen::Index>(i), 1);
        members[static_cast<std::size_t>(g.group_of[i])].push_back({x[i], y[i]});
        b.add(x[i], y[i]);
    }
    std::vector<Shape2> outlines;
    for (const Shape2& m : members) {
        outlines.push_back(data_ellipse(m));
        for (const auto& p : outlines.back()) b.add(p);
    }
    const LegendPlan legend = lay_out(s, title, legend_of(g, factor), [&](QRectF room) { return equal_frame(b, room); });
    add_axes(s, variate_axis(f, 0), variate_axis(f, 1));
    add_group_points(s, g, x, y);
    for (std::size_t k = 0; k < outlines.size(); ++k) {
        if (outlines[k].size() < 2) continue;
        const QColor c = group_color(static_cast<int>(k));
        ScenePath path{c, kPoint, true, true, translucent(c, 40), {}, true};
        for (const auto& p : outlines[k]) path.points.push_back(s.frame.map(p.x, p.y));
        s.paths.push_back(std::move(path));
    }
    add_legend(s, legend, s.frame.area);
    return s;
}

Scene pls_scene(const PlsFigure& f, const QString& title, QSizeF size, const QString& factor) {
    Scene s;
    s.size = size;
    const Grouping g = grouping_of(f.groups, f.x.size());
    Bounds b;
    for (std::size_t i = 0; i < f.x.size(); ++i) b.add(f.x[i], f.y[i]);
    const Bounds p = padded(b);
    const LegendPlan legend = lay_out(s, title, legend_of(g, factor), [&](QRectF room) {
        return PlotFrame{room, p.xmin, p.xmax, p.ymin, p.ymax};
    });
    add_axes(s, QString::fromStdString(f.block1) + QStringLiteral(": PLS1 score"),
             QString::fromStdString(f.block2) + QStringLiteral(": PLS1 score"));
    add_group_points(s, g, f.x, f.y);
    add_legend(s, legend, s.frame.area);
    return s;
}

Scene measurement_error_scene(const MeasurementErrorFigure& f, const QString& title, QSizeF size) {
    Scene s;
    s.size = size;
    const Grouping g = grouping_of({f.replicates, f.replicate}, f.x.size());
    Bounds b;
    for (std::size_t i = 0; i < f.x.size(); ++i) b.add(f.x[i], f.y[i]);
    const Bounds p = padded(b);
    const LegendPlan legend = lay_out(s, title, legend_of(g, QStringLiteral("Replicate")), [&](QRectF room) {
        return PlotFrame{room, p.xmin, p.xmax, p.ymin, p.ymax};
    });
    const auto axis = [&](int k) {
        return QStringLiteral("PC%1 (%2%)")
            .arg(k + 1)
            .arg(k < static_cast<int>(f.percent.size()) ? f.percent[static_cast<std::size_t>(k)] : 0.0, 0, 'f', 1);
    };
    add_axes(s, axis(0), axis(1));
    std::vector<std::vector<std::pair<int, std::size_t>>> members;  // per subject: (replicate, specimen)
    for (std::size_t i = 0; i < f.x.size(); ++i) {
        const auto subject = static_cast<std::size_t>(f.subject[i]);
        if (members.size() <= subject) members.resize(subject + 1);
        members[subject].push_back({f.replicate[i], i});
    }
    for (auto& m : members) {
        if (m.size() < 2) continue;
        std::stable_sort(m.begin(), m.end());
        ScenePath path;
        path.color = QColor(150, 150, 150);
        path.width = 0.75 * kPoint;
        for (const auto& [replicate, i] : m) path.points.push_back(s.frame.map(f.x[i], f.y[i]));
        s.paths.push_back(std::move(path));
    }
    add_group_points(s, g, f.x, f.y);
    add_legend(s, legend, s.frame.area);
    return s;
}

Scene allometry_scene(const AllometryFigure& f, std::size_t score, const QString& title, QSizeF size, const QString& factor) {
    Scene s;
    s.size = size;
    const std::vector<double>& y = f.scores[score].y;
    const Grouping g = grouping_of(f.groups, f.x.size());
    Bounds b;
    for (std::size_t i = 0; i < f.x.size(); ++i) b.add(f.x[i], y[i]);
    const Bounds p = padded(b);
    const LegendPlan legend = lay_out(s, title, legend_of(g, factor), [&](QRectF room) {
        return PlotFrame{room, p.xmin, p.xmax, p.ymin, p.ymax};
    });
    add_axes(s, QString::fromStdString(f.size), QString::fromStdString(f.scores[score].name));
    for (int k = 0; k < g.groups(); ++k) {
        double n = 0, mx = 0, my = 0, sxx = 0, sxy = 0, lo = 0, hi = 0;
        for (std::size_t i = 0; i < f.x.size(); ++i)
            if (g.group_of[i] == k) {
                lo = n == 0 ? f.x[i] : std::min(lo, f.x[i]);
                hi = n == 0 ? f.x[i] : std::max(hi, f.x[i]);
                n += 1, mx += f.x[i], my += y[i];
            }
        if (n < 2) continue;
        mx /= n, my /= n;
        for (std::size_t i = 0; i < f.x.size(); ++i)
            if (g.group_of[i] == k) sxx += (f.x[i] - mx) * (f.x[i] - mx), sxy += (f.x[i] - mx) * (y[i] - my);
        if (sxx <= 0) continue;
        const double slope = sxy / sxx;
        const QColor c = g.groups() > 1 ? group_color(k) : QColor(Qt::black);
        s.paths.push_back({c,
                           1.5 * kPoint,
                           false,
                           false,
                           QColor(),
                           {s.frame.map(lo, my + slope * (lo - mx)), s.frame.map(hi, my + slope * (hi - mx))},
                           true});
    }
    add_group_points(s, g, f.x, y);
    add_legend(s, legend, s.frame.area);
    return s;
}

Scene figure_shapes_scene(const FigureShapes& shapes, double magnification, const Links& links, const QString& title, QSizeF size,
                          const ChangeNames& names) {
    const Eigen::RowVectorXd to = magnify(shapes.from, shapes.to, magnification);
    if (shapes.dimensions == 3) return space_shape_change_scene(shapes.from, to, links, title, size);
    return shape_change_scene(view_of_row(shapes.from, 2, 0, 1), view_of_row(to, 2, 0, 1), links, title, size, names);
}

}  // namespace quillan
