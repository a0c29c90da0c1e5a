#include "render/scene.hpp"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRgb>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>

namespace quillan {

QColor group_color(int group) {
    // Ten familiar colours, then twelve more chosen to stay apart from them
    // and from each other, so that up to 22 groups are told apart by colour.
    static const QColor palette[] = {{31, 119, 180}, {255, 127, 14},  {44, 160, 44},   {214, 39, 40},  {148, 103, 189},
                                     {140, 86, 75},  {227, 119, 194}, {127, 127, 127}, {188, 189, 34}, {23, 190, 207},
                                     {0, 0, 128},    {128, 0, 0},     {255, 215, 0},   {255, 0, 255},  {0, 0, 0},
                                     {0, 255, 127},  {255, 160, 122}, {75, 0, 130},    {128, 128, 0},  {220, 220, 220},
                                     {0, 100, 0},    {0, 0, 255}};
    constexpr int n = static_cast<int>(std::size(palette));
    QColor c = palette[((group % n) + n) % n];
    // Beyond them the colours repeat a little darker each round.
    for (int round = group / n; round > 0; --round) c = c.darker(130);
    return c;
}

Marker group_marker(int group, int groups) {
    if (groups <= 10) return Marker::Circle;
    static const Marker shapes[] = {Marker::Circle, Marker::Square, Marker::Triangle, Marker::Diamond};
    return shapes[((group % 4) + 4) % 4];
}

int Scene::specimen_at(QPointF p, double radius) const {
    int best = -1;
    double best_d2 = radius * radius;
    for (const auto& batch : dots) {
        if (batch.specimens.size() != batch.points.size()) continue;
        for (std::size_t i = 0; i < batch.points.size(); ++i) {
            const double dx = batch.points[i].x() - p.x(), dy = batch.points[i].y() - p.y();
            const double d2 = dx * dx + dy * dy;
            if (d2 <= best_d2) {  // later marks are painted on top, so they win ties
                best_d2 = d2;
                best = batch.specimens[i];
            }
        }
    }
    return best;
}

QFont font_for(SceneText::Role role) {
    // Sizes for a printed figure: the title 10.5 points, axis titles 9, the
    // rest 7.5 to 8.25, as a journal's column takes them.
    double points = 8.25;
    bool bold = false;
    switch (role) {
        case SceneText::Role::Title:
            points = 10.5;
            bold = true;
            break;
        case SceneText::Role::AxisTitle:
            points = 9;
            break;
        case SceneText::Role::Tick:
            points = 7.5;
            break;
        case SceneText::Role::Label:
            points = 7.5;
            bold = true;
            break;
        case SceneText::Role::Legend:
        case SceneText::Role::Note:
            break;
    }
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(static_cast<int>(std::lround(points * kPoint)));
    f.setBold(bold);
    return f;
}

QSizeF text_size(const QString& text, SceneText::Role role) {
    const QFontMetricsF m(font_for(role));
    return {m.horizontalAdvance(text), m.height()};
}

namespace {

// A rectangle of `size` placed so that `at` is its anchor point.
QRectF placed(QPointF at, QSizeF size, Qt::Alignment align) {
    double x = at.x(), y = at.y();
    if (align & Qt::AlignHCenter) x -= size.width() / 2;
    else if (align & Qt::AlignRight) x -= size.width();
    if (align & Qt::AlignVCenter) y -= size.height() / 2;
    else if (align & Qt::AlignBottom) y -= size.height();
    return {QPointF(x, y), size};
}

// A text box of generous size placed so that `at` is its anchor point: the
// painter aligns the text within it.
QRectF anchored(QPointF at, Qt::Alignment align) { return placed(at, QSizeF(900, 40), align); }

}  // namespace

QRectF text_box(const SceneText& text) {
    const QSizeF size = text_size(text.text, text.role);
    if (!text.vertical) return placed(text.at, size, text.align);
    QTransform turn;
    turn.translate(text.at.x(), text.at.y());
    turn.rotate(-90);
    return turn.mapRect(placed(QPointF(0, 0), size, text.align));
}

namespace {

// Each 8-bit channel of a 32-bit pixel times a / 255, two channels at a
// time, rounded (the usual premultiplied-alpha arithmetic).
std::uint32_t byte_mul(std::uint32_t x, std::uint32_t a) {
    std::uint32_t t = (x & 0xff00ffu) * a;
    t = ((t + ((t >> 8) & 0xff00ffu) + 0x800080u) >> 8) & 0xff00ffu;
    x = ((x >> 8) & 0xff00ffu) * a;
    x = (x + ((x >> 8) & 0xff00ffu) + 0x800080u) & 0xff00ff00u;
    return x | t;
}

// Many small opaque-ish squares straight into the pixels of an image: the
// general painter path costs about a microsecond a point, far too slow for
// the half a million marks of a large study.  Only for images of 32-bit
// pixels with no rotation or clipping; anything else takes the painter path.
bool paint_dots_into_image(QPainter& painter, const SceneDots& batch) {
    auto* image = dynamic_cast<QImage*>(painter.device());
    if (!image || painter.hasClipping() || image->devicePixelRatio() != 1.0) return false;
    if (image->format() != QImage::Format_ARGB32_Premultiplied && image->format() != QImage::Format_RGB32) return false;
    const QTransform t = painter.combinedTransform();
    if (t.type() > QTransform::TxScale) return false;
    const double m11 = t.m11(), m22 = t.m22(), dx = t.dx(), dy = t.dy();
    const int side = std::max(1, static_cast<int>(std::lround(batch.size * (std::abs(m11) + std::abs(m22)) / 2)));
    const int half = side / 2;
    const QColor c = batch.color;
    const std::uint32_t a = static_cast<std::uint32_t>(c.alpha()), keep = 255 - a;
    const std::uint32_t premultiplied = qPremultiply(c.rgba());
    const int w = image->width(), h = image->height();
    uchar* bits = image->bits();
    const qsizetype stride = image->bytesPerLine();
    for (const QPointF& p : batch.points) {
        const double fx = p.x() * m11 + dx, fy = p.y() * m22 + dy;
        if (!(fx > -side && fx < w + side && fy > -side && fy < h + side)) continue;
        const int x0 = std::max(0, static_cast<int>(std::floor(fx)) - half),
                  x1 = std::min(w, static_cast<int>(std::floor(fx)) - half + side);
        const int y0 = std::max(0, static_cast<int>(std::floor(fy)) - half),
                  y1 = std::min(h, static_cast<int>(std::floor(fy)) - half + side);
        for (int y = y0; y < y1; ++y) {
            auto* line = reinterpret_cast<std::uint32_t*>(bits + stride * y);
            for (int x = x0; x < x1; ++x) {
                line[x] = premultiplied + byte_mul(line[x], keep);
            }
        }
    }
    return true;
}

// Marks of another shape than a circle, filled, one by one.
void paint_shaped_dots(QPainter& painter, const SceneDots& batch) {
    const double r = batch.size / 2;
    QPolygonF shape;
    switch (batch.marker) {
        case Marker::Square:
            shape << QPointF(-r, -r) << QPointF(r, -r) << QPointF(r, r) << QPointF(-r, r);
            break;
        case Marker::Triangle:
            shape << QPointF(0, -1.2 * r) << QPointF(1.1 * r, 0.8 * r) << QPointF(-1.1 * r, 0.8 * r);
            break;
        case Marker::Diamond:
            shape << QPointF(0, -1.3 * r) << QPointF(1.3 * r, 0) << QPointF(0, 1.3 * r) << QPointF(-1.3 * r, 0);
            break;
        case Marker::Circle:
        case Marker::Cross:
            break;
    }
    if (batch.marker == Marker::Cross) {
        painter.setPen(QPen(batch.color, std::max(1.0, batch.size * 0.22), Qt::SolidLine, Qt::RoundCap));
        for (const auto& p : batch.points) {
            painter.drawLine(p + QPointF(-r, -r), p + QPointF(r, r));
            painter.drawLine(p + QPointF(-r, r), p + QPointF(r, -r));
        }
        return;
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(batch.color);
    for (const auto& p : batch.points) painter.drawPolygon(shape.translated(p));
}

void paint_dots(QPainter& painter, const SceneDots& batch) {
    if (batch.points.empty()) return;
    if (batch.outlined) {
        painter.setPen(QPen(batch.color, std::max(0.8, batch.size * 0.2)));
        painter.setBrush(Qt::white);
        const double r = batch.size / 2;
        for (const auto& p : batch.points) painter.drawEllipse(p, r, r);
    } else if (batch.marker != Marker::Circle) {
        paint_shaped_dots(painter, batch);
    } else {
        // Many small marks: square points without antialiasing are what
        // keeps a plot of half a million points quick to redraw.
        const bool many = batch.points.size() > 2000;
        if (many && paint_dots_into_image(painter, batch)) return;
        painter.setRenderHint(QPainter::Antialiasing, !many);
        painter.setPen(QPen(batch.color, batch.size, Qt::SolidLine, many ? Qt::SquareCap : Qt::RoundCap));
        painter.drawPoints(batch.points.data(), static_cast<int>(batch.points.size()));
        painter.setRenderHint(QPainter::Antialiasing, true);
    }
}

}  // namespace

void paint_scene(QPainter& painter, const Scene& scene, const QRectF& target) {
    painter.save();
    painter.translate(target.topLeft());
    if (scene.size.width() > 0 && scene.size.height() > 0)
        painter.scale(target.width() / scene.size.width(), target.height() / scene.size.height());
    painter.fillRect(QRectF(QPointF(0, 0), scene.size), Qt::white);
    painter.setRenderHint(QPainter::Antialiasing, true);

    for (const auto& path : scene.paths) {
        QPen pen(path.color, path.width, path.dashed ? Qt::DashLine : Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter.setPen(pen);
        const QPolygonF poly(QList<QPointF>(path.points.begin(), path.points.end()));
        if (path.clipped) painter.setClipRect(scene.frame.area);
        if (path.closed) {
            painter.setBrush(path.fill.isValid() ? QBrush(path.fill) : QBrush(Qt::NoBrush));
            painter.drawPolygon(poly);
        } else {
            painter.setBrush(Qt::NoBrush);
            painter.drawPolyline(poly);
        }
        if (path.clipped) painter.setClipping(false);
    }
    for (const auto& box : scene.boxes) {
        painter.setPen(box.edge.isValid() ? QPen(box.edge, 1.0) : QPen(Qt::NoPen));
        painter.setBrush(box.fill.isValid() ? QBrush(box.fill) : QBrush(Qt::NoBrush));
        painter.drawRect(box.rect);
    }
    for (const auto& batch : scene.dots) paint_dots(painter, batch);
    for (const auto& e : scene.legend) {
        if (e.mark) {
            paint_dots(painter, {e.color, e.swatch.width() * 0.8, e.outlined, {e.swatch.center()}, {}, e.marker});
            continue;
        }
        if (e.line != Qt::NoPen) {
            painter.setPen(QPen(e.color, 1.5 * kPoint, e.line, Qt::FlatCap));
            painter.drawLine(QPointF(e.swatch.left() - 2, e.swatch.center().y()),
                             QPointF(e.swatch.right() + 2, e.swatch.center().y()));
            continue;
        }
        painter.setPen(QPen(e.color.darker(130), 0.75));
        painter.setBrush(e.color);
        painter.drawRect(e.swatch);
    }
    for (const auto& text : scene.texts) {
        painter.setFont(font_for(text.role));
        painter.setPen(text.color);
        if (text.vertical) {
            painter.save();
            painter.translate(text.at);
            painter.rotate(-90);
            painter.drawText(anchored(QPointF(0, 0), text.align), text.align.toInt(), text.text);
            painter.restore();
        } else {
            painter.drawText(anchored(text.at, text.align), text.align.toInt(), text.text);
        }
    }
    painter.restore();
}

}  // namespace quillan
