#include "render/space_plots.hpp"

#include "render/plot_parts.hpp"

#include <algorithm>
#include <array>
#include <limits>

namespace quillan {

using namespace plot_parts;

namespace {

// The room around each view's frame: its ticks and axis titles left and
// below, its name above, a gap to the right.
struct ViewMargins {
    double left, right, top, bottom;
};
ViewMargins view_margins() {
    const Margins m = frame_margins(0, text_size(QStringLiteral("-0.00"), SceneText::Role::Tick).width(), 0);
    return {m.left, 3 * kGap, text_size(QStringLiteral("Xg"), SceneText::Role::AxisTitle).height() + kGap, m.bottom};
}

QString axis_title(int axis) {
    static const char* names[] = {"x (aligned)", "y (aligned)", "z (aligned)"};
    return QString::fromLatin1(names[axis]);
}

// Where each view goes: in a row (front, side, top), or in two rows and
// columns as on a technical drawing (the top above the front, the side to
// its right), so that the views sharing an axis line up along it.  Each view
// takes a cell; the layout that draws the landmarks larger is chosen.
struct Layout {
    int columns, rows;
    QPoint cell[3];
};
constexpr Layout kRow{3, 1, {{0, 0}, {1, 0}, {2, 0}}};
constexpr Layout kGrid{2, 2, {{0, 1}, {1, 1}, {0, 0}}};

struct Placed {
    std::array<PlotFrame, 3> frames;
    double scale = 0;
    QRectF legend_beside;  // the legend goes right of it, level with its top
};

// Every view drawn at the one scale that fits them all, each frame centred
// in its cell, and the whole centred in the room left by the margins (so
// that trimming a picture file keeps the margins a lone frame has).
Placed place(const std::array<Bounds, 3>& b, QSizeF size, const LegendPlan& legend, double top, const Layout& layout) {
    const ViewMargins m = view_margins();
    // In two rows and columns the legend takes the empty cell when it fits there.
    const bool grid = layout.rows > 1;
    const double whole = size.width() - kPad;
    const bool in_cell = grid && legend.width() + 2 * kGap <= whole / 2 && legend.height() <= (size.height() - top) / 2;
    const double right = whole - (legend.items.empty() || in_cell ? 0 : legend.width() + 2 * kGap);
    const double cw = std::max(40.0, right / layout.columns), ch = std::max(40.0, (size.height() - top) / layout.rows);
    const double w = std::max(10.0, cw - m.left - m.right), h = std::max(10.0, ch - m.top - m.bottom);
    Placed p;
    p.scale = std::numeric_limits<double>::infinity();
    for (const Bounds& v : b) p.scale = std::min({p.scale, w / v.width(), h / v.height()});
    QRectF around;
    for (std::size_t v = 0; v < 3; ++v) {
        const double fw = b[v].width() * p.scale, fh = b[v].height() * p.scale;
        // In a row the frames are centred in their cells; in two rows and
        // columns they are drawn together toward the middle.
        const double left = layout.cell[v].x() * cw + m.left, cell_top = top + layout.cell[v].y() * ch + m.top;
        const double x = !grid ? left + (w - fw) / 2 : layout.cell[v].x() == 0 ? left + w - fw : left;
        const double y = !grid ? cell_top + (h - fh) / 2 : layout.cell[v].y() == 0 ? cell_top + h - fh : cell_top;
        p.frames[v] = {QRectF(x, y, fw, fh), b[v].xmin, b[v].xmax, b[v].ymin, b[v].ymax};
        around = around.isNull() ? p.frames[v].area : around.united(p.frames[v].area);
    }
    // The views together in the middle of the room the margins leave.
    const QRectF room(m.left, top + m.top, right - m.left - m.right, size.height() - top - m.top - m.bottom);
    const QPointF by = room.center() - around.center();
    around.translate(by);
    for (auto& f : p.frames) f.area.translate(by);
    p.legend_beside = around;
    if (in_cell) p.legend_beside = QRectF(p.frames[1].area.left() - m.left, p.frames[2].area.top(), 0, 0);
    return p;
}

Placed view_frames(const std::array<Bounds, 3>& data, QSizeF size, const LegendPlan& legend, double top) {
    std::array<Bounds, 3> b;
    for (std::size_t v = 0; v < 3; ++v) b[v] = padded(data[v]);
    const Placed row = place(b, size, legend, top, kRow), grid = place(b, size, legend, top, kGrid);
    return grid.scale > row.scale ? grid : row;
}

// A view's frame with its axes, ready for its marks.
Scene view_scene(QSizeF size, const PlotFrame& frame, const SpaceView& view) {
    Scene v;
    v.size = size;
    v.frame = frame;
    add_axes(v, axis_title(view.across), axis_title(view.up), true);
    return v;
}

template <typename T>
void append(std::vector<T>& to, std::vector<T>& from) {
    to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
}

// The views' marks in one scene, whose frame is the smallest rectangle
// around theirs (what trimming a picture file goes by), the title over them
// all and each view's name over its frame.
// The title's lines and the legend of a picture, and how far down its
// frames (and their names) may start.
struct Heading {
    std::vector<QString> title;
    LegendPlan legend;
    double top = 0;
};
Heading heading(QSizeF size, const QString& title, std::vector<LegendItem> items) {
    Heading h;
    h.title = title_lines(title, size.width() - 2 * kPad);
    h.top = frame_margins(static_cast<int>(h.title.size()), 0, 0).top;
    h.legend = plan_legend(std::move(items), size, h.top);
    return h;
}

Scene combine(std::array<Scene, 3>& views, QSizeF size, const std::vector<QString>& title) {
    Scene s;
    s.size = size;
    QRectF around;
    for (auto& v : views) around = around.isNull() ? v.frame.area : around.united(v.frame.area);
    for (std::size_t i = 0; i < views.size(); ++i) {
        Scene& v = views[i];
        append(s.paths, v.paths);
        append(s.boxes, v.boxes);
        append(s.dots, v.dots);
        append(s.texts, v.texts);
        s.texts.push_back({QString::fromLatin1(kSpaceViews[i].name),
                           QPointF(v.frame.area.center().x(), v.frame.area.top() - kGap / 2), Qt::AlignHCenter | Qt::AlignBottom,
                           SceneText::Role::AxisTitle});
    }
    s.frame = views[0].frame;
    s.frame.area = around;
    add_title(s, title, around.adjusted(0, -view_margins().top, 0, 0));
    return s;
}

}  // namespace

Scene space_superimposition_scene(const Superimposition& sup, const Grouping& g, const Links& links, QSizeF size,
                                  const LandmarkMarks& marks) {
    std::array<Superimposition, 3> planes;
    std::array<Bounds, 3> data;
    for (std::size_t v = 0; v < 3; ++v) {
        planes[v] = plane_view(sup, kSpaceViews[v].across, kSpaceViews[v].up);
        for (Eigen::Index i = 0; i < planes[v].aligned.rows(); ++i)
            for (int j = 0; j < sup.landmarks; ++j) data[v].add(planes[v].aligned(i, 2 * j), planes[v].aligned(i, 2 * j + 1));
        for (const auto& p : planes[v].consensus) data[v].add(p);
    }
    std::vector<LegendItem> items = g.groups() > 1 ? group_items(g) : std::vector<LegendItem>{};
    add_estimated_item(items, marks);
    const Heading head = heading(
        size,
        QStringLiteral("Superimposed specimens in 3-D (%1 specimens, %2 landmarks)").arg(sup.specimens()).arg(sup.landmarks),
        std::move(items));
    const Placed placed = view_frames(data, size, head.legend, head.top);
    std::array<Scene, 3> views;
    for (std::size_t v = 0; v < 3; ++v) {
        views[v] = view_scene(size, placed.frames[v], kSpaceViews[v]);
        add_superimposed(views[v], planes[v], g, links, marks);
    }
    Scene s = combine(views, size, head.title);
    add_legend(s, head.legend, placed.legend_beside);
    return s;
}

Scene space_shape_change_scene(const Eigen::RowVectorXd& consensus, const Eigen::RowVectorXd& target, const Links& links,
                               const QString& title, QSizeF size) {
    std::array<Shape2, 3> from, to;
    std::array<Bounds, 3> data;
    for (std::size_t v = 0; v < 3; ++v) {
        from[v] = view_of_row(consensus, 3, kSpaceViews[v].across, kSpaceViews[v].up);
        to[v] = view_of_row(target, 3, kSpaceViews[v].across, kSpaceViews[v].up);
        for (const auto& p : from[v]) data[v].add(p);
        for (const auto& p : to[v]) data[v].add(p);
    }
    const Heading head = heading(size, title, change_items());
    const Placed placed = view_frames(data, size, head.legend, head.top);
    std::array<Scene, 3> views;
    for (std::size_t v = 0; v < 3; ++v) {
        views[v] = view_scene(size, placed.frames[v], kSpaceViews[v]);
        add_change(views[v], from[v], to[v], links);
    }
    Scene s = combine(views, size, head.title);
    add_legend(s, head.legend, placed.legend_beside);
    return s;
}

namespace {

// The aligned coordinates turned, seen along the turned z axis.
Superimposition turned_plane(const Superimposition& sup, const Eigen::Matrix3d& turn, double& radius) {
    Superimposition t = sup;
    radius = 0;
    auto turn_row = [&](double* row) {
        for (int j = 0; j < sup.landmarks; ++j) {
            Eigen::Map<Eigen::Vector3d> p(row + 3 * j);
            radius = std::max(radius, p.norm());
            p = turn * Eigen::Vector3d(p);
        }
    };
    for (Eigen::Index i = 0; i < t.aligned.rows(); ++i) {
        Eigen::RowVectorXd row = t.aligned.row(i);
        turn_row(row.data());
        t.aligned.row(i) = row;
    }
    turn_row(t.consensus_row.data());
    return plane_view(t, 0, 1);
}

// Where the axes point, from the frame's lower left corner.
void add_triad(Scene& s, const Eigen::Matrix3d& turn) {
    const QPointF origin = s.frame.area.bottomLeft() + QPointF(36, -36);
    static const char* names[] = {"x", "y", "z"};
    for (int axis = 0; axis < 3; ++axis) {
        const Eigen::Vector3d d = turn.col(axis);
        const QPointF end = origin + QPointF(d.x(), -d.y()) * 26;
        s.paths.push_back({QColor(90, 90, 90), 1.4, false, false, QColor(), {origin, end}});
        s.texts.push_back({QString::fromLatin1(names[axis]), origin + QPointF(d.x(), -d.y()) * 34, Qt::AlignCenter,
                           SceneText::Role::Label, QColor(90, 90, 90)});
    }
}

// What was added to `s` from the given counts on stays inside its frame:
// marks outside it are left out with the numbers of those of the consensus
// (its batch comes last, landmark by landmark), lines are cut at its edge.
void keep_inside_frame(Scene& s, std::size_t paths, std::size_t dots, std::size_t texts) {
    const QRectF& area = s.frame.area;
    for (std::size_t k = paths; k < s.paths.size(); ++k) s.paths[k].clipped = true;
    std::vector<QString> gone;
    if (s.dots.size() > dots)
        for (std::size_t j = 0; j < s.dots.back().points.size(); ++j)
            if (!area.contains(s.dots.back().points[j])) gone.push_back(QString::number(j + 1));
    for (std::size_t k = dots; k < s.dots.size(); ++k) {
        SceneDots& d = s.dots[k];
        std::size_t kept = 0;
        for (std::size_t i = 0; i < d.points.size(); ++i) {
            if (!area.contains(d.points[i])) continue;
            d.points[kept] = d.points[i];
            if (!d.specimens.empty()) d.specimens[kept] = d.specimens[i];
            ++kept;
        }
        d.points.resize(kept);
        if (!d.specimens.empty()) d.specimens.resize(kept);
    }
    const auto outside = [&](const SceneText& t) {
        return !area.contains(text_box(t)) || std::find(gone.begin(), gone.end(), t.text) != gone.end();
    };
    s.texts.erase(std::remove_if(s.texts.begin() + static_cast<std::ptrdiff_t>(texts), s.texts.end(), outside), s.texts.end());
}

}  // namespace

Scene turned_scene(const Superimposition& sup, const Grouping& g, const Links& links, const Eigen::Matrix3d& turn, QSizeF size,
                   double zoom) {
    Scene s;
    s.size = size;
    double radius = 0;
    const Superimposition plane = turned_plane(sup, turn, radius);
    const double r = (radius > 0 ? radius : 1.0) * 1.08 / zoom;
    const Heading head = heading(
        size,
        QStringLiteral("Superimposed specimens in 3-D (%1 specimens, %2 landmarks)").arg(sup.specimens()).arg(sup.landmarks),
        g.groups() > 1 ? group_items(g) : std::vector<LegendItem>{});
    const double right = head.legend.items.empty() ? 0 : head.legend.width() + 2 * kGap;
    const QRectF room(kPad, head.top, std::max(10.0, size.width() - 2 * kPad - right),
                      std::max(10.0, size.height() - head.top - kPad));
    const double side = std::min(room.width(), room.height());
    const QRectF square(room.center().x() - side / 2, room.center().y() - side / 2, side, side);
    s.frame = {square, -r, r, -r, r};
    s.paths.push_back({QColor(200, 200, 200),
                       0.75 * kPoint,
                       false,
                       true,
                       QColor(),
                       {square.topLeft(), square.topRight(), square.bottomRight(), square.bottomLeft()}});
    const std::size_t paths = s.paths.size(), dots = s.dots.size(), texts = s.texts.size();
    add_superimposed(s, plane, g, links, {});
    if (zoom > 1) keep_inside_frame(s, paths, dots, texts);
    add_triad(s, turn);
    add_title(s, head.title, square);
    add_legend(s, head.legend, square);
    return s;
}

}  // namespace quillan
