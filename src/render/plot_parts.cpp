#include "render/plot_parts.hpp"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace quillan::plot_parts {

QColor translucent(QColor c, int alpha) {
    c.setAlpha(alpha);
    return c;
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

double nice_step(double span, int ticks) {
    if (!(span > 0) || !std::isfinite(span)) return 1.0;
    const double raw = span / ticks;
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    const double m = raw / p;
    return (m < 1.5 ? 1 : m < 3.5 ? 2 : m < 7.5 ? 5 : 10) * p;
}

namespace {

// The next coarser step of 1, 2 or 5 times a power of ten.
double coarser(double step) {
    const double p = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    const double m = step / p;
    return (m < 1.5 ? 2 : m < 3.5 ? 5 : 10) * p;
}

QString tick_text(double v, double step) {
    if (std::abs(v) < step * 1e-9) v = 0;
    return QString::number(v, 'g', 6);
}

}  // namespace

std::vector<std::pair<double, QString>> axis_ticks(double lo, double hi, double length, bool across) {
    std::vector<std::pair<double, QString>> out;
    if (!(hi > lo) || !(length > 0)) return out;
    double step = nice_step(hi - lo, std::max(2, static_cast<int>(length / (across ? 70 : 40))));
    for (int tries = 0; tries < 12; ++tries, step = coarser(step)) {
        out.clear();
        double room = 0;  // the most a tick's text takes along the axis, and a gap
        for (double v = std::ceil(lo / step) * step; v <= hi + step * 1e-9; v += step) {
            out.emplace_back(v, tick_text(v, step));
            const QSizeF t = text_size(out.back().second, SceneText::Role::Tick);
            room = std::max(room, across ? t.width() + 2 * kGap : t.height() + kGap);
        }
        if (step / (hi - lo) * length >= room) break;
    }
    return out;
}

QString fitted(const QString& text, SceneText::Role role, double width) {
    return QFontMetricsF(font_for(role)).elidedText(text, Qt::ElideRight, std::max(0.0, width));
}

std::vector<QString> title_lines(const QString& title, double width, SceneText::Role role) {
    if (title.isEmpty()) return {};
    const auto wide = [&](const QString& t) { return text_size(t, role).width(); };
    if (wide(title) <= width) return {title};
    // Before the part in brackets, where both halves fit.
    const auto bracket = title.indexOf(QStringLiteral(" ("));
    if (bracket > 0 && wide(title.left(bracket)) <= width && wide(title.mid(bracket + 1)) <= width)
        return {title.left(bracket), title.mid(bracket + 1)};
    // The longest first line that fits, broken at a space.
    const QStringList words = title.split(QLatin1Char(' '));
    QString first;
    int used = 0;
    for (; used < words.size(); ++used) {
        const QString next = first.isEmpty() ? words[used] : first + QLatin1Char(' ') + words[used];
        if (!first.isEmpty() && wide(next) > width) break;
        first = next;
    }
    const QString rest = words.mid(used).join(QLatin1Char(' '));
    std::vector<QString> out{fitted(first, role, width)};
    if (!rest.isEmpty()) out.push_back(fitted(rest, role, width));
    return out;
}

std::vector<LegendItem> group_items(const Grouping& g, bool marks, const QString& factor) {
    std::vector<LegendItem> out;
    const QString heading = factor.isEmpty() ? QString::fromStdString(g.factor) : factor;
    if (!heading.isEmpty()) out.push_back({heading, QColor(), false, Marker::Circle, false, true});
    const int n = static_cast<int>(g.names.size());
    for (int k = 0; k < n; ++k)
        out.push_back({QString::fromStdString(g.names[static_cast<std::size_t>(k)]), group_color(k), marks,
                       marks ? group_marker(k, n) : Marker::Circle});
    return out;
}

LegendPlan plan_legend(std::vector<LegendItem> items, QSizeF size, double top) {
    LegendPlan p;
    if (items.empty()) return p;
    const double line = text_size(QStringLiteral("Xg"), SceneText::Role::Legend).height() + 3;
    const int n = static_cast<int>(items.size());
    p.rows = std::clamp(static_cast<int>((size.height() - top - kPad) / line), 1, n);
    p.columns = (n + p.rows - 1) / p.rows;
    p.rows = (n + p.columns - 1) / p.columns;
    // Long names are shortened so that the legend takes at most about a
    // third of the width.
    const double swatch = line * 0.7, most = std::max(40.0, size.width() * 0.3 / p.columns - swatch - 3 * kGap);
    double widest = 0;
    for (auto& item : items) {
        // A heading takes the swatch's room as well.
        const double room = item.heading ? most + swatch + kGap : most, lead = item.heading ? swatch + kGap : 0;
        item.name = fitted(item.name, SceneText::Role::Legend, room);
        widest = std::max(widest, text_size(item.name, SceneText::Role::Legend).width() - lead);
    }
    p.items = std::move(items);
    p.line = line;
    p.column_width = swatch + kGap + widest + 2 * kGap;
    return p;
}

void add_legend(Scene& s, const LegendPlan& plan, const QRectF& around) {
    if (plan.items.empty()) return;
    const double x0 = around.right() + 2 * kGap;
    // Beside the frame's top, unless the frame is lower than the legend is tall.
    const double y0 = std::max(kPad, std::min(around.top(), s.size.height() - kPad - plan.height()));
    const double swatch = plan.line * 0.7;
    for (std::size_t i = 0; i < plan.items.size(); ++i) {
        const LegendItem& item = plan.items[i];
        const auto row = static_cast<int>(i) % plan.rows, column = static_cast<int>(i) / plan.rows;
        const double x = x0 + column * plan.column_width, y = y0 + row * plan.line + (plan.line - swatch) / 2;
        const QRectF box(x, y, swatch, swatch);
        if (item.heading) {
            s.texts.push_back(
                {item.name, QPointF(x, box.center().y()), Qt::AlignLeft | Qt::AlignVCenter, SceneText::Role::Legend});
            continue;
        }
        s.legend.push_back({item.name, item.color, box, item.marker, item.mark, item.outlined, item.line});
        s.texts.push_back(
            {item.name, QPointF(x + swatch + kGap, box.center().y()), Qt::AlignLeft | Qt::AlignVCenter, SceneText::Role::Legend});
    }
}

Margins frame_margins(int title_lines, double y_tick_width, double legend_width) {
    const double title = text_size(QStringLiteral("Xg"), SceneText::Role::Title).height();
    const double tick = text_size(QStringLiteral("0"), SceneText::Role::Tick).height();
    const double axis = text_size(QStringLiteral("Xg"), SceneText::Role::AxisTitle).height();
    Margins m;
    m.top = kPad + std::max(tick / 2, title_lines * title + (title_lines > 0 ? kGap : 0));
    m.bottom = kTickLength + 2 + tick + kGap + axis + kPad;
    m.left = kPad + axis + kGap + y_tick_width + 3 + kTickLength;
    // The last tick's text reaches past the frame by half its width.
    m.right = kPad + std::max(2.5 * tick, legend_width > 0 ? legend_width + 2 * kGap : 0.0);
    return m;
}

QRectF room_inside(QSizeF size, const Margins& m) {
    return {m.left, m.top, std::max(10.0, size.width() - m.left - m.right), std::max(10.0, size.height() - m.top - m.bottom)};
}

double y_tick_width(const PlotFrame& f) {
    double w = 0;
    for (const auto& [v, text] : axis_ticks(f.y0, f.y1, f.area.height(), false))
        w = std::max(w, text_size(text, SceneText::Role::Tick).width());
    return w;
}

LegendPlan lay_out(Scene& s, const QString& title, std::vector<LegendItem> legend, const std::function<PlotFrame(QRectF)>& make) {
    const std::vector<QString> lines = title_lines(title, s.size.width() - 2 * kPad);
    const LegendPlan plan = plan_legend(std::move(legend), s.size, frame_margins(static_cast<int>(lines.size()), 0, 0).top);
    // Twice: the ticks' texts depend on the frame, whose room depends on them.
    double ticks = text_size(QStringLiteral("-0.00"), SceneText::Role::Tick).width();
    s.frame = make(room_inside(s.size, frame_margins(static_cast<int>(lines.size()), ticks, plan.width())));
    const double measured = y_tick_width(s.frame);
    if (std::abs(measured - ticks) > 0.5)
        s.frame = make(room_inside(s.size, frame_margins(static_cast<int>(lines.size()), measured, plan.width())));
    add_title(s, lines, s.frame.area);
    return plan;
}

PlotFrame equal_frame(const Bounds& data, QRectF area) {
    const Bounds b = padded(data);
    const double scale = std::min(area.width() / b.width(), area.height() / b.height());
    const double cx = (b.xmin + b.xmax) / 2, cy = (b.ymin + b.ymax) / 2;
    // A frame too flat for three ticks keeps some of the room around the data.
    const double narrowest = 4 * text_size(QStringLiteral("0"), SceneText::Role::Tick).height();
    const double w = std::min(area.width(), std::max(b.width() * scale, narrowest));
    const double h = std::min(area.height(), std::max(b.height() * scale, narrowest));
    const QRectF fitted_area(area.center().x() - w / 2, area.center().y() - h / 2, w, h);
    const double hw = w / scale / 2, hh = h / scale / 2;
    return {fitted_area, cx - hw, cx + hw, cy - hh, cy + hh};
}

void add_title(Scene& s, const std::vector<QString>& lines, const QRectF& area) {
    const double h = text_size(QStringLiteral("Xg"), SceneText::Role::Title).height();
    double y = area.top() - kGap - h * static_cast<double>(lines.size());
    for (const auto& line : lines) {
        s.texts.push_back({line, QPointF(s.size.width() / 2, y), Qt::AlignHCenter | Qt::AlignTop, SceneText::Role::Title});
        y += h;
    }
}

void add_axes(Scene& s, const QString& x_title, const QString& y_title, bool x_ticks, bool y_ticks, double x_title_drop) {
    const PlotFrame& f = s.frame;
    const QRectF& a = f.area;
    const QColor axis(90, 90, 90);
    const double line = 0.75 * kPoint;
    s.paths.push_back({axis, line, false, true, QColor(), {a.topLeft(), a.topRight(), a.bottomRight(), a.bottomLeft()}});
    if (x_ticks)
        for (const auto& [v, text] : axis_ticks(f.x0, f.x1, a.width(), true)) {
            const QPointF p = f.map(v, f.y0);
            s.paths.push_back({axis, line, false, false, QColor(), {p, p + QPointF(0, kTickLength)}});
            s.texts.push_back({text, p + QPointF(0, kTickLength + 2), Qt::AlignHCenter | Qt::AlignTop, SceneText::Role::Tick});
        }
    double widest = 0;
    for (const auto& [v, text] : axis_ticks(f.y0, f.y1, y_ticks ? a.height() : 0, false)) {
        const QPointF p = f.map(f.x0, v);
        s.paths.push_back({axis, line, false, false, QColor(), {p, p - QPointF(kTickLength, 0)}});
        s.texts.push_back({text, p - QPointF(kTickLength + 3, 0), Qt::AlignRight | Qt::AlignVCenter, SceneText::Role::Tick});
        widest = std::max(widest, text_size(text, SceneText::Role::Tick).width());
    }
    const double tick = text_size(QStringLiteral("0"), SceneText::Role::Tick).height();
    const double high = text_size(QStringLiteral("Xg"), SceneText::Role::AxisTitle).height();
    // Below the frame, centred on it as far as the picture allows.
    const QString xt = fitted(x_title, SceneText::Role::AxisTitle, s.size.width() - 2 * kPad);
    const double across = text_size(xt, SceneText::Role::AxisTitle).width() / 2;
    const double x = std::clamp(a.center().x(), kPad + across, std::max(kPad + across, s.size.width() - kPad - across));
    if (!xt.isEmpty())
        s.texts.push_back({xt, QPointF(x, a.bottom() + kTickLength + 2 + tick + kGap + x_title_drop),
                           Qt::AlignHCenter | Qt::AlignTop, SceneText::Role::AxisTitle});
    if (y_title.isEmpty()) return;
    // Up the left side, centred on the frame as far as the picture allows.
    const QString yt = fitted(y_title, SceneText::Role::AxisTitle, s.size.height() - 2 * kPad);
    const double half = text_size(yt, SceneText::Role::AxisTitle).width() / 2;
    const double y = std::clamp(a.center().y(), kPad + half, std::max(kPad + half, s.size.height() - kPad - half));
    SceneText t{yt, QPointF(a.left() - kTickLength - 3 - widest - kGap - high / 2, y), Qt::AlignCenter,
                SceneText::Role::AxisTitle};
    t.vertical = true;
    s.texts.push_back(t);
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

}  // namespace quillan::plot_parts
