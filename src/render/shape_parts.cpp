// The parts of the shape pictures: the specimens' landmarks, the numbered
// consensus, the estimated landmarks and the change toward a target.
#include "render/plot_parts.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace quillan::plot_parts {

// A deep purple: apart from every group's colour, drawn as a cross, which
// no group's mark is.
const QColor kEstimatedColor(120, 0, 90);
const QColor kChangeColor(200, 60, 40), kFromColor(120, 120, 120);

namespace {

const QColor kInk(20, 20, 20);

// How many of the specimens' marks each small square of the picture holds,
// so that a landmark's number can be put where it hides the fewest.
class Crowding {
public:
    Crowding(const Scene& s, std::size_t batches) : cols_(std::max(1, static_cast<int>(s.size.width() / kCell) + 1)) {
        cells_.assign(static_cast<std::size_t>(cols_) * static_cast<std::size_t>(s.size.height() / kCell + 1), 0);
        for (std::size_t b = 0; b < batches && b < s.dots.size(); ++b)
            for (const QPointF& p : s.dots[b].points) {
                const long k = index(p);
                if (k >= 0) ++cells_[static_cast<std::size_t>(k)];
            }
    }
    double under(const QRectF& box) const {
        double n = 0;
        for (double y = box.top(); y < box.bottom(); y += kCell)
            for (double x = box.left(); x < box.right(); x += kCell) {
                const long k = index(QPointF(x, y));
                if (k >= 0) n += cells_[static_cast<std::size_t>(k)];
            }
        return n;
    }

private:
    static constexpr double kCell = 3;
    long index(QPointF p) const {
        if (p.x() < 0 || p.y() < 0) return -1;
        const long k = static_cast<long>(p.y() / kCell) * cols_ + static_cast<long>(p.x() / kCell);
        return p.x() / kCell < cols_ && k < static_cast<long>(cells_.size()) ? k : -1;
    }
    int cols_;
    std::vector<int> cells_;
};

double distance_to(const QRectF& box, QPointF p) {
    const double dx = std::max({box.left() - p.x(), 0.0, p.x() - box.right()});
    const double dy = std::max({box.top() - p.y(), 0.0, p.y() - box.bottom()});
    return std::hypot(dx, dy);
}

// What a place for a number costs: farther from its mark, inward rather
// than outward, nearer another mark than its own, over specimens' marks.
// Infinite where it may not go at all.
struct Placing {
    const std::vector<QPointF>& marks;  // every mark the numbers keep clear of, the numbered first
    double clear;                       // how far from a mark's centre a number keeps
    const std::vector<QRectF>& taken;   // the numbers placed so far
    QRectF frame;
    const Crowding& crowd;
    bool strict = true;  // clear of every mark
};

double label_cost(const QRectF& box, std::size_t j, int ring, QPointF outward, QPointF dir, const Placing& at) {
    const auto& marks = at.marks;
    const double clear = at.clear;
    constexpr double kNever = std::numeric_limits<double>::infinity();
    if (!at.frame.contains(box)) return kNever;
    for (const QRectF& t : at.taken)
        if (t.intersects(box)) return kNever;
    const double own = distance_to(box, marks[j]);
    double cost = ring * 6.0 + (1.0 - (outward.x() * dir.x() + outward.y() * dir.y())) * 2.0;
    for (std::size_t k = 0; k < marks.size(); ++k) {
        if (k == j) continue;
        const double d = distance_to(box, marks[k]);
        // Where the marks crowd too closely for their numbers, a number may
        // touch a mark, at a price, rather than another number.
        if (d < clear && (at.strict || d <= 0)) return kNever;
        if (d < clear) cost += 40;
        if (d < own + 1) cost += 8;  // it would read as the other mark's number
    }
    return cost + std::min(12.0, 0.15 * at.crowd.under(box));
}

}  // namespace

std::vector<int> add_landmark_labels(Scene& s, const std::vector<QPointF>& marks, double size, const std::vector<int>& numbers,
                                     const std::vector<QPointF>& others) {
    std::vector<QString> texts;
    const auto number = [&](std::size_t j) { return j < numbers.size() ? numbers[j] : static_cast<int>(j) + 1; };
    for (std::size_t j = 0; j < marks.size(); ++j) texts.push_back(QString::number(number(j)));
    std::vector<int> out;
    for (std::size_t j : add_point_labels(s, marks, size, texts, others)) out.push_back(number(j));
    return out;
}

QString number_list(std::vector<int> numbers) {
    std::sort(numbers.begin(), numbers.end());
    QStringList list;
    for (std::size_t i = 0; i < numbers.size();) {
        std::size_t end = i;
        while (end + 1 < numbers.size() && numbers[end + 1] == numbers[end] + 1) ++end;
        // Three or more in a row as a range, so that a long note still fits.
        if (end >= i + 2) list << QStringLiteral("%1\u2013%2").arg(numbers[i]).arg(numbers[end]);
        else
            for (std::size_t k = i; k <= end; ++k) list << QString::number(numbers[k]);
        i = end + 1;
    }
    return list.join(QStringLiteral(", "));
}

QString left_out_note(const std::vector<int>& numbers) {
    if (numbers.empty()) return {};
    return QStringLiteral("Numbers left out for want of room: %1").arg(number_list(numbers));
}

void add_note(Scene& s, const std::vector<QString>& lines) {
    const double h = text_size(QStringLiteral("Xg"), SceneText::Role::Note).height();
    double y = s.size.height() - kPad / 2 - h * static_cast<double>(lines.size());
    for (const auto& line : lines) {
        s.texts.push_back({line, QPointF(kPad, y), Qt::AlignLeft | Qt::AlignTop, SceneText::Role::Note});
        y += h;
    }
}

double note_height(const QString& text, QSizeF size) {
    const auto lines = title_lines(text, size.width() - 2 * kPad, SceneText::Role::Note);
    return lines.empty()
               ? 0
               : static_cast<double>(lines.size()) * text_size(QStringLiteral("Xg"), SceneText::Role::Note).height() + kGap;
}

std::vector<std::size_t> add_point_labels(Scene& s, const std::vector<QPointF>& marks, double size,
                                          const std::vector<QString>& texts, const std::vector<QPointF>& others) {
    std::vector<std::size_t> left_out;
    if (marks.empty()) return left_out;
    const Crowding crowd(s, s.dots.size());
    QPointF centre(0, 0);
    for (const QPointF& p : marks) centre += p / static_cast<double>(marks.size());
    const double clear = size / 2 + 1;
    const QRectF inside = s.frame.area.adjusted(1, 1, -1, -1);
    std::vector<QRectF> taken;
    std::vector<QPointF> all = marks;
    all.insert(all.end(), others.begin(), others.end());
    Placing placing{all, clear, taken, inside, crowd};
    for (std::size_t j = 0; j < marks.size(); ++j) {
        const QString& text = texts[j];
        const QSizeF t = text_size(text, SceneText::Role::Label);
        const QPointF p = marks[j];
        const QPointF away = p - centre;
        const double length = std::hypot(away.x(), away.y());
        const QPointF outward = length > 0 ? away / length : QPointF(0, 0);
        QRectF best;
        double best_cost = std::numeric_limits<double>::infinity();
        int best_ring = 0;
        // Near the mark, clear of every mark; then touching another mark;
        // then farther off, clear of them all, with a line back.
        for (int pass = 0; pass < 3 && best.isNull(); ++pass) {
            placing.strict = pass != 1;
            for (int ring = pass < 2 ? 0 : 5; ring < (pass < 2 ? 5 : 10); ++ring)
                for (int k = 0; k < 16; ++k) {
                    const double angle = k * std::numbers::pi / 8;
                    const QPointF dir(std::cos(angle), std::sin(angle));
                    const double r = clear + 1 + ring * t.height() * 0.6;
                    // The box's side nearest the mark at r from it, along dir.
                    const QPointF c = p + dir * r + QPointF(dir.x() * t.width() / 2, dir.y() * t.height() / 2);
                    const QRectF box(c - QPointF(t.width() / 2, t.height() / 2), t);
                    const double cost = label_cost(box, j, ring, outward, dir, placing);
                    if (cost < best_cost) {
                        best_cost = cost;
                        best = box;
                        best_ring = ring;
                    }
                }
        }
        // Nowhere free: a number over another would be read as neither.
        if (best.isNull()) {
            left_out.push_back(j);
            continue;
        }
        taken.push_back(best);
        if (best_ring > 1) {
            const double d = distance_to(best, p);
            const QPointF towards = best.center() - p;
            const double n = std::hypot(towards.x(), towards.y());
            if (n > 0)
                s.paths.push_back({QColor(150, 150, 150),
                                   0.5 * kPoint,
                                   false,
                                   false,
                                   QColor(),
                                   {p + towards / n * clear, p + towards / n * std::max(clear, d)}});
        }
        s.texts.push_back({text, best.center(), Qt::AlignCenter, SceneText::Role::Label});
    }
    return left_out;
}

double mark_size(const std::vector<QPointF>& marks, double largest) {
    double nearest = std::numeric_limits<double>::infinity();
    for (std::size_t a = 0; a < marks.size(); ++a)
        for (std::size_t b = a + 1; b < marks.size(); ++b)
            nearest = std::min(nearest, std::hypot(marks[a].x() - marks[b].x(), marks[a].y() - marks[b].y()));
    // Neighbours a third of their distance apart at least, but never a speck.
    return std::clamp(nearest * 0.6, 3.0 * kPoint, largest);
}

void add_estimated_item(std::vector<LegendItem>& items, const LandmarkMarks& marks) {
    if (!marks.estimated.empty()) items.push_back({QStringLiteral("Estimated landmark"), kEstimatedColor, true, Marker::Cross});
}

namespace {

// The estimated landmarks of the specimens, crossed over their marks.
void add_estimated(Scene& s, const Superimposition& sup, const LandmarkMarks& marks) {
    if (marks.estimated.empty()) return;
    SceneDots cross{kEstimatedColor, 4.5 * kPoint, false, {}, {}, Marker::Cross};
    for (const auto& [i, j] : marks.estimated) {
        if (i < 0 || i >= sup.specimens() || j < 0 || j >= sup.landmarks) continue;
        const Point2 p = sup.point(i, j);
        cross.points.push_back(s.frame.map(p.x, p.y));
        cross.specimens.push_back(i);
    }
    s.dots.push_back(std::move(cross));
}

// The consensus: fixed landmarks large and numbered, semilandmarks small.
std::vector<int> add_consensus(Scene& s, const Shape2& consensus, const LandmarkMarks& marks) {
    std::vector<bool> semi(consensus.size(), false);
    for (int j : marks.semilandmarks)
        if (j >= 0 && static_cast<std::size_t>(j) < semi.size()) semi[static_cast<std::size_t>(j)] = true;
    SceneDots fixed{kInk, 0, true, {}, {}}, sliding{kInk, 2.5 * kPoint, false, {}, {}};
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
    fixed.size = mark_size(fixed.points, 5.0 * kPoint);
    fixed.keep_clear = true;
    std::vector<int> left_out = add_landmark_labels(s, fixed.points, fixed.size, numbers);
    if (!sliding.points.empty()) s.dots.push_back(std::move(sliding));
    s.dots.push_back(std::move(fixed));
    return left_out;
}

}  // namespace

std::vector<int> add_superimposed(Scene& s, const Superimposition& sup, const Grouping& g, const Links& links,
                                  const LandmarkMarks& marks) {
    // Specimens first, one batch per group, so the consensus sits on top.
    const std::size_t first = s.dots.size();
    const int ng = std::max(1, g.groups());
    for (int k = 0; k < ng; ++k) s.dots.push_back({translucent(group_color(k), ng > 1 ? 200 : 150), 1.5 * kPoint, false, {}, {}});
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
    add_wireframe(s, sup.consensus, links, kInk, 1.2 * kPoint);
    add_wireframe(s, sup.consensus, marks.curves, kInk, 0.75 * kPoint);
    return add_consensus(s, sup.consensus, marks);
}

std::vector<int> add_change(Scene& s, const Shape2& consensus, const Shape2& target, const Links& links) {
    add_wireframe(s, target, links, kInk, 1.2 * kPoint);
    SceneDots from{kFromColor, 0, false, {}, {}}, to{kInk, 0, true, {}, {}};
    for (std::size_t j = 0; j < consensus.size(); ++j) {
        const QPointF a = s.frame.map(consensus[j].x, consensus[j].y), z = s.frame.map(target[j].x, target[j].y);
        s.paths.push_back({kChangeColor, 1.5 * kPoint, false, false, QColor(), {a, z}});
        from.points.push_back(a);
        to.points.push_back(z);
    }
    to.size = mark_size(to.points, 5.0 * kPoint);
    from.size = to.size * 0.7;
    to.keep_clear = from.keep_clear = true;
    // The numbers keep clear of the consensus's marks as well as the target's.
    std::vector<int> left_out = add_landmark_labels(s, to.points, to.size, {}, from.points);
    s.dots.push_back(std::move(from));
    s.dots.push_back(std::move(to));
    return left_out;
}

std::vector<LegendItem> change_items(const QString& from, const QString& to) {
    // Each shape's entry is its mark as drawn: the target's a ring.
    return {{from, kFromColor, true, Marker::Circle},
            {to, kInk, true, Marker::Circle, true},
            {QStringLiteral("Change"), kChangeColor, false, Marker::Circle, false, false, Qt::SolidLine}};
}

}  // namespace quillan::plot_parts
