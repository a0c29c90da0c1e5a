#include "render/plots.hpp"

#include "figures/outlines.hpp"
#include "figures/spline.hpp"
#include "render/plot_parts.hpp"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <functional>

namespace quillan {

using namespace plot_parts;

namespace {

// A shape picture as `draw` makes it in a scene of `size`, given the room
// to keep free at the foot; made again with room for a note there when some
// landmark numbers had no place, the note listing them.
Scene noting_left_out(QSizeF size, const std::function<std::vector<int>(Scene&, double)>& draw) {
    double foot = 0;
    for (int attempt = 0;; ++attempt) {
        Scene s;
        s.size = size;
        const QString note = left_out_note(draw(s, foot));
        const double need = note_height(note, size);
        if (need > foot && attempt < 2) {
            foot = need;
            continue;
        }
        add_note(s, title_lines(note, size.width() - 2 * kPad, SceneText::Role::Note));
        return s;
    }
}

QRectF above_foot(QRectF room, double foot) {
    room.setBottom(std::max(room.top() + 10, room.bottom() - foot));
    return room;
}

}  // namespace

Scene superimposition_scene(const Superimposition& sup, const Grouping& g, const Links& links, QSizeF size,
                            const LandmarkMarks& marks) {
    Bounds b;
    for (Eigen::Index i = 0; i < sup.aligned.rows(); ++i)
        for (int j = 0; j < sup.landmarks; ++j) b.add(sup.aligned(i, 2 * j), sup.aligned(i, 2 * j + 1));
    for (const auto& p : sup.consensus) b.add(p);
    std::vector<LegendItem> items = g.groups() > 1 ? group_items(g) : std::vector<LegendItem>{};
    add_estimated_item(items, marks);
    return noting_left_out(size, [&](Scene& s, double foot) {
        const LegendPlan legend = lay_out(
            s, QStringLiteral("Superimposed specimens (%1 specimens, %2 landmarks)").arg(sup.specimens()).arg(sup.landmarks),
            items, [&](QRectF room) { return equal_frame(b, above_foot(room, foot)); });
        add_axes(s, QStringLiteral("x (aligned)"), QStringLiteral("y (aligned)"));
        std::vector<int> left_out = add_superimposed(s, sup, g, links, marks);
        add_legend(s, legend, s.frame.area);
        return left_out;
    });
}

Scene components_scene(const PcaResult& pca, const Grouping& g, int pc_x, int pc_y, Outline outline, QSizeF size) {
    Scene s;
    s.size = size;
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
    const LegendPlan legend = lay_out(s, QStringLiteral("Principal components of the aligned shapes"),
                                      g.groups() > 1 ? group_items(g, g.groups() > 10) : std::vector<LegendItem>{},
                                      [&](QRectF room) { return equal_frame(b, room); });
    auto axis_name = [&](int pc) {
        return m > 0 ? QStringLiteral("PC%1 (%2% of the variance)").arg(pc + 1).arg(pca.percent(pc), 0, 'f', 1)
                     : QStringLiteral("(no variation)");
    };
    add_axes(s, axis_name(pc_x), axis_name(pc_y));
    for (int k = 0; k < ng; ++k) s.dots.push_back({group_color(k), 4.5 * kPoint, false, {}, {}, group_marker(k, ng)});
    for (Eigen::Index i = 0; i < pca.scores.rows(); ++i) {
        const std::size_t gi = g.group_of.empty() ? 0 : static_cast<std::size_t>(g.group_of[static_cast<std::size_t>(i)]);
        s.dots[gi].points.push_back(s.frame.map(score(i, pc_x), score(i, pc_y)));
        s.dots[gi].specimens.push_back(static_cast<int>(i));
    }
    for (int k = 0; k < ng; ++k) {
        const Shape2& line = outlines[static_cast<std::size_t>(k)];
        if (line.size() < 2) continue;
        ScenePath path{group_color(k), kPoint, outline == Outline::Ellipse, true, translucent(group_color(k), 40), {}, true};
        for (const auto& p : line) path.points.push_back(s.frame.map(p.x, p.y));
        s.paths.push_back(std::move(path));
    }
    add_legend(s, legend, s.frame.area);
    return s;
}

namespace {

// The number over each of the first bars: across where every number fits
// beside the next, else turned to read upwards (a narrow bar has room for
// its number's height, not its width).
struct ScreeValues {
    std::vector<QString> texts;
    bool turned = false;
    double headroom = 0;  // above the tallest bar
};
ScreeValues scree_values(const PcaResult& pca, double slot) {
    ScreeValues v;
    double widest = 0;
    for (int c = 0; c < std::min(pca.components(), 12); ++c) {
        v.texts.push_back(QString::number(pca.percent(c), 'f', 1));
        widest = std::max(widest, text_size(v.texts.back(), SceneText::Role::Label).width());
    }
    const double high = text_size(QStringLiteral("0"), SceneText::Role::Label).height();
    v.turned = widest + kGap > slot;
    if (v.turned && high + 2 > slot) v.texts.clear();  // too many bars for any number
    v.headroom = (v.turned ? widest : high) + kGap;
    return v;
}

void add_scree_values(Scene& s, const PcaResult& pca, const ScreeValues& v) {
    for (std::size_t c = 0; c < v.texts.size(); ++c) {
        const int k = static_cast<int>(c);
        SceneText t{v.texts[c], s.frame.map(k + 1, pca.percent(k)) - QPointF(0, 2),
                    v.turned ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignHCenter | Qt::AlignBottom, SceneText::Role::Label};
        t.vertical = v.turned;
        s.texts.push_back(t);
    }
}

}  // namespace

Scene scree_scene(const PcaResult& pca, QSizeF size) {
    Scene s;
    s.size = size;
    const int m = std::max(1, pca.components());
    const double top = pca.components() > 0 ? pca.percent(0) : 100.0;
    ScreeValues values;
    lay_out(s, QStringLiteral("Variance of each principal component"), {}, [&](QRectF room) {
        values = scree_values(pca, room.width() / (m + 0.2));
        const double high = std::max(1.0, top) * room.height() / std::max(1.0, room.height() - values.headroom);
        return PlotFrame{room, 0.4, m + 0.6, 0, high};
    });
    add_axes(s, QStringLiteral("Principal component"), QStringLiteral("Percent of the variance"), false);
    double right = -1e9;
    for (int c = 1; c <= m; ++c) {
        const SceneText t{QString::number(c), s.frame.map(c, 0) + QPointF(0, kTickLength + 2), Qt::AlignHCenter | Qt::AlignTop,
                          SceneText::Role::Tick};
        const QRectF box = text_box(t);
        // Every component numbered where the numbers have room, else as many as do.
        if (box.left() < right + kGap) continue;
        right = box.right();
        s.texts.push_back(t);
    }
    for (int c = 0; c < pca.components(); ++c) {
        const QPointF a = s.frame.map(c + 1 - 0.35, pca.percent(c)), z = s.frame.map(c + 1 + 0.35, 0);
        s.boxes.push_back({QRectF(a, z), QColor(70, 120, 180), QColor(40, 80, 130)});
    }
    add_scree_values(s, pca, values);
    return s;
}

Scene shape_change_scene(const Shape2& consensus, const Shape2& target, const Links& links, const QString& title, QSizeF size,
                         const ChangeNames& names) {
    const ThinPlateSpline spline(consensus, target);
    const DeformationGrid grid = deformation_grid(spline, consensus, 22, 48, 0.12);
    Bounds b;
    for (const auto& line : grid.lines)
        for (const auto& p : line) b.add(p);
    for (const auto& p : target) b.add(p);
    return noting_left_out(size, [&](Scene& s, double foot) {
        const LegendPlan legend = lay_out(s, title, change_items(names.from, names.to),
                                          [&](QRectF room) { return equal_frame(b, above_foot(room, foot)); });
        add_axes(s, QStringLiteral("x"), QStringLiteral("y"));
        for (const auto& line : grid.lines) {
            ScenePath path{QColor(150, 150, 150), 0.6 * kPoint, false, false, QColor(), {}};
            for (const auto& p : line) path.points.push_back(s.frame.map(p.x, p.y));
            s.paths.push_back(std::move(path));
        }
        std::vector<int> left_out = add_change(s, consensus, target, links);
        add_legend(s, legend, s.frame.area);
        return left_out;
    });
}

namespace {

// What the histogram says beside its observed value: the value, the p-value
// and how it was reached, a line each.
std::vector<QString> histogram_notes(const StatisticDistribution& d) {
    std::vector<QString> lines{QStringLiteral("Observed %1").arg(d.observed, 0, 'g', 6)};
    const bool counted = d.rule != PValueRule::Exceeded;  // never below 1 / (N + 1): no "p <"
    QString p = d.exceeded == 0 && !counted
                    ? QStringLiteral("p < %1").arg(1.0 / static_cast<double>(std::max(1LL, d.permutations)), 0, 'g', 3)
                : d.p_value() >= 0.001 ? QStringLiteral("p = %1").arg(d.p_value(), 0, 'f', 4)
                                       : QStringLiteral("p = %1").arg(d.p_value(), 0, 'g', 3);
    lines.push_back(p);
    // Counts as the axis writes them, with thousands separated: "9,999".
    const QLocale english(QLocale::English);
    const QString reached = english.toString(d.reached), exceeded = english.toString(d.exceeded),
                  all = english.toString(d.permutations);
    lines.push_back(d.rule == PValueRule::AtMostWithObserved
                        ? QStringLiteral("(%1 of %2 and the observed \u2264 it, ties at half)").arg(reached, all)
                    : counted ? QStringLiteral("(%1 of %2 permutations and the observed reached it)").arg(reached, all)
                              : QStringLiteral("(%1 of %2 permutations exceeded it)").arg(exceeded, all));
    if (!d.kept()) lines.push_back(QStringLiteral("Counted in bins as the permutations ran"));
    return lines;
}

// What a histogram's axis counts: the statistic of its title, short ("F",
// "Explained SS"), over the permutations.
QString permutations_axis(const QString& title, long long permutations) {
    QString name = title.mid(title.lastIndexOf(QStringLiteral(": ")) + 1).trimmed();
    for (const char* end : {" of ", ", ", " ("})
        if (const auto at = name.indexOf(QLatin1String(end)); at > 0) name.truncate(at);
    if (name.startsWith(QStringLiteral("F ratio"))) name = QStringLiteral("F");
    else if (name.isEmpty()) name = QStringLiteral("Value");
    else if (!name.startsWith(QStringLiteral("r-"))) name[0] = name[0].toUpper();
    return QStringLiteral("%1 over %2 permutation%3")
        .arg(name, QLocale(QLocale::English).toString(permutations), permutations == 1 ? QString() : QStringLiteral("s"));
}

// The notes at the top of the frame, on the side of the observed value's
// line with more room, over the headroom left above the bars.
void add_histogram_notes(Scene& s, const StatisticDistribution& d, const std::vector<QString>& lines) {
    const QRectF& a = s.frame.area;
    const double x = std::isfinite(d.observed) ? std::clamp(s.frame.map(d.observed, 0).x(), a.left(), a.right()) : a.left();
    const bool left = x - a.left() > a.right() - x;
    const double width = (left ? x - a.left() : a.right() - x) - 2 * kGap;
    const double h = text_size(QStringLiteral("Xg"), SceneText::Role::Note).height();
    const QColor marker(200, 30, 30);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const QPointF at(left ? x - kGap : x + kGap, a.top() + kGap + h * static_cast<double>(i));
        s.texts.push_back({fitted(lines[i], SceneText::Role::Note, width), at,
                           (left ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop, SceneText::Role::Note,
                           i < 3 ? marker : QColor(90, 90, 90)});
    }
}

}  // namespace

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
    const std::vector<QString> notes = histogram_notes(d);
    // The bars stay below the notes.
    const double headroom =
        text_size(QStringLiteral("Xg"), SceneText::Role::Note).height() * static_cast<double>(notes.size()) + 3 * kGap;
    lay_out(s, title, {}, [&](QRectF room) {
        const double bars = std::max(room.height() * 0.3, room.height() - headroom);
        return PlotFrame{room, lo - pad, hi + pad, 0, static_cast<double>(top) * room.height() / bars};
    });
    add_axes(s, permutations_axis(title, d.permutations), QStringLiteral("Permutations"));
    for (std::size_t i = 0; i < h.counts.size(); ++i) {
        if (h.counts[i] == 0) continue;
        const double x0 = h.lo + h.width() * static_cast<double>(i);
        s.boxes.push_back({QRectF(s.frame.map(x0, static_cast<double>(h.counts[i])), s.frame.map(x0 + h.width(), 0)),
                           QColor(120, 150, 190), QColor(60, 90, 130)});
    }
    if (std::isfinite(d.observed)) {
        const QPointF a = s.frame.map(d.observed, 0), z = s.frame.map(d.observed, s.frame.y1);
        s.paths.push_back({QColor(200, 30, 30), 1.5 * kPoint, false, false, QColor(), {a, z}});
    }
    add_histogram_notes(s, d, notes);
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
    std::vector<LegendItem> items;
    for (int k = 0; ng > 1 && k < ng; ++k)
        items.push_back({QString::fromStdString(r.factor + ": " + r.levels[static_cast<std::size_t>(k)]), group_color(k), ng > 10,
                         group_marker(k, ng)});
    const LegendPlan legend =
        lay_out(s, QStringLiteral("Regression score of shape on %1").arg(QString::fromStdString(r.covariate)), std::move(items),
                [&](QRectF room) {
                    return PlotFrame{room, p.xmin, p.xmax, p.ymin, p.ymax};
                });
    add_axes(s, QString::fromStdString(r.covariate), QStringLiteral("Regression score"));
    for (int k = 0; k < ng; ++k) s.dots.push_back({group_color(k), 4.5 * kPoint, false, {}, {}, group_marker(k, ng)});
    for (std::size_t i = 0; i < r.x.size(); ++i) {
        auto& dots = s.dots[static_cast<std::size_t>(group(i))];
        dots.points.push_back(s.frame.map(r.x[i], r.score[i]));
        dots.specimens.push_back(static_cast<int>(i));
    }
    add_legend(s, legend, s.frame.area);
    return s;
}

}  // namespace quillan
