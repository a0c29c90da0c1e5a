// A picture laid out in pixels: the marks, lines, bars and texts of one
// figure, in the order they are painted.
//
// The figures are drawn with plain QPainter rather than Qt Charts: shape
// plots need one scale on both axes (a landmark configuration must not be
// stretched), which chart axes do not keep; QPainter paints the same marks
// onto a QImage, an SVG generator or a PDF writer, so vector output is clean
// lines and text; and it needs only QtGui, so quillan-batch can make every
// picture with no QApplication, no widgets and no display.
//
// Building a scene is separate from painting it so that the tests can check
// where each mark went without reading pixels, and the window can find the
// specimen under the mouse.
#pragma once

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <vector>

class QPainter;

namespace quillan {

// The scene is laid out in pixels of 1/96 inch, whatever the resolution it
// is written at: sizes on paper are fixed there, so a point (1/72 inch) is
// 4/3 of a layout pixel, and a picture of more dots to the inch is drawn
// finer rather than with smaller text.
inline constexpr double kPoint = 96.0 / 72.0;

// Where the data go in a plot: a frame in pixels and the data ranges shown
// across it.
struct PlotFrame {
    QRectF area;
    double x0 = 0, x1 = 1, y0 = 0, y1 = 1;
    QPointF map(double x, double y) const {
        return {area.left() + (x - x0) / (x1 - x0) * area.width(), area.bottom() - (y - y0) / (y1 - y0) * area.height()};
    }
};

// The shape of a mark: beyond ten groups, colours alone are hard to tell
// apart, so the marks differ in shape as well.
// A cross marks what no group is drawn with (estimated landmarks).
enum class Marker { Circle, Square, Triangle, Diamond, Cross };

struct SceneDots {
    QColor color;
    double size = 3.0;      // diameter in pixels
    bool outlined = false;  // a ring with a white centre, for marks that must stand out
    std::vector<QPointF> points;
    std::vector<int> specimens;  // the specimen of each point, or empty
    Marker marker = Marker::Circle;
    bool keep_clear = false;  // marks no text may cover (the numbered landmarks)
};

struct ScenePath {
    QColor color;
    double width = 1.0;
    bool dashed = false;
    bool closed = false;
    QColor fill;  // invalid: not filled
    std::vector<QPointF> points;
    bool clipped = false;  // kept inside the plot's frame
};

struct SceneBox {
    QRectF rect;
    QColor fill;
    QColor edge;
};

struct SceneText {
    enum class Role { Title, AxisTitle, Tick, Legend, Label, Note };
    QString text;
    QPointF at;
    Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter;
    Role role = Role::Label;
    QColor color = Qt::black;
    bool vertical = false;  // turned a quarter to read upwards
};

// The font of each kind of text, sized in points.
QFont font_for(SceneText::Role role);
// The room a text takes as it is painted: its line's height and its width,
// placed by its anchor and alignment (and turned with it).
QRectF text_box(const SceneText& text);
// The width and height of `text` in the font of `role`.
QSizeF text_size(const QString& text, SceneText::Role role);

struct LegendEntry {
    QString name;
    QColor color;
    QRectF swatch;
    Marker marker = Marker::Circle;
    bool mark = false;              // the mark itself in the swatch's place (else a square of the colour)
    bool outlined = false;          // the mark as a ring with a white centre
    Qt::PenStyle line = Qt::NoPen;  // a line of the colour across the swatch, as lines are drawn (else a square)
};

struct Scene {
    QSizeF size;
    PlotFrame frame;               // the data's frame
    std::vector<ScenePath> paths;  // painted first
    std::vector<SceneBox> boxes;
    std::vector<SceneDots> dots;
    std::vector<SceneText> texts;  // painted last
    std::vector<LegendEntry> legend;

    // The specimen whose mark is nearest to `p`, within `radius` pixels.
    int specimen_at(QPointF p, double radius = 5.0) const;
};

// Paints a scene into whatever the painter paints on, scaled from the
// scene's size to `target` (the same size, normally).
void paint_scene(QPainter& painter, const Scene& scene, const QRectF& target);

// Colours of groups 0, 1, 2, ... (a palette that stays distinguishable in print).
QColor group_color(int group);
// The mark of group `group` of `groups`: circles for up to ten groups, else
// a shape that differs from the groups beside it in the palette.
Marker group_marker(int group, int groups);

}  // namespace quillan
