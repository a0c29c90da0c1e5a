#include "render/space_plots.hpp"

#include "render/plot_parts.hpp"

#include <Eigen/Geometry>

#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
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

// The triad of the perspective sits in a strip left of its frame, where
// no landmark's number goes: the room it takes across.
constexpr double kTriadArm = 11;
constexpr double kTriadStrip = 2 * (kTriadArm + 10);

QString axis_title(int axis) {
    static const char* names[] = {"x (aligned)", "y (aligned)", "z (aligned)"};
    return QString::fromLatin1(names[axis]);
}

// Where each view goes: in two rows and columns as on a technical drawing
// (the top above the front, the side to its right, the perspective over the
// side), where the views that share an axis line up along it and share its
// ticks; or in a row (front, side, top, perspective), each view with axes
// of its own.  The layout that draws the landmarks larger is chosen.
struct Placed {
    std::array<PlotFrame, 3> frames;
    QRectF perspective;  // the room of the perspective view
    double scale = 0;
    QRectF legend_beside;  // the legend goes right of it, level with its top
    bool grid = false;
};

// The frames of the views, of `b` at `scale`, from (x, y) on.
PlotFrame frame_at(const Bounds& b, double scale, double x, double y) {
    return {QRectF(x, y, b.width() * scale, b.height() * scale), b.xmin, b.xmax, b.ymin, b.ymax};
}

// `room`: where the views and their margins go.
// `aspect`: the width over the height of what the perspective shows.
Placed place_grid(const std::array<Bounds, 3>& b, const QRectF& room, double aspect) {
    const ViewMargins m = view_margins();
    // Front and top share x, front and side share y: the top has no x ticks
    // of its own and the side no y ticks, only a gap toward its neighbour.
    const double fixed_w = m.left + 4 * kGap + m.right, fixed_h = 2 * m.top + 2 * kGap + m.bottom;
    const double scale = std::max(1e-9, std::min((room.width() - fixed_w) / (b[0].width() + b[1].width()),
                                                 (room.height() - fixed_h) / (b[2].height() + b[0].height())));
    Placed p;
    p.grid = true;
    p.scale = scale;
    const double w0 = b[0].width() * scale, w1 = b[1].width() * scale, h0 = b[2].height() * scale, h1 = b[0].height() * scale;
    const double used_w = fixed_w + w0 + w1, used_h = fixed_h + h0 + h1;
    const double x0 = room.left() + (room.width() - used_w) / 2 + m.left, y0 = room.top() + (room.height() - used_h) / 2 + m.top;
    const double x1 = x0 + w0 + 4 * kGap, y1 = y0 + h0 + 2 * kGap + m.top;
    p.frames[2] = frame_at(b[2], scale, x0, y0);
    p.frames[0] = frame_at(b[0], scale, x0, y1);
    p.frames[1] = frame_at(b[1], scale, x1, y1);
    // The perspective has the room over the side, or, where the side is
    // narrow, the room right of it from top to bottom, to the room's edge:
    // whichever shows it larger.
    const QRectF over(x1, y0, std::max(room.right() - x1 - kGap, 10.0), std::max(h0, 10.0));
    const double beside_x = x1 + w1 + 3 * kGap;
    const QRectF beside(beside_x, y0, std::max(room.right() - beside_x - kGap, 10.0), y1 + h1 - y0);
    const auto shown = [&](const QRectF& r) { return std::min((r.width() - kTriadStrip) / aspect, r.height()); };
    p.perspective = shown(beside) > 1.2 * shown(over) ? beside : over;
    p.legend_beside = QRectF(x0, y0, room.right() - x0, y1 + h1 - y0);
    return p;
}

Placed place_row(const std::array<Bounds, 3>& b, const QRectF& room) {
    const ViewMargins m = view_margins();
    const double fixed_w = 4 * (m.left + m.right), fixed_h = m.top + m.bottom;
    // The perspective takes a square as high as the views.
    double high = 0;
    for (const Bounds& v : b) high = std::max(high, v.height());
    const double scale = std::max(1e-9, std::min((room.width() - fixed_w) / (b[0].width() + b[1].width() + b[2].width() + high),
                                                 (room.height() - fixed_h) / high));
    Placed p;
    p.scale = scale;
    double used_w = fixed_w + high * scale;
    for (const Bounds& v : b) used_w += v.width() * scale;
    double x = room.left() + (room.width() - used_w) / 2 + m.left;
    const double y = room.top() + (room.height() - fixed_h - high * scale) / 2 + m.top;
    for (std::size_t v = 0; v < 3; ++v) {
        p.frames[v] = frame_at(b[v], scale, x, y + (high - b[v].height()) * scale / 2);
        x += b[v].width() * scale + m.left + m.right;
    }
    p.perspective = QRectF(x, y, high * scale, high * scale);
    p.legend_beside = QRectF(room.left() + (room.width() - used_w) / 2, y, used_w - m.right, high * scale);
    return p;
}

// Every view drawn at the one scale that fits them all, in the room the
// title, the legend and a note below leave.
Placed view_frames(const std::array<Bounds, 3>& data, const std::vector<Point2>& seen, QSizeF size, const LegendPlan& legend,
                   double top, double bottom) {
    Bounds looked;
    for (const auto& p : seen) looked.add(p);
    const Bounds padded_seen = padded(looked);
    std::array<Bounds, 3> b;
    for (std::size_t v = 0; v < 3; ++v) b[v] = padded(data[v]);
    const double right = legend.items.empty() ? 0 : legend.width() + 2 * kGap;
    const QRectF room(kPad / 2, top, std::max(40.0, size.width() - kPad - right), std::max(40.0, size.height() - top - bottom));
    const Placed grid = place_grid(b, room, padded_seen.width() / padded_seen.height()), row = place_row(b, room);
    return grid.scale >= row.scale ? grid : row;
}

// A view's frame with its axes, ready for its marks; in two rows and
// columns the ticks an axis shares with the view beside are left to it.
Scene view_scene(QSizeF size, const PlotFrame& frame, const SpaceView& view, bool grid, std::size_t v) {
    Scene s;
    s.size = size;
    s.frame = frame;
    const bool shares_x = grid && v == 2, shares_y = grid && v == 1;
    add_axes(s, shares_x ? QString() : axis_title(view.across), shares_y ? QString() : axis_title(view.up), !shares_x, !shares_y);
    return s;
}

template <typename T>
void append(std::vector<T>& to, std::vector<T>& from) {
    to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
}

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

// The views' marks in one scene, whose frame is the smallest rectangle
// around theirs (what trimming a picture file goes by), the title over them
// all, each view's name over its frame and the note under them.
// `room`: the perspective's, whose name is centred over it.
Scene combine(std::array<Scene, 4>& views, QSizeF size, const std::vector<QString>& title, const std::array<QString, 4>& names,
              const QRectF& room) {
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
        const double across = i == 3 ? room.width() : size.width();
        const double x = i == 3 ? room.center().x() : v.frame.area.center().x();
        s.texts.push_back({fitted(names[i], SceneText::Role::AxisTitle, across), QPointF(x, v.frame.area.top() - kGap / 2),
                           Qt::AlignHCenter | Qt::AlignBottom, SceneText::Role::AxisTitle});
    }
    s.frame = views[0].frame;
    s.frame.area = around;
    add_title(s, title, around.adjusted(0, -view_margins().top, 0, 0));
    return s;
}

// How the perspective view sees the landmarks: turned a little about the
// vertical and toward the viewer, from a distance of three times the
// configuration's radius (near enough for its depth to show, far enough
// not to distort it).
struct Eye {
    Eigen::Matrix3d turn;
    Eigen::Vector3d centre;
    double distance = 1;
    // The point on the screen (x right, y up) and how much nearer than the
    // centre it is (above 1 nearer, for the size of its mark).
    std::pair<Point2, double> see(const Eigen::Vector3d& p) const {
        const Eigen::Vector3d q = turn * (p - centre);
        const double near = distance / std::max(distance * 0.2, distance - q.z());
        return {{q.x() * near, q.y() * near}, near};
    }
};
Eye eye_on(const Eigen::RowVectorXd& row) {
    Eye e;
    e.turn = (Eigen::AngleAxisd(0.45, Eigen::Vector3d::UnitX()) * Eigen::AngleAxisd(-0.6, Eigen::Vector3d::UnitY()))
                 .toRotationMatrix();
    const Eigen::Index k = row.size() / 3;
    e.centre = Eigen::Map<const Eigen::Matrix3Xd>(row.data(), 3, k).rowwise().mean();
    double radius = 0;
    for (Eigen::Index j = 0; j < k; ++j) radius = std::max(radius, (Eigen::Vector3d(row.segment<3>(3 * j)) - e.centre).norm());
    e.distance = 3 * (radius > 0 ? radius : 1.0);
    return e;
}
Eigen::Vector3d landmark(const Eigen::RowVectorXd& row, int j) { return row.segment<3>(3 * j).transpose(); }

// Where the axes x, y and z point in the perspective, from the middle of
// the strip left of its frame, level with the frame's foot.
void add_perspective_triad(Scene& s, const Eye& eye) {
    const QPointF origin = s.frame.area.bottomLeft() + QPointF(-kTriadStrip / 2, -kTriadStrip / 2);
    static const char* names[] = {"x", "y", "z"};
    for (int axis = 0; axis < 3; ++axis) {
        const Eigen::Vector3d d = eye.turn.col(axis);
        const QPointF to(d.x(), -d.y());
        s.paths.push_back({QColor(90, 90, 90), 0.75 * kPoint, false, false, QColor(), {origin, origin + to * kTriadArm}});
        s.texts.push_back({QString::fromLatin1(names[axis]), origin + to * (kTriadArm + 5), Qt::AlignCenter,
                           SceneText::Role::Note, QColor(90, 90, 90)});
    }
}

// A wireframe for shapes that have none: each landmark of the row of dk
// coordinates joined to the nearest of those joined before it (a tree of
// the shortest links, Prim's), so that the perspective shows which
// landmarks lie near each other in space.
Links nearest_neighbour_links(const Eigen::RowVectorXd& row, int dimensions) {
    const int k = dimensions > 0 ? static_cast<int>(row.size()) / dimensions : 0;
    const auto point = [&](int j) { return row.segment(static_cast<Eigen::Index>(j) * dimensions, dimensions); };
    Links out;
    if (k < 2) return out;
    // For each landmark not yet joined: how near the tree is, and through which.
    std::vector<double> reach(static_cast<std::size_t>(k), std::numeric_limits<double>::infinity());
    std::vector<int> via(static_cast<std::size_t>(k), 0);
    std::vector<bool> joined(static_cast<std::size_t>(k), false);
    for (int added = 0, last = 0; added < k; ++added) {
        joined[static_cast<std::size_t>(last)] = true;
        if (added > 0) out.emplace_back(via[static_cast<std::size_t>(last)], last);
        int next = -1;
        for (int j = 0; j < k; ++j) {
            const auto u = static_cast<std::size_t>(j);
            if (joined[u]) continue;
            const double d = (point(j) - point(last)).squaredNorm();
            if (d < reach[u]) reach[u] = d, via[u] = last;
            if (next < 0 || reach[u] < reach[static_cast<std::size_t>(next)]) next = j;
        }
        if (next < 0) break;
        last = next;
    }
    return out;
}

// The perspective's frame: the points as seen, one unit as long across as up.
// It takes the whole room, the points in its middle, so that their numbers
// may go anywhere in it.
PlotFrame perspective_frame(const std::vector<Point2>& seen, QRectF room) {
    Bounds data;
    for (const auto& p : seen) data.add(p);
    const Bounds b = padded(data);
    room.setWidth(std::max(10.0, room.width()));
    room.setHeight(std::max(10.0, room.height()));
    const double scale = std::min(room.width() / b.width(), room.height() / b.height());
    const double cx = (b.xmin + b.xmax) / 2, cy = (b.ymin + b.ymax) / 2;
    const double hw = room.width() / scale / 2, hh = room.height() / scale / 2;
    return {room, cx - hw, cx + hw, cy - hh, cy + hh};
}

// The consensus in perspective, its wireframe drawn from the farthest line
// to the nearest, lighter the farther it is.
std::vector<int> add_perspective_consensus(Scene& s, const Links& links, const std::vector<Point2>& seen,
                                           const std::vector<double>& near) {
    std::vector<std::pair<double, std::pair<int, int>>> lines;
    for (const auto& [a, b] : links)
        lines.push_back({near[static_cast<std::size_t>(a)] + near[static_cast<std::size_t>(b)], {a, b}});
    std::sort(lines.begin(), lines.end());
    double lo = 2, hi = 0;
    for (double n : near) lo = std::min(lo, n), hi = std::max(hi, n);
    for (const auto& [depth, link] : lines) {
        const double t = hi > lo ? (depth / 2 - lo) / (hi - lo) : 1;
        const int grey = static_cast<int>(std::lround(170 - 150 * t));
        const Point2 a = seen[static_cast<std::size_t>(link.first)], b = seen[static_cast<std::size_t>(link.second)];
        s.paths.push_back(
            {QColor(grey, grey, grey), 1.2 * kPoint, false, false, QColor(), {s.frame.map(a.x, a.y), s.frame.map(b.x, b.y)}});
    }
    SceneDots marks{QColor(20, 20, 20), 0, true, {}, {}};
    for (const auto& p : seen) marks.points.push_back(s.frame.map(p.x, p.y));
    marks.size = mark_size(marks.points, 5.0 * kPoint);
    marks.keep_clear = true;
    std::vector<int> left_out = add_landmark_labels(s, marks.points, marks.size);
    s.dots.push_back(std::move(marks));
    return left_out;
}

// What a view left unnumbered, named by the view.
void note_left_out(QStringList& notes, const char* view, const std::vector<int>& numbers) {
    if (numbers.empty()) return;
    notes.push_back(QStringLiteral("%1 %2").arg(QString::fromLatin1(view).toLower(), number_list(numbers)));
}

QString notes_text(const QStringList& left_out, bool tree) {
    QString out;
    if (!left_out.isEmpty()) out = QStringLiteral("Numbers left out for want of room: ") + left_out.join(QStringLiteral("; "));
    if (tree)
        out += (out.isEmpty() ? QString() : QStringLiteral(". ")) +
               QStringLiteral("No links given: the perspective joins nearest neighbours");
    return out;
}

// What differs between the pictures in space: the data each view shows,
// how its marks are drawn, and the perspective's.
struct SpaceDraw {
    std::array<Bounds, 3> data;
    std::function<std::vector<int>(Scene&, std::size_t)> view_marks;  // returns the numbers left out
    std::vector<Point2> seen;                                         // what the perspective shows, as seen
    std::function<std::vector<int>(Scene&)> perspective_marks;
    QString perspective_name = QStringLiteral("Perspective");
    QString perspective_short;  // the name where the long one does not fit (else "Perspective")
    bool tree = false;          // the perspective's wireframe joins nearest neighbours
};

// The views laid out and drawn; a second time, with room for the note
// below, when some numbers had no room or the wireframe needs a word.
Scene space_scene(QSizeF size, const QString& title, std::vector<LegendItem> items, const SpaceDraw& d) {
    const Heading head = heading(size, title, std::move(items));
    const double note_line = text_size(QStringLiteral("Xg"), SceneText::Role::Note).height();
    double bottom = 0;
    for (int attempt = 0;; ++attempt) {
        const Placed placed = view_frames(d.data, d.seen, size, head.legend, head.top, bottom);
        std::array<Scene, 4> views;
        QStringList left_out;
        for (std::size_t v = 0; v < 3; ++v) {
            views[v] = view_scene(size, placed.frames[v], kSpaceViews[v], placed.grid, v);
            note_left_out(left_out, kSpaceViews[v].name, d.view_marks(views[v], v));
        }
        views[3].size = size;
        views[3].frame = perspective_frame(d.seen, placed.perspective.adjusted(kTriadStrip, 0, 0, 0));
        note_left_out(left_out, "Perspective", d.perspective_marks(views[3]));
        const QString note = notes_text(left_out, d.tree);
        const std::vector<QString> lines = title_lines(note, size.width() - 2 * kPad, SceneText::Role::Note);
        const double need = lines.empty() ? 0 : static_cast<double>(lines.size()) * note_line + kGap;
        if (need > bottom && attempt < 2) {
            bottom = need;
            continue;
        }
        // The longest of its names that fits (the title states the factor too).
        QString name = QStringLiteral("Perspective");
        for (const QString& n : {d.perspective_name, d.perspective_short})
            if (!n.isEmpty() && text_size(n, SceneText::Role::AxisTitle).width() <= placed.perspective.width()) {
                name = n;
                break;
            }
        Scene s = combine(views, size, head.title,
                          {QString::fromLatin1(kSpaceViews[0].name), QString::fromLatin1(kSpaceViews[1].name),
                           QString::fromLatin1(kSpaceViews[2].name), name},
                          placed.perspective);
        add_legend(s, head.legend, placed.legend_beside);
        add_note(s, lines);
        return s;
    }
}

// Every landmark of a row of 3k coordinates as the eye sees it.
std::vector<Point2> seen_by(const Eye& eye, const Eigen::RowVectorXd& row, std::vector<double>* near = nullptr) {
    std::vector<Point2> out;
    for (int j = 0; j < static_cast<int>(row.size() / 3); ++j) {
        const auto [p, n] = eye.see(landmark(row, j));
        out.push_back(p);
        if (near) near->push_back(n);
    }
    return out;
}

// The smallest power of ten, or twice or five times one, by which the
// longest vector of the change reaches an eighth of the configuration's
// radius: the changes between groups of a sample are often too small to
// see at their own length.
double perspective_factor(const Eigen::RowVectorXd& consensus, const Eigen::RowVectorXd& target) {
    const Eye eye = eye_on(consensus);
    double longest = 0;
    for (int j = 0; j < static_cast<int>(consensus.size() / 3); ++j)
        longest = std::max(longest, (landmark(target, j) - landmark(consensus, j)).norm());
    const double want = eye.distance / 3 / 8;
    if (!(longest > 0) || longest >= want) return 1;
    for (double f = 1;; f *= 10)
        for (double m : {1.0, 2.0, 5.0})
            if (longest * f * m >= want || f * m >= 1000) return f * m;
}

}  // namespace

Scene space_superimposition_scene(const Superimposition& sup, const Grouping& g, const Links& links, QSizeF size,
                                  const LandmarkMarks& marks) {
    std::array<Superimposition, 3> planes;
    SpaceDraw d;
    for (std::size_t v = 0; v < 3; ++v) {
        planes[v] = plane_view(sup, kSpaceViews[v].across, kSpaceViews[v].up);
        for (Eigen::Index i = 0; i < planes[v].aligned.rows(); ++i)
            for (int j = 0; j < sup.landmarks; ++j) d.data[v].add(planes[v].aligned(i, 2 * j), planes[v].aligned(i, 2 * j + 1));
        for (const auto& p : planes[v].consensus) d.data[v].add(p);
    }
    d.view_marks = [&](Scene& s, std::size_t v) { return add_superimposed(s, planes[v], g, links, marks); };
    const Eye eye = eye_on(sup.consensus_row);
    std::vector<double> near;
    d.seen = seen_by(eye, sup.consensus_row, &near);
    d.tree = links.empty();
    const Links wire = d.tree ? nearest_neighbour_links(sup.consensus_row, 3) : links;
    d.perspective_marks = [&](Scene& s) {
        add_perspective_triad(s, eye);
        return add_perspective_consensus(s, wire, d.seen, near);
    };
    std::vector<LegendItem> items = g.groups() > 1 ? group_items(g) : std::vector<LegendItem>{};
    add_estimated_item(items, marks);
    return space_scene(
        size,
        QStringLiteral("Superimposed specimens in 3-D (%1 specimens, %2 landmarks)").arg(sup.specimens()).arg(sup.landmarks),
        std::move(items), d);
}

Scene space_shape_change_scene(const Eigen::RowVectorXd& consensus, const Eigen::RowVectorXd& target, const Links& links,
                               const QString& title, QSizeF size) {
    std::array<Shape2, 3> from, to;
    SpaceDraw d;
    for (std::size_t v = 0; v < 3; ++v) {
        from[v] = view_of_row(consensus, 3, kSpaceViews[v].across, kSpaceViews[v].up);
        to[v] = view_of_row(target, 3, kSpaceViews[v].across, kSpaceViews[v].up);
        for (const auto& p : from[v]) d.data[v].add(p);
        for (const auto& p : to[v]) d.data[v].add(p);
    }
    d.view_marks = [&](Scene& s, std::size_t v) { return add_change(s, from[v], to[v], links); };
    // The perspective draws the change longer, by a factor the title states.
    const double factor = perspective_factor(consensus, target);
    const Eye eye = eye_on(consensus);
    const Shape2 seen_from = seen_by(eye, consensus), seen_to = seen_by(eye, magnify(consensus, target, factor));
    d.seen = seen_from;
    d.seen.insert(d.seen.end(), seen_to.begin(), seen_to.end());
    d.tree = links.empty();
    const Links wire = d.tree ? nearest_neighbour_links(consensus, 3) : links;
    d.perspective_marks = [&](Scene& s) {
        add_perspective_triad(s, eye);
        return add_change(s, seen_from, seen_to, wire);
    };
    QString full = title;
    if (factor != 1) {
        d.perspective_name = QStringLiteral("Perspective, vectors \u00d7%1").arg(factor);
        d.perspective_short = QStringLiteral("Perspective \u00d7%1").arg(factor);
        const QString more = QStringLiteral("the perspective's vectors %1 times as long").arg(factor);
        full = full.endsWith(QLatin1Char(')')) ? full.chopped(1) + QStringLiteral("; ") + more + QLatin1Char(')')
                                               : full + QStringLiteral(" (") + more + QLatin1Char(')');
    }
    return space_scene(size, full, change_items(), d);
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
