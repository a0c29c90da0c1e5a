// The pieces the figures of plots.cpp are built from, shared with the
// pictures of landmarks in space (space_plots.cpp), which lay out several
// frames in one scene.  Everything here works on the scene's current frame.
//
// Margins are measured in the fonts the texts are drawn in, so that a
// picture of any size and resolution keeps its title, ticks, axis titles
// and legend inside it and apart.
#pragma once

#include "figures/links.hpp"
#include "figures/shapes.hpp"
#include "render/scene.hpp"

#include <functional>
#include <vector>

namespace quillan::plot_parts {

// Around the picture's edge, between a text and what it names, and the
// length of a tick, in layout pixels (1/96 inch).
inline constexpr double kPad = 8, kGap = 5, kTickLength = 4;

QColor translucent(QColor c, int alpha);
// Data bounds widened by 6% (and made non-empty).
Bounds padded(Bounds b);
// A tick step of 1, 2 or 5 times a power of ten giving about `ticks` ticks.
double nice_step(double span, int ticks);
// The ticks from `lo` to `hi` over `length` pixels, as values and their
// texts: as many as their texts leave room for, across (`across`) or up.
std::vector<std::pair<double, QString>> axis_ticks(double lo, double hi, double length, bool across);

// The title's lines (or a note's, in the font of `role`): wrapped at a
// space to fit `width`, at most two lines, the second shortened when it
// still does not fit.
std::vector<QString> title_lines(const QString& title, double width, SceneText::Role role = SceneText::Role::Title);
// `text` shortened (with an ellipsis) to `width` in the font of `role`.
QString fitted(const QString& text, SceneText::Role role, double width);

// One entry of a legend: a swatch of the colour, or the mark itself (as a
// ring with a white centre where the marks are drawn so); or, as the
// legend's first line, the name of what its entries are levels of.
struct LegendItem {
    QString name;
    QColor color;
    bool mark = false;
    Marker marker = Marker::Circle;
    bool outlined = false;
    bool heading = false;
    Qt::PenStyle line = Qt::NoPen;  // an entry for lines: solid or dashed
};
// The groups' entries, as swatches, or as their marks with `marks`, under
// the name of their factor (`factor`, else the grouping's own).
std::vector<LegendItem> group_items(const Grouping& g, bool marks = false, const QString& factor = {});

// The legend of `items` for a picture of `size` whose frames start `top`
// pixels down: one entry a line, in as many columns as the height needs.
struct LegendPlan {
    std::vector<LegendItem> items;
    int rows = 0, columns = 0;
    double column_width = 0, line = 0;
    double width() const { return columns * column_width; }
    double height() const { return rows * line; }
};
LegendPlan plan_legend(std::vector<LegendItem> items, QSizeF size, double top);
// Beside the frame (`around`: the frames together), top-aligned with it.
void add_legend(Scene& s, const LegendPlan& plan, const QRectF& around);

// The margins of a frame: the title's lines above, the ticks and axis
// titles left and below, the legend (of `legend_width`) to the right.
struct Margins {
    double left = 0, right = 0, top = 0, bottom = 0;
};
Margins frame_margins(int title_lines, double y_tick_width, double legend_width);
// The widest text of a frame's y ticks.
double y_tick_width(const PlotFrame& f);

// Lays out a lone frame in `s` with its title, axes and legend: `make`
// turns the room the margins leave into the frame (of the data's aspect,
// or filling it).  Returns the legend as planned, for add_legend.
LegendPlan lay_out(Scene& s, const QString& title, std::vector<LegendItem> legend, const std::function<PlotFrame(QRectF)>& make);
// The room `margins` leave in a picture of `size`.
QRectF room_inside(QSizeF size, const Margins& m);
// The frame, as wide and high as the data (one unit as long on both axes),
// centred in `area`.
PlotFrame equal_frame(const Bounds& data, QRectF area);
// The title's lines above `area`, centred on the picture.
void add_title(Scene& s, const std::vector<QString>& lines, const QRectF& area);
// The frame, its ticks and the axis titles (an empty title is left out);
// the x axis's title `x_title_drop` lower than usual, below texts of its own.
void add_axes(Scene& s, const QString& x_title, const QString& y_title, bool x_ticks = true, bool y_ticks = true,
              double x_title_drop = 0);

void add_wireframe(Scene& s, const Shape2& shape, const Links& links, QColor color, double width);
// The landmark numbers beside their marks, clear of each other, of every
// mark and of the frame's edge, outward from the configuration where there
// is room; one that had to move away gets a short line back.  A number
// with no such place is left out rather than drawn over another: the
// numbers left out are returned, for a note.
// `others`: marks without a number that the numbers keep clear of too.
std::vector<int> add_landmark_labels(Scene& s, const std::vector<QPointF>& marks, double mark_size,
                                     const std::vector<int>& numbers = {}, const std::vector<QPointF>& others = {});
// The same with a text of its own beside each mark (one per mark); returns
// the marks (0-based) left without their text.
std::vector<std::size_t> add_point_labels(Scene& s, const std::vector<QPointF>& marks, double mark_size,
                                          const std::vector<QString>& texts, const std::vector<QPointF>& others = {});
// The specimens' landmarks, one batch of marks per group, the estimated
// landmarks crossed, and the consensus with its wireframe on top.  Returns
// the landmark numbers left out for want of room.
std::vector<int> add_superimposed(Scene& s, const Superimposition& sup, const Grouping& g, const Links& links,
                                  const LandmarkMarks& marks);
// The legend entry of the estimated landmarks, when there are any.
void add_estimated_item(std::vector<LegendItem>& items, const LandmarkMarks& marks);
// The size of the consensus marks: small enough that neighbours stay apart.
double mark_size(const std::vector<QPointF>& marks, double largest);

// From the consensus to the target: a vector at every landmark, the
// target's wireframe and its landmark numbers (returning those left out);
// and the legend saying so, each shape's entry its mark as drawn.
std::vector<int> add_change(Scene& s, const Shape2& consensus, const Shape2& target, const Links& links);
// `from` and `to` name the two shapes in the legend.
std::vector<LegendItem> change_items(const QString& from = QStringLiteral("Consensus"),
                                     const QString& to = QStringLiteral("Target"));

// The colour and mark of estimated landmarks, which no group is drawn with.
extern const QColor kEstimatedColor;
// The colours of a change's vectors and of the consensus's marks in it.
extern const QColor kChangeColor, kFromColor;
// Landmark numbers in order, three or more in a row as a range: "3, 7\u20139".
QString number_list(std::vector<int> numbers);
// "Numbers left out for want of room: 3, 7" for the numbers given, else empty.
QString left_out_note(const std::vector<int>& numbers);
// A note's lines along the foot of the picture, from its left.
void add_note(Scene& s, const std::vector<QString>& lines);
// The height the note of `text` takes there, with its gap above (0 for none).
double note_height(const QString& text, QSizeF size);

}  // namespace quillan::plot_parts
