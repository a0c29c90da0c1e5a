// The pictures: every scene the program draws, read from its drawn items
// rather than from pixels (what it marks, where, and that its texts fit),
// the landmarks in space seen in three views and turned, the shape
// analyses' pictures against their reports, the files a picture is saved
// as, and quillan-batch --plots as a user runs it.
#include "figures/distributions.hpp"
#include "io/text.hpp"
#include "platform/error.hpp"
#include "render/export.hpp"
#include "render/pictures.hpp"
#include "render/plots.hpp"
#include "render/space_plots.hpp"
#include "render/toolkit_plots.hpp"
#include "support/batch_runner.hpp"
#include "support/fixtures.hpp"
#include "support/shapes.hpp"

#include <QGuiApplication>
#include <QImage>
#include <QLineF>
#include <QPainter>
#include <QSvgRenderer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <set>
#include <sstream>

namespace quillan::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const QSizeF kSize(800, 600);
const QSizeF kWide(1200, 600);
// The layout size of a picture of so many pixels at `dpi`.
QSizeF layout_size(int width, int height, int dpi) { return {width * 96.0 / dpi, height * 96.0 / dpi}; }

QImage painted(const Scene& s) {
    QImage image(s.size.toSize(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    paint_scene(p, s, QRectF(QPointF(0, 0), s.size));
    return image;
}

bool near(QPointF a, QPointF b, double tol = 1e-6) { return std::abs(a.x() - b.x()) < tol && std::abs(a.y() - b.y()) < tol; }

const SceneText* find_text(const Scene& s, const QString& part) {
    for (const auto& t : s.texts)
        if (t.text.contains(part)) return &t;
    return nullptr;
}

TEST(Superimposition, SemilandmarksAreSmallerAndJoinedAndEstimatedPointsCrossed) {
    const Superimposition sup = superimpose(make_shapes(6, 6, 2, 0.05));
    LandmarkMarks marks;
    marks.semilandmarks = {3, 4};
    marks.curves = {{2, 3}, {3, 4}, {4, 5}};
    marks.estimated = {{1, 0}, {4, 5}};
    const Grouping all = make_grouping(Matrix(), 6, GroupBy::None);
    const Scene s = superimposition_scene(sup, all, {}, kSize, marks);
    const Scene plain = superimposition_scene(sup, all, {}, kSize);
    // Fixed landmarks: the numbered consensus marks on top; semilandmarks below them, smaller.
    const SceneDots& fixed = s.dots.back();
    const SceneDots& sliding = s.dots[s.dots.size() - 2];
    EXPECT_EQ(fixed.points.size(), 4u);
    EXPECT_EQ(sliding.points.size(), 2u);
    EXPECT_LT(sliding.size, fixed.size);
    // Semilandmarks carry no number.
    auto numbered = [&](const QString& n) {
        return std::any_of(s.texts.begin(), s.texts.end(),
                           [&](const SceneText& t) { return t.role == SceneText::Role::Label && t.text == n; });
    };
    EXPECT_FALSE(numbered(QStringLiteral("4")));
    EXPECT_TRUE(numbered(QStringLiteral("6")));
    // The curve joins its points on the consensus.
    EXPECT_EQ(s.paths.size(), plain.paths.size() + 3);
    // The estimated points crossed where the specimens have them, in a mark
    // and colour no group has, and said in the legend.
    const SceneDots& crosses = s.dots[s.dots.size() - 3];
    ASSERT_EQ(crosses.points.size(), 2u);
    EXPECT_EQ(crosses.marker, Marker::Cross);
    EXPECT_TRUE(near(crosses.points[1], s.frame.map(sup.aligned(4, 10), sup.aligned(4, 11))));
    EXPECT_EQ(crosses.specimens, (std::vector<int>{1, 4}));
    for (int k = 0; k < 22; ++k) {
        const QColor g = group_color(k), e = crosses.color;
        EXPECT_GE(std::hypot(g.red() - e.red(), g.green() - e.green(), g.blue() - e.blue()), 60.0) << k;
        EXPECT_NE(group_marker(k, 22), Marker::Cross);
    }
    ASSERT_EQ(s.legend.size(), 1u);
    EXPECT_EQ(s.legend[0].name, QStringLiteral("Estimated landmark"));
    EXPECT_EQ(s.legend[0].marker, Marker::Cross);
    EXPECT_TRUE(plain.legend.empty());
}

TEST(Superimposition, MarksEveryAlignedPointAndTheNumberedConsensusOnEqualScales) {
    const Superimposition sup = superimpose(make_shapes(12, 5, 4, 0.06));
    const Grouping g =
        make_grouping(matrix_from_rows({{1}, {1}, {2}, {2}, {3}, {1}, {2}, {3}, {3}, {1}, {2}, {1}}), 12, GroupBy::First);
    const Scene s = superimposition_scene(sup, g, Links{{0, 1}, {1, 2}}, kSize);
    const PlotFrame& f = s.frame;
    // One data unit is as many pixels across as up.
    EXPECT_NEAR(f.area.width() / (f.x1 - f.x0), f.area.height() / (f.y1 - f.y0), 1e-9);
    // Specimen 5 (group 3) has its five landmarks where the aligned numbers put them.
    const SceneDots& third = s.dots[2];
    int found = 0;
    for (std::size_t i = 0; i < third.points.size(); ++i)
        if (third.specimens[i] == 4) {
            const int j = found++;
            EXPECT_TRUE(near(third.points[i], f.map(sup.aligned(4, 2 * j), sup.aligned(4, 2 * j + 1)))) << j;
        }
    EXPECT_EQ(found, 5);
    // The consensus on top, numbered 1..5 beside each mark.
    const SceneDots& cons = s.dots.back();
    ASSERT_EQ(cons.points.size(), 5u);
    for (int j = 0; j < 5; ++j) {
        EXPECT_TRUE(near(cons.points[static_cast<std::size_t>(j)],
                         f.map(sup.consensus[static_cast<std::size_t>(j)].x, sup.consensus[static_cast<std::size_t>(j)].y)));
        const SceneText* label = find_text(s, QString::number(j + 1));
        ASSERT_NE(label, nullptr);
    }
    // A legend entry per group, in its colour, painted where the scene says.
    ASSERT_EQ(s.legend.size(), 3u);
    EXPECT_EQ(s.legend[1].name, QStringLiteral("Group 2"));
    const QImage image = painted(s);
    for (const auto& e : s.legend) EXPECT_EQ(image.pixelColor(e.swatch.center().toPoint()), e.color) << e.name.toStdString();
    // The consensus ring is dark where its edge is drawn.
    int darkest = 255;
    for (int dx = -1; dx <= 1; ++dx)
        darkest = std::min(darkest, image.pixelColor((cons.points[0] + QPointF(cons.size / 2 + dx, 0)).toPoint()).lightness());
    EXPECT_LT(darkest, 160);
    // The wireframe joins the consensus landmarks it names.
    bool linked = false;
    for (const auto& p : s.paths)
        linked = linked || (p.points.size() == 2 && near(p.points[0], cons.points[1]) && near(p.points[1], cons.points[2]));
    EXPECT_TRUE(linked);
    // Pointing near a specimen's mark names that specimen, even where other
    // specimens' marks are close: the mark of specimen 5 farthest from any
    // other specimen's, pointed at from a third of the way to the nearest.
    std::size_t best = 0;
    double room = 0;
    for (std::size_t i = 0; i < third.points.size(); ++i) {
        double nearest = 1e9;
        for (const auto& batch : s.dots)
            for (std::size_t j = 0; j < batch.points.size() && j < batch.specimens.size(); ++j)
                if (batch.specimens[j] != third.specimens[i])
                    nearest = std::min(nearest, QLineF(batch.points[j], third.points[i]).length());
        if (nearest > room) {
            room = nearest;
            best = i;
        }
    }
    ASSERT_GT(room, 0.5);
    const double step = std::min(room / 3, 3.0) / std::sqrt(2.0);
    EXPECT_EQ(s.specimen_at(third.points[best] + QPointF(step, step)), third.specimens[best]);
    EXPECT_EQ(s.specimen_at(QPointF(2, 2)), -1);
}

TEST(Superimposition, ManyMarksArePaintedWhereTheSceneSaysOnAnyDevice) {
    // Enough points for the direct-to-pixels path; the painter path (an
    // image format it does not handle) must agree on where the marks are.
    const Superimposition sup = superimpose(make_shapes(400, 8, 6, 0.02));
    Scene s = superimposition_scene(sup, make_grouping(Matrix(), 400, GroupBy::None), {}, kSize);
    s.dots.pop_back();  // the consensus marks and numbers would cover specimens' marks
    s.texts.clear();
    ASSERT_GT(s.dots[0].points.size(), 2000u);
    QImage fast(s.size.toSize(), QImage::Format_ARGB32_Premultiplied), slow(s.size.toSize(), QImage::Format_ARGB32);
    for (QImage* image : {&fast, &slow}) {
        QPainter p(image);
        paint_scene(p, s, QRectF(QPointF(0, 0), s.size));
    }
    for (std::size_t i = 0; i < s.dots[0].points.size(); i += 97) {
        const QPoint at(static_cast<int>(std::floor(s.dots[0].points[i].x())),
                        static_cast<int>(std::floor(s.dots[0].points[i].y())));
        for (const QImage* image : {&fast, &slow}) {
            const QColor c = image->pixelColor(at);
            EXPECT_LT(c.red(), 200) << i;  // the blue of the only group, not the white background
            EXPECT_GT(c.blue(), c.red()) << i;
        }
    }
    // Far from every landmark the background stays white.
    EXPECT_EQ(fast.pixelColor(s.frame.area.topLeft().toPoint() + QPoint(3, 3)), QColor(Qt::white));
}

TEST(Components, PlotScoresWithTheirVarianceAndOutlineEachGroup) {
    const PictureData data(make_shapes(20, 6, 8, 0.1), matrix_from_rows(std::vector<std::vector<double>>(20, {1})),
                           GroupBy::None);
    const PcaResult& pca = data.components();
    Grouping two;
    two.names = {"A", "B"};
    for (int i = 0; i < 20; ++i) two.group_of.push_back(i < 10 ? 0 : 1);
    const Scene s = components_scene(pca, two, 1, 2, Outline::Hull, kSize);
    ASSERT_NE(find_text(s, QStringLiteral("PC2 (%1% of the variance)").arg(pca.percent(1), 0, 'f', 1)), nullptr);
    ASSERT_NE(find_text(s, QStringLiteral("PC3 (")), nullptr);
    EXPECT_TRUE(near(s.dots[1].points[0], s.frame.map(pca.scores(10, 1), pca.scores(10, 2))));
    // Each hull runs through scores of its own group only.
    int hulls = 0;
    for (const auto& p : s.paths) {
        if (!p.closed || !p.fill.isValid()) continue;
        ++hulls;
        const SceneDots& members = s.dots[p.color == group_color(0) ? 0 : 1];
        for (const auto& q : p.points) {
            bool on = false;
            for (const auto& m : members.points) on = on || near(q, m);
            EXPECT_TRUE(on);
        }
    }
    EXPECT_EQ(hulls, 2);
    EXPECT_EQ(s.legend.size(), 2u);
    const Scene scree = scree_scene(pca, kSize);
    ASSERT_EQ(static_cast<int>(scree.boxes.size()), pca.components());
    EXPECT_NEAR(scree.boxes[0].rect.top(), scree.frame.map(1, pca.percent(0)).y(), 1e-9);
}

TEST(ShapeChange, VectorsRunFromTheConsensusToTheMagnifiedTarget) {
    const PictureData data(make_shapes(15, 5, 2, 0.08), Matrix(), GroupBy::None);
    const auto [row, title] = data.target({ShapeTarget::Kind::ComponentLow, 0}, 3.0);
    EXPECT_THAT(title.toStdString(), HasSubstr("lowest score on PC1 (magnified 3 times)"));
    const Shape2& c = data.superimposition().consensus;
    const Shape2 target = view_of_row(row, 2, 0, 1);
    const Scene s = shape_change_scene(c, target, {}, title, kSize);
    int vectors = 0;
    for (std::size_t j = 0; j < c.size(); ++j)
        for (const auto& p : s.paths)
            if (p.points.size() == 2 && near(p.points[0], s.frame.map(c[j].x, c[j].y)) &&
                near(p.points[1], s.frame.map(target[j].x, target[j].y))) {
                ++vectors;
                break;
            }
    EXPECT_EQ(vectors, 5);
    EXPECT_THROW(data.target({ShapeTarget::Kind::GroupMean, 3}, 1.0), QuillanError);
}

// Pictures for a paper: the frame takes the data's aspect, numbers of
// landmarks that crowd together are moved apart, the title says the
// magnification, and many groups differ in their marks too.
TEST(ShapePictures, FitTheDataAndStayLegible) {
    // A long, flat outline with two landmarks almost on top of each other.
    const Shape2 flat = {{0, 0}, {4, 0}, {4, 0.8}, {2.0, 1.0}, {2.01, 1.0}, {0, 0.8}};
    Shape2 moved = flat;
    moved[1].x += 0.05;
    const Scene s = shape_change_scene(flat, moved, {}, QStringLiteral("t"), kSize);
    const PlotFrame& f = s.frame;
    EXPECT_NEAR(f.area.width() / (f.x1 - f.x0), f.area.height() / (f.y1 - f.y0), 1e-9);
    EXPECT_LT(f.area.height(), 0.6 * f.area.width());  // not a square frame with empty bands
    EXPECT_NEAR(f.x1 - f.x0, (f.area.width() / f.area.height()) * (f.y1 - f.y0), 1e-9);
    std::vector<QRectF> labels;
    for (const auto& t : s.texts)
        if (t.role == SceneText::Role::Label) labels.push_back(text_box(t));
    ASSERT_EQ(labels.size(), 6u);
    for (std::size_t a = 0; a < labels.size(); ++a)
        for (std::size_t b = a + 1; b < labels.size(); ++b) EXPECT_FALSE(labels[a].intersects(labels[b])) << a << " " << b;

    const PictureData data(make_shapes(15, 5, 2, 0.08), Matrix(), GroupBy::None);
    EXPECT_THAT(data.target({ShapeTarget::Kind::ComponentHigh, 0}, 1.0).second.toStdString(), HasSubstr("(not magnified)"));

    // Twelve groups: every neighbour in the palette has another mark as well.
    const PictureData many(make_shapes(24, 5, 3, 0.08), Matrix(), GroupBy::None);
    Grouping twelve;
    for (int k = 0; k < 12; ++k) twelve.names.push_back("g" + std::to_string(k));
    for (int i = 0; i < 24; ++i) twelve.group_of.push_back(i % 12);
    const Scene pcs = components_scene(many.components(), twelve, 0, 1, Outline::None, kSize);
    for (int k = 0; k + 1 < 12; ++k)
        EXPECT_NE(pcs.dots[static_cast<std::size_t>(k)].marker, pcs.dots[static_cast<std::size_t>(k + 1)].marker);
    ASSERT_EQ(pcs.legend.size(), 12u);
    const QImage image = painted(pcs);
    for (const auto& e : pcs.legend) {
        EXPECT_EQ(e.marker, pcs.dots[static_cast<std::size_t>(&e - pcs.legend.data())].marker);
        EXPECT_EQ(image.pixelColor(e.swatch.center().toPoint()), e.color) << e.name.toStdString();
    }
    // Ten groups or fewer keep round marks.
    twelve.names.resize(10);
    for (auto& g : twelve.group_of) g %= 10;
    const Scene ten = components_scene(many.components(), twelve, 0, 1, Outline::None, kSize);
    for (int k = 0; k < 10; ++k) EXPECT_EQ(ten.dots[static_cast<std::size_t>(k)].marker, Marker::Circle);
}

TEST(Histogram, MarksTheObservedValueOnTheAxisAndWritesP) {
    StatisticDistribution d;
    d.observed = 7.5;
    d.permutations = 200;
    for (int i = 0; i < 200; ++i) d.values.push_back(i % 10);
    d.exceeded = 40;
    const Scene s = histogram_scene(d, QStringLiteral("RunOneWay: Explained sum of squares"), kSize);
    bool marker = false;
    for (const auto& p : s.paths) marker = marker || (p.color == QColor(200, 30, 30) && near(p.points[0], s.frame.map(7.5, 0)));
    EXPECT_TRUE(marker);
    EXPECT_NE(find_text(s, QStringLiteral("p = 0.2000")), nullptr);
    EXPECT_NE(find_text(s, QStringLiteral("(40 of 200 permutations exceeded it)")), nullptr);
    // Bars standing for all 200 permutations.
    double counted = 0;
    for (const auto& b : s.boxes)
        counted += (s.frame.area.bottom() - b.rect.top()) / s.frame.area.height() * (s.frame.y1 - s.frame.y0);
    EXPECT_NEAR(counted, 200.0, 1e-6);
    d.exceeded = 0;
    EXPECT_NE(find_text(histogram_scene(d, QString(), kSize), QStringLiteral("p < 0.005")), nullptr);
    // A model's F counts the observed value among the permutations, as its table does.
    d.rule = PValueRule::ReachedWithObserved;
    d.reached = 0;
    const Scene reached = histogram_scene(d, QString(), kSize);
    EXPECT_NE(find_text(reached, QStringLiteral("p = 0.0050")), nullptr);
    EXPECT_NE(find_text(reached, QStringLiteral("(0 of 200 permutations and the observed reached it)")), nullptr);
    d.permutations = 9999;
    d.reached = 1234;
    EXPECT_NE(find_text(histogram_scene(d, QString(), kSize),
                        QStringLiteral("(1,234 of 9,999 permutations and the observed reached it)")),
              nullptr);
}

// The histogram's title says what the statistic is of, by the factor's name
// where an import gave one, and its axis which statistic over how many
// permutations.
TEST(Histogram, TitlesAndAxesNameTheFactorAndTheStatistic) {
    struct Case {
        const char* action;
        int statistic;
        std::vector<std::string> factors;
        const char* title;
        const char* axis;
    };
    const Case cases[] = {
        {"RunOneWayF", 0, {"species"}, "One-way F test: F ratio of species", "F over 9,999 permutations"},
        {"RunOneWayF", 0, {}, "One-way F test: F ratio of G1", "F over 9,999 permutations"},
        {"RunOneWay", 0, {"species"}, "One-way test: explained SS of species", "Explained SS over 9,999 permutations"},
        {"RunTwoWayF", 1, {"species", "site"}, "Two-way F test: F ratio of site", "F over 9,999 permutations"},
        {"RunTwoWayF",
         2,
         {"species", "site"},
         "Two-way F test: F ratio of the species x site interaction",
         "F over 9,999 permutations"},
        {"RunTwoWay", 0, {}, "Two-way test: explained SS, G1 x G2 cells", "Explained SS over 9,999 permutations"},
    };
    for (const Case& c : cases) {
        DistributionLog log;
        log.start(c.action);
        auto loop = log.begin(0, 9999, std::vector<double>(3, 1.0), 1);
        const double values[] = {0.5, 0.5, 0.5};
        loop->record(0, 0, values);
        loop->finish({0, 0, 0}, {1, 1, 1});
        const StatisticDistribution& d = log.distributions()[static_cast<std::size_t>(c.statistic)];
        const QString title = statistic_caption(log, d, c.factors);
        EXPECT_EQ(title.toStdString(), c.title);
        EXPECT_NE(find_text(histogram_scene(d, title, kSize), QString::fromLatin1(c.axis)), nullptr) << c.title;
    }
}

// Comparisons of every pair of many groups: the first histograms are drawn,
// the rest counted as not drawn.
TEST(Histogram, AreDrawnUpToTheirLimitAndTheRestCounted) {
    DistributionLog log;
    log.start("RunModel");
    const std::size_t stats = kMaxHistograms + 50;
    auto loop = log.begin(1, 3, std::vector<double>(stats, 1.0), 1);
    for (long long i = 0; i < 3; ++i) loop->record(0, i, std::vector<double>(stats, static_cast<double>(i)).data());
    loop->finish(std::vector<long long>(stats, 1), std::vector<long long>(stats, 1));
    std::size_t not_drawn = 0;
    EXPECT_EQ(distribution_pictures(log, kSize, &not_drawn).size(), kMaxHistograms);
    EXPECT_EQ(not_drawn, 50u);
}

TEST(Colours, TwentyTwoGroupsAreToldApartAndLevelNamesNameThem) {
    for (int a = 0; a < 22; ++a)
        for (int b = a + 1; b < 22; ++b) {
            const QColor x = group_color(a), y = group_color(b);
            const double d = std::hypot(x.red() - y.red(), x.green() - y.green(), x.blue() - y.blue());
            EXPECT_GE(d, 60.0) << "groups " << a << " and " << b;
        }
    // Groups are named by the levels behind their codes where these are known.
    const Matrix groups = matrix_from_rows({{1, 2}, {2, 1}, {1, 1}});
    const LevelNames names = {{"Jord", "Teyah"}, {"Allo", "Symp"}};
    EXPECT_EQ(make_grouping(groups, 3, GroupBy::First, names).names, (std::vector<std::string>{"Jord", "Teyah"}));
    EXPECT_EQ(make_grouping(groups, 3, GroupBy::Cells, names).names,
              (std::vector<std::string>{"Jord x Symp", "Teyah x Allo", "Jord x Allo"}));
    EXPECT_EQ(make_grouping(groups, 3, GroupBy::Second).names, (std::vector<std::string>{"Group 2", "Group 1"}));
}

StatisticDistribution three_permutations() {
    StatisticDistribution d;
    d.observed = 1;
    d.permutations = 3;
    d.values = {0, 1, 2};
    return d;
}

TEST(Export, WritesEachFormatWholeOrLeavesTheOldFile) {
    const TempDir dir;
    const Scene s = histogram_scene(three_permutations(), QStringLiteral("t"), QSizeF(300, 200));
    EXPECT_TRUE(encode_picture(s, PictureFormat::Png).startsWith("\x89PNG"));
    const QByteArray svg = encode_picture(s, PictureFormat::Svg);
    const QSvgRenderer vector(svg);
    EXPECT_TRUE(vector.isValid());
    EXPECT_EQ(vector.viewBox(), QRect(0, 0, 300, 200));
    EXPECT_TRUE(svg.contains(">Observed 1</text>"));  // text stays text, not outlines
    EXPECT_TRUE(encode_picture(s, PictureFormat::Pdf).startsWith("%PDF"));
    const std::string png = dir.file("h.PNG");
    save_picture(s, png);
    EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(300, 200));
    EXPECT_THAT([&] { save_picture(s, dir.file("h.gif")); },
                ::testing::ThrowsMessage<QuillanError>(HasSubstr(".png, .svg or .pdf")));
    // A folder where the file should go: nothing written, the message names it.
    std::filesystem::create_directories(dir.file("taken.svg"));
    EXPECT_THAT([&] { save_picture(s, dir.file("taken.svg")); },
                ::testing::ThrowsMessage<QuillanError>(HasSubstr("Cannot write the file " + dir.file("taken.svg"))));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("taken.svg")));
}

// A picture for print: more pixels at a higher resolution, laid out so the
// text is as large on paper; SVG and PDF stay lines and text of that size.
TEST(Export, MakesPicturesOfAnySizeAndResolution) {
    const PictureSize size{1500, 1200, 300};
    EXPECT_NEAR(size.layout_width(), 480, 1e-9);
    const Scene s = histogram_scene(three_permutations(), QStringLiteral("t"), QSizeF(size.layout_width(), size.layout_height()));
    const QByteArray svg = encode_picture(s, PictureFormat::Svg, size.dpi);
    EXPECT_EQ(QSvgRenderer(svg).viewBox(), QRect(0, 0, 480, 384));
    EXPECT_TRUE(svg.contains("width=\"127mm\"") || svg.contains("width=\"127.0")) << svg.left(400).toStdString();
    EXPECT_TRUE(svg.contains(">Observed 1</text>"));
    EXPECT_FALSE(svg.contains("<image"));
    const QByteArray pdf = encode_picture(s, PictureFormat::Pdf, size.dpi);
    EXPECT_TRUE(pdf.contains("/MediaBox [0 0 360.0")) << "5 x 4 inches: " << pdf.mid(pdf.indexOf("MediaBox"), 40).toStdString();
    const auto too_small = [] { PictureSize{50, 800, 96}.check(); };
    const auto too_fine = [] { PictureSize{800, 600, 5000}.check(); };
    EXPECT_THAT(too_small,
                ::testing::ThrowsMessage<QuillanError>(HasSubstr("from 100 to 20000 pixels wide and high, not 50x800")));
    EXPECT_THAT(too_fine, ::testing::ThrowsMessage<QuillanError>(HasSubstr("from 36 to 2400 dots per inch, not 5000")));
}

TEST(BatchPlots, WriteEveryPictureOfATestAndRefuseABadLinksFile) {
    const TempDir temp;
    const auto dir = temp.path() / "batch_plots";
    const auto plain = run_batch(plethodon_run("one-way-f", {"-p", "99", "-s", "1"}));
    const auto r = run_batch(plethodon_run("one-way-f", {"-p", "99", "-s", "1", "--plots", dir.string()}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, plain.out);  // the report does not change
    for (const char* name : {"superimposition", "pc1-pc2", "scree", "shape-change", "shape-change-group-2", "permutations-1"})
        for (const char* ext : {".svg", ".png"})
            EXPECT_TRUE(std::filesystem::file_size(dir / (std::string(name) + ext)) > 100) << name << ext;
    EXPECT_FALSE(std::filesystem::exists(dir / "permutations-2.svg"));
    { std::ofstream(dir / "links.txt") << "1 2\n2 99\n"; }
    // A bad links file fails the run, but only after the report is out.
    const auto bad = run_batch(
        plethodon_run("one-way-f", {"-p", "99", "-s", "1", "--plots", dir.string(), "--links", (dir / "links.txt").string()}));
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, plain.out);
    EXPECT_THAT(bad.err, HasSubstr("links.txt, line 2: landmark 99 does not exist; the shapes have 12 landmarks"));
    // Two landmarks: no spline can be drawn, but the other pictures are.
    { std::ofstream(dir / "two.txt") << "0 0 1 0 1\n0 0 1 0.1 2\n0 0.1 1 0 3\n"; }
    const auto two = run_batch({"load", "-l", (dir / "two.txt").string(), "--plots", (dir / "two").string()});
    EXPECT_EQ(two.status, 0) << two.err;
    EXPECT_THAT(two.err, HasSubstr("No shape-change picture: The spline needs at least three landmarks."));
    EXPECT_TRUE(std::filesystem::exists(dir / "two" / "superimposition.svg"));
    // A file where the folder should be.
    const auto no_folder = run_batch({"load", "-l", (dir / "two.txt").string(), "--plots", (dir / "links.txt").string()});
    EXPECT_EQ(no_folder.status, 1);
    EXPECT_THAT(no_folder.err, HasSubstr("Cannot write the pictures into " + (dir / "links.txt").string()));
    // The folder of the pictures onto an input is refused before anything is read.
    const auto onto_input = run_batch({"load", "-l", (dir / "two.txt").string(), "--plots", (dir / "two.txt").string()});
    EXPECT_EQ(onto_input.status, 64);
    EXPECT_THAT(onto_input.err, HasSubstr("would overwrite the input -l"));
}

// The pictures are files of the run like its exports: when one cannot be
// saved the run fails and none of them, nor the exports, is left behind.
TEST(BatchPlots, APictureThatCannotBeSavedLeavesNoneOfTheRunsFiles) {
    const TempDir temp;
    const auto dir = temp.path() / "batch_plots_blocked";
    // A folder where the third picture's file belongs: the first two are drawn first.
    std::filesystem::create_directories(dir / "pictures" / "pc1-pc2.svg");
    const auto r = run_batch(plethodon_run(
        "one-way", {"-p", "9", "-s", "1", "--json", (dir / "r.json").string(), "--plots", (dir / "pictures").string()}));
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("pc1-pc2.svg"));
    EXPECT_FALSE(std::filesystem::exists(dir / "r.json"));
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir / "pictures")) left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"pc1-pc2.svg"});
}

// A model with a covariate adds its regression scores to the pictures: one
// mark a specimen where its covariate and score put it, coloured by the
// model's factor.  A model without one has no such picture.
TEST(BatchPlots, AModelWithACovariateDrawsItsRegressionScores) {
    RegressionScores r{"log(CS)", {1, 2, 3, 4}, {-0.5, 0.25, 0, 1}, "species", {"Jord", "Teyah"}, {0, 1, 1, 0}};
    const Scene s = regression_scene(r, kSize);
    ASSERT_NE(find_text(s, QStringLiteral("Regression score of shape on log(CS)")), nullptr);
    ASSERT_NE(find_text(s, QStringLiteral("species: Teyah")), nullptr);
    ASSERT_EQ(s.dots.size(), 2u);
    EXPECT_EQ(s.dots[1].specimens, (std::vector<int>{1, 2}));
    EXPECT_TRUE(near(s.dots[0].points[1], s.frame.map(4, 1)));
    EXPECT_TRUE(s.frame.area.contains(s.dots[0].points[0]));
    const TempDir temp;
    const auto dir = temp.path() / "batch_model_plots";
    const auto r1 = run_batch(plethodon_run("model", {"-p", "9", "-s", "1", "--plots", (dir / "cov").string(), "-c",
                                                      data_file("plethodon.cov.txt"), "--formula", "cov * G1"}));
    ASSERT_EQ(r1.status, 0) << r1.err;
    EXPECT_THAT(read_bytes((dir / "cov" / "regression-score.svg").string()), HasSubstr("Regression score of shape on cov"));
    EXPECT_TRUE(std::filesystem::exists(dir / "cov" / "permutations-3.png"));
    const auto r2 = run_batch(plethodon_run("model", {"-p", "9", "-s", "1", "--plots", (dir / "groups").string()}));
    ASSERT_EQ(r2.status, 0) << r2.err;
    EXPECT_TRUE(std::filesystem::exists(dir / "groups" / "permutations-1.svg"));
    EXPECT_FALSE(std::filesystem::exists(dir / "groups" / "regression-score.svg"));
}

// An imported file names its groups: the pictures say the names, and the
// shape change toward each group is a file named after it.
TEST(BatchPlots, NameTheGroupsOfAnImportInLegendsTitlesAndFileNames) {
    const TempDir temp;
    const auto dir = temp.path() / "batch_named_plots";
    const std::string data = QUILLAN_DATA_DIR;
    const auto r = run_batch({"one-way", "-i", data + "/plethodon.csv", "--factor", "species", "-p", "9", "-s", "1", "--plots",
                              dir.string(), "--plot-size", "1600x1200", "--plot-dpi", "300"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* name : {"shape-change-group-Jord", "shape-change-group-Teyah"})
        EXPECT_TRUE(std::filesystem::exists(dir / (std::string(name) + ".svg"))) << name;
    EXPECT_FALSE(std::filesystem::exists(dir / "shape-change-group-1.svg"));
    auto text = [&](const char* file) { return read_bytes((dir / file).string()); };
    EXPECT_THAT(text("superimposition.svg"), HasSubstr(">Teyah<"));
    EXPECT_THAT(text("superimposition.svg"), HasSubstr(">species<"));  // the legend names its factor
    EXPECT_THAT(text("shape-change-group-Teyah.svg"), HasSubstr("mean of Teyah"));
    EXPECT_THAT(text("permutations-1.svg"), HasSubstr("One-way test: explained SS of species"));
    EXPECT_THAT(text("permutations-1.svg"), HasSubstr("Explained SS over 9 permutations"));
    // A pairwise comparison's histogram is named by its pair and statistic.
    const auto pairs = run_batch({"model", "-i", data + "/plethodon.csv", "--factor", "species", "--formula", "species", "-p",
                                  "9", "-s", "1", "--pairwise", "species", "--plots", (dir / "pairs").string()});
    ASSERT_EQ(pairs.status, 0) << pairs.err;
    EXPECT_THAT(read_bytes((dir / "pairs" / "pairwise-Jord-Teyah-d.svg").string()), HasSubstr("Jord and Teyah"));
    // So is a pair of trajectories', after the model's F ratios by their place.
    const auto paths = run_batch({"trajectory", "-i", data + "/trajectories.csv", "--group", "group", "--level", "stage", "-p",
                                  "9", "-s", "1", "--plots", (dir / "paths").string()});
    ASSERT_EQ(paths.status, 0) << paths.err;
    for (const char* name : {"permutations-3", "pairwise-A-C-path-length", "pairwise-A-C-path-angle", "pairwise-B-C-path-shape"})
        EXPECT_TRUE(std::filesystem::exists(dir / "paths" / (std::string(name) + ".svg"))) << name;
    EXPECT_FALSE(std::filesystem::exists(dir / "paths" / "permutations-4.svg"));
    EXPECT_THAT(read_bytes((dir / "paths" / "pairwise-A-B-path-angle.svg").string()), HasSubstr("A and B"));
    // At exactly the size and resolution asked for.
    const QImage png(QString::fromStdString((dir / "superimposition.png").string()));
    EXPECT_EQ(png.size(), QSize(1600, 1200));
    EXPECT_NEAR(png.dotsPerMeterX() * 0.0254, 300, 0.5);
    for (const char* size : {"20x30", "1600", "axb"})
        EXPECT_EQ(run_batch({"load", "-l", data + "/plethodon.lm.txt", "--plots", dir.string(), "--plot-size", size}).status, 64)
            << size;
    // Allowed, but too small for the text at so many dots to the inch: said.
    const auto crowded = run_batch({"load", "-l", data + "/plethodon.lm.txt", "--plots", dir.string(), "--plot-dpi", "2400"});
    EXPECT_EQ(crowded.status, 0) << crowded.err;
    EXPECT_THAT(crowded.err, HasSubstr("at 2400 dpi, pictures of 1000x800 pixels are too small for their text, which will be "
                                       "cut off or run together: give --plot-size 10000x8000 or more"));
}

TEST(GroupPictures, AreNamedSafelyAndApartWhenTheNamesCollide) {
    EXPECT_EQ(file_name_safe("Middle_Devonian"), "Middle_Devonian");
    EXPECT_EQ(file_name_safe("a/b c:d"), "a_b_c_d");
    EXPECT_EQ(file_name_safe("..hidden"), "_..hidden");
    EXPECT_EQ(file_name_safe("\xc3\xa9t\xc3\xa9"), "_t_");
    EXPECT_EQ(file_name_safe(""), "_");
    // Two names that read the same once made safe, and groups with codes only.
    const Matrix landmarks = make_shapes(8, 4, 2, 0.05);
    const Matrix groups = matrix_from_rows({{1}, {2}, {1}, {2}, {5}, {5}, {1}, {2}});
    const PictureData named(landmarks, groups, GroupBy::First, {{"a/b", "a b"}});
    std::vector<std::string> names;
    for (const auto& s : group_change_pictures(named, PictureChoices{})) names.push_back(s.name);
    EXPECT_THAT(names, ::testing::ElementsAre("shape-change-group-a_b", "shape-change-group-a_b-2", "shape-change-group-5"));
    names.clear();
    for (const auto& s : group_change_pictures(PictureData(landmarks, groups, GroupBy::First), PictureChoices{}))
        names.push_back(s.name);
    EXPECT_THAT(names, ::testing::ElementsAre("shape-change-group-1", "shape-change-group-2", "shape-change-group-5"));
    // A grouping of more groups than anyone looks through draws none.
    const int many = kMaxGroupChanges + 1;
    Matrix each(2 * many, 1);
    for (int i = 0; i < 2 * many; ++i) each(i, 0) = 1 + i / 2;
    EXPECT_TRUE(
        group_change_pictures(PictureData(make_shapes(2 * many, 4, 3, 0.05), each, GroupBy::First), PictureChoices{}).empty());
}

// Without its picture module quillan-batch refuses --plots, as it refuses a
// wrong command line, before reading or writing anything; other runs do not
// need the module.
TEST(BatchPlots, AMissingPictureModuleRefusesPlotsOnly) {
    const TempDir temp;
    const auto dir = temp.path() / "batch_no_module";
    const std::vector<std::string> run = plethodon_run("one-way", {"-p", "9", "-s", "1"});
    const auto plain = run_batch(run);
    ::setenv("QUILLAN_PICTURE_MODULE_DIR", (dir / "nowhere").c_str(), 1);
    const auto refused = run_batch(plethodon_run(
        "one-way", {"-p", "9", "-s", "1", "--plots", (dir / "pictures").string(), "--log", (dir / "log.txt").string()}));
    const auto without = run_batch(run);
    ::unsetenv("QUILLAN_PICTURE_MODULE_DIR");
    EXPECT_EQ(refused.status, 64);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "quillan-batch: the picture module quillan-pictures.so was not found (looked in " +
                               (dir / "nowhere").string() + "); --plots is not available\n");
    EXPECT_FALSE(std::filesystem::exists(dir));
    EXPECT_EQ(without.status, 0) << without.err;
    EXPECT_EQ(without.out, plain.out);
}

// quillan-batch linked whole hands a run with --plots to the picture
// program beside the module.  A module without it, or a picture program of
// another build, refuses the run as a missing module does; the stop signals
// the hand-over blocks are unblocked again (a run drew and ended above).
TEST(BatchPlots, APictureProgramMissingOrOfAnotherBuildRefusesPlots) {
    const std::filesystem::path built = std::filesystem::path(QUILLAN_BATCH_EXE).parent_path();
    if (!std::filesystem::exists(built / "quillan-batch-pictures")) GTEST_SKIP() << "quillan-batch opens the module itself";
    const TempDir temp;
    const auto lone = temp.path() / "lone";
    std::filesystem::create_directories(lone);
    std::filesystem::copy_file(built / "quillan-pictures.so", lone / "quillan-pictures.so");
    const auto run = plethodon_run("one-way", {"-p", "9", "--plots", (temp.path() / "pictures").string()});
    ::setenv("QUILLAN_PICTURE_MODULE_DIR", lone.c_str(), 1);
    const auto alone = run_batch(run);
    ::unsetenv("QUILLAN_PICTURE_MODULE_DIR");
    ::setenv("QUILLAN_HANDED_OVER_BY", "0.0.1 (commit 000000000000)", 1);
    const auto other = run_program((built / "quillan-batch-pictures").string(), run);
    ::unsetenv("QUILLAN_HANDED_OVER_BY");
    EXPECT_EQ(alone.status, 64);
    EXPECT_EQ(alone.err, "quillan-batch: the picture program " + (lone / "quillan-batch-pictures").string() +
                             ", which draws with the picture module " + (lone / "quillan-pictures.so").string() +
                             ", was not found; --plots is not available\n");
    EXPECT_EQ(other.status, 64);
    EXPECT_THAT(other.err, ::testing::StartsWith("quillan-batch: the picture program quillan-batch-pictures belongs to "
                                                 "another build of quillan ("));
    EXPECT_THAT(other.err, ::testing::HasSubstr("the program that handed it the run is 0.0.1 (commit 000000000000))"));
    EXPECT_FALSE(std::filesystem::exists(temp.path() / "pictures"));
}

// The pictures of landmarks in space: three views side by side, each the
// aligned coordinates seen along one axis at one scale for all three.

Matrix macaques() { return load_data("macaques.lm.txt"); }
Matrix macaque_sexes() { return load_data("macaques.groups.txt"); }

// Each view's marks of `row` (3k coordinates) are one map of its two
// coordinates, with as many pixels to a unit across as up, and the same
// number in every view: the pictures may be compared by eye.
void expect_one_scale(const std::array<const SceneDots*, 3>& marks, const Eigen::RowVectorXd& row) {
    double unit = 0;
    for (std::size_t v = 0; v < 3; ++v) {
        const SpaceView& view = kSpaceViews[v];
        const auto& p = marks[v]->points;
        ASSERT_EQ(static_cast<Eigen::Index>(p.size()) * 3, row.size());
        const double a0 = row(view.across), b0 = row(view.up);
        const double scale = (p[1].x() - p[0].x()) / (row(3 + view.across) - a0);
        if (v == 0) unit = scale;
        EXPECT_NEAR(scale, unit, 1e-6 * unit) << view.name;
        for (std::size_t j = 0; j < p.size(); ++j) {
            const auto at = static_cast<Eigen::Index>(3 * j);
            EXPECT_NEAR(p[j].x() - p[0].x(), scale * (row(at + view.across) - a0), 1e-6) << view.name << j;
            EXPECT_NEAR(p[0].y() - p[j].y(), scale * (row(at + view.up) - b0), 1e-6) << view.name << j;  // up is up
        }
    }
}

TEST(SpacePictures, TheSuperimpositionIsSeenFromTheFrontTheSideAndTheTop) {
    const PictureData data(macaques(), macaque_sexes(), GroupBy::First, {}, 3);
    const Superimposition& sup = data.superimposition();
    ASSERT_EQ(sup.landmarks, 7);
    const Links links{{0, 1}, {1, 2}, {2, 6}};
    const Scene s = superimposition_picture(data, links, kWide);
    // Per view: a batch of marks per sex, then the numbered consensus; and
    // the consensus in perspective.
    ASSERT_EQ(s.dots.size(), 10u);
    expect_one_scale({&s.dots[2], &s.dots[5], &s.dots[8]}, sup.consensus_row);
    // The views that share an axis line up along it: the front and the side
    // share y, and in two rows and columns the front and the top share x; in
    // a row of three the top comes last.
    for (const QSizeF size : {QSizeF(1000, 800), QSizeF(1800, 450)}) {
        const Scene laid = superimposition_picture(data, links, size);
        const auto &front = laid.dots[2].points, &side = laid.dots[5].points, &top = laid.dots[8].points;
        const bool grid = size.height() > 500;
        for (std::size_t j = 0; j < 7; ++j) {
            EXPECT_NEAR(front[j].y(), side[j].y(), 1e-9);
            if (grid) EXPECT_NEAR(front[j].x(), top[j].x(), 1e-9);
            else
                for (const QPointF& q : side) EXPECT_GT(top[j].x(), q.x());
        }
    }
    for (const char* name :
         {"Front", "Side", "Top", "Perspective", "z (aligned)", "Superimposed specimens in 3-D (18 specimens, 7 landmarks)"})
        EXPECT_TRUE(std::any_of(s.texts.begin(), s.texts.end(), [&](const SceneText& t) { return t.text == name; })) << name;
    // Every specimen's every landmark in every view, named when pointed at.
    std::size_t marks = 0;
    for (std::size_t v = 0; v < 3; ++v) marks += s.dots[3 * v].points.size() + s.dots[3 * v + 1].points.size();
    EXPECT_EQ(marks, 3u * 18 * 7);
    EXPECT_EQ(s.specimen_at(s.dots[4].points[0]), s.dots[4].specimens[0]);
    // The wireframe in each view and in perspective, and one legend for them
    // all, under the name of its factor.
    int wires = 0;
    for (const auto& p : s.paths) wires += p.width == 1.2 * kPoint ? 1 : 0;
    EXPECT_EQ(wires, 4 * 3);
    EXPECT_EQ(s.legend.size(), 2u);
    EXPECT_NE(find_text(s, QStringLiteral("G1")), nullptr);
    // With no links the perspective joins each landmark to its nearest, and says so.
    const Scene bare = superimposition_picture(data, {}, kWide);
    std::size_t tree = 0;
    for (const auto& p : bare.paths) tree += p.width == 1.2 * kPoint ? 1 : 0;
    EXPECT_EQ(tree, 6u);
    EXPECT_NE(find_text(bare, QStringLiteral("nearest neighbours")), nullptr);
    // Each view's consensus is painted: its rings are dark at their edge.
    const QImage image = painted(s);
    for (std::size_t v = 0; v < 3; ++v) {
        const SceneDots& ring = s.dots[3 * v + 2];
        int darkest = 255;
        for (int dx = -1; dx <= 1; ++dx)
            darkest =
                std::min(darkest, image.pixelColor((ring.points[0] + QPointF(ring.size / 2 + dx, 0)).toPoint()).lightness());
        EXPECT_LT(darkest, 200) << kSpaceViews[v].name;
    }
}

TEST(SpacePictures, TheShapeChangeRunsFromTheConsensusToTheTargetInEachView) {
    const PictureData data(macaques(), macaque_sexes(), GroupBy::First, {}, 3);
    ASSERT_GT(data.components().components(), 2);  // scores as in the plane
    for (const ShapeTarget target :
         {ShapeTarget{ShapeTarget::Kind::ComponentHigh, 1}, ShapeTarget{ShapeTarget::Kind::GroupMean, 1}}) {
        const auto [row, title] = data.target(target, 2.0);
        ASSERT_EQ(row.size(), 21);
        const Scene s = shape_change_picture(data, row, {}, title, kWide);
        ASSERT_EQ(s.dots.size(), 8u);  // per view and in perspective the consensus, then the target
        expect_one_scale({&s.dots[0], &s.dots[2], &s.dots[4]}, data.superimposition().consensus_row);
        expect_one_scale({&s.dots[1], &s.dots[3], &s.dots[5]}, row);
        int vectors = 0;
        for (const auto& p : s.paths) vectors += p.color == QColor(200, 60, 40) ? 1 : 0;
        EXPECT_EQ(vectors, 4 * 7);
        // The legend's marks as the shapes' marks are drawn.
        ASSERT_EQ(s.legend.size(), 3u);
        EXPECT_EQ(s.legend[0].outlined, s.dots[0].outlined);
        EXPECT_EQ(s.legend[1].outlined, s.dots[1].outlined);
        // A change too small to see in perspective is drawn longer there, by
        // a factor the title states as well as the view's name.
        QString heading;
        for (const auto& t : s.texts) heading += t.role == SceneText::Role::Title ? t.text + QLatin1Char(' ') : QString();
        const SceneText* named = find_text(s, QStringLiteral("\u00d7"));  // "Perspective, vectors ×N" or "Perspective ×N"
        EXPECT_EQ(named != nullptr, heading.contains(QStringLiteral("the perspective's vectors"))) << heading.toStdString();
    }
}

// The view the window turns: the landmarks turned about the origin and seen
// along the turned z axis, at a scale that does not change as they turn.
TEST(SpacePictures, ATurnedViewShowsTheTurnedCoordinatesAtAFixedScale) {
    const Superimposition sup = superimpose(macaques(), 3);
    const Grouping all = make_grouping(Matrix(), 18, GroupBy::None);
    const Eigen::Matrix3d front = Eigen::Matrix3d::Identity();
    const Eigen::Matrix3d quarter = Eigen::AngleAxisd(std::numbers::pi / 2, Eigen::Vector3d::UnitY()).toRotationMatrix();
    const Scene a = turned_scene(sup, all, {}, front, kWide), b = turned_scene(sup, all, {}, quarter, kWide);
    ASSERT_EQ(a.dots.size(), 2u);  // the specimens, then the consensus
    EXPECT_EQ(a.frame.area, b.frame.area);
    const PlotFrame& f = a.frame;
    EXPECT_NEAR(f.area.width() / (f.x1 - f.x0), f.area.height() / (f.y1 - f.y0), 1e-9);
    for (int j = 0; j < 7; ++j) {
        const Eigen::Vector3d p = sup.consensus_row.segment<3>(3 * j).transpose();
        const auto k = static_cast<std::size_t>(j);
        EXPECT_NEAR(a.dots[1].points[k].x(), f.map(p.x(), p.y()).x(), 1e-9);
        EXPECT_NEAR(a.dots[1].points[k].y(), f.map(p.x(), p.y()).y(), 1e-9);
        // A quarter turn about y brings z across the screen (and x toward the back).
        EXPECT_NEAR(b.dots[1].points[k].x(), f.map(p.z(), p.y()).x(), 1e-9);
        EXPECT_NEAR(b.dots[1].points[k].y(), f.map(p.z(), p.y()).y(), 1e-9);
    }
    EXPECT_EQ(a.dots[0].points.size(), 18u * 7);
    for (const char* axis : {"x", "y", "z"})
        EXPECT_TRUE(std::any_of(b.texts.begin(), b.texts.end(), [&](const SceneText& t) { return t.text == axis; })) << axis;
}

// Zoomed, the view is magnified about its centre: every mark twice as far
// from it at twice the zoom; further in, what leaves the frame is not drawn.
TEST(SpacePictures, AZoomedViewMagnifiesAboutTheCentreAndKeepsToItsFrame) {
    const Superimposition sup = superimpose(macaques(), 3);
    const Grouping all = make_grouping(Matrix(), 18, GroupBy::None);
    const Eigen::Matrix3d turn = Eigen::AngleAxisd(0.4, Eigen::Vector3d::UnitX()).toRotationMatrix();
    const Links links{{0, 1}, {1, 2}, {2, 6}};
    const Scene half = turned_scene(sup, all, links, turn, kWide, 0.5), one = turned_scene(sup, all, links, turn, kWide);
    EXPECT_EQ(one.frame.area, half.frame.area);
    const QPointF centre = one.frame.area.center();
    ASSERT_EQ(one.dots[0].points.size(), 18u * 7);
    ASSERT_EQ(half.dots[0].points.size(), one.dots[0].points.size());
    for (std::size_t i = 0; i < one.dots[0].points.size(); ++i) {
        const QPointF a = half.dots[0].points[i] - centre, b = one.dots[0].points[i] - centre;
        EXPECT_NEAR(b.x(), 2 * a.x(), 1e-9);
        EXPECT_NEAR(b.y(), 2 * a.y(), 1e-9);
    }
    const Scene close = turned_scene(sup, all, links, turn, kWide, 8.0);
    const QRectF& area = close.frame.area;
    std::size_t shown = 0;
    for (const SceneDots& d : close.dots) {
        EXPECT_TRUE(d.specimens.empty() || d.specimens.size() == d.points.size());
        for (const QPointF& p : d.points) EXPECT_TRUE(area.contains(p)) << p.x() << ", " << p.y();
        shown += d.points.size();
    }
    EXPECT_GT(shown, 0u);
    EXPECT_LT(shown, 18u * 7 + 7);
    // A consensus landmark out of the frame loses its number as well.
    const std::size_t numbers = std::count_if(close.texts.begin(), close.texts.end(), [](const SceneText& t) {
        return t.role == SceneText::Role::Label && t.text.toInt() >= 1;
    });
    EXPECT_LT(close.dots.back().points.size(), 7u);
    EXPECT_EQ(numbers, close.dots.back().points.size());
    for (const ScenePath& p : close.paths)
        if (p.width == 1.2 * kPoint) {
            EXPECT_TRUE(p.clipped);  // the wireframe is cut at the frame
        }
    // Painted, nothing of the data lies outside the frame: beside it, the
    // picture is white but for the title and the triad's letters above and below.
    const QImage image = painted(close);
    for (int y = static_cast<int>(area.top()) + 2; y < static_cast<int>(area.bottom()) - 2; y += 3)
        for (const int x : {static_cast<int>(area.left()) - 4, static_cast<int>(area.right()) + 4})
            EXPECT_EQ(image.pixelColor(x, y), QColor(Qt::white)) << x << ", " << y;
}

// The numbers of the shape analyses' pictures as the actions hand them
// over, from runs on the bundled data (with landmarks misplaced where a
// picture needs specimens to flag).

// Runs `action` on `h` with a recorder and returns what it kept for its
// pictures (the run must report).
ToolkitFigures figures_of(Harness& h, const std::string& action) {
    DistributionLog log;
    log.start(action);
    h.shell.options().recorder = &log;
    const Outcome o = h.run(action);
    h.shell.options().recorder = nullptr;
    EXPECT_EQ(o, Outcome::Reported) << action << ": " << h.last_message();
    EXPECT_TRUE(log.figures().has_value()) << action;
    return log.figures().value_or(ToolkitFigures{});
}

// The figures of every shape analysis on real data, for the pictures' layout.
const std::vector<ToolkitFigures>& every_analysis_figure() {
    static const std::vector<ToolkitFigures> all = [] {
        std::vector<ToolkitFigures> out;
        TempDir dir;
        Harness h;
        EXPECT_EQ(h.load("Import", misplaced_plethodon(dir, {"P05", "P23", "P31"})), Outcome::Done) << h.last_message();
        h.set_box(kPermBox, Value("99"));
        out.push_back(figures_of(h, "RunOutliers"));
        h.shell.given_options()["within-groups"] = "true";
        out.push_back(figures_of(h, "RunOutliers"));
        out.push_back(figures_of(h, "RunDisparity"));
        out.push_back(figures_of(h, "RunCva"));
        h.shell.given_options()["partition"] = data_file("plethodon.partition.txt");
        out.push_back(figures_of(h, "RunIntegration"));
        h.shell.given_options()["block2"] = data_file("plethodon.cov.txt");
        out.push_back(figures_of(h, "RunPls"));
        Loaded four({.landmarks = "larvalHead.lm.txt", .groups = "larvalMorph.family.groups.txt", .perms = "9"});
        out.push_back(figures_of(four, "RunCva"));
        Loaded wings({.landmarks = "mosquito.lm.txt", .groups = "mosquito.groups.txt", .perms = "9"});
        out.push_back(figures_of(wings, "RunSymmetry"));
        // In space, and outliers within six groups (the flagged apart from every group).
        Loaded brains({.landmarks = "brains.lm.txt", .groups = "brains.sex.groups.txt", .perms = "9", .dimensions = 3});
        out.push_back(figures_of(brains, "RunOutliers"));
        Loaded six({.landmarks = "larvalHead.lm.txt", .groups = "larvalMorph.treatment.groups.txt", .perms = "9"});
        six.shell.given_options()["within-groups"] = "true";
        out.push_back(figures_of(six, "RunOutliers"));
        // Nine species and their ancestors, named beside the branches.
        Harness tree;
        EXPECT_EQ(tree.load("Import", data_file("plethspecies/plethspecies.tps")), Outcome::Done) << tree.last_message();
        EXPECT_EQ(tree.load("LoadTree", data_file("plethspecies/plethspecies.tre")), Outcome::Done) << tree.last_message();
        out.push_back(figures_of(tree, "RunPhyloPca"));
        // The same tips coloured by three groups of G1, beside their legend.
        std::ofstream(dir.file("clades.txt")) << "1\n1\n2\n2\n2\n3\n3\n3\n1\n";
        EXPECT_EQ(tree.load("LoadGlist", dir.file("clades.txt")), Outcome::Done) << tree.last_message();
        out.push_back(figures_of(tree, "RunPhyloPca"));
        EXPECT_EQ(out.back().phylomorphospace->groups.names, (std::vector<std::string>{"1", "2", "3"}));
        // Eight groups of long names, every pair differing: more brackets than fit.
        DisparityFigure many;
        for (int g = 0; g < 8; ++g) {
            many.groups.push_back("Population from valley " + std::to_string(g + 1));
            many.variance.push_back(0.001 * (g + 1));
            for (int b = g + 1; b < 8; ++b) many.pairs.push_back({g, b, 0.01});
        }
        out.push_back({});
        out.back().disparity = many;
        return out;
    }();
    return all;
}

// The pictures of the shape analyses say what their reports say: the
// flagged specimens, the pairs that differ; and --plots writes each
// action's pictures.

// Every name the report's "Flagged:" lines give.
std::set<std::string> flagged_in(const std::string& report) {
    std::set<std::string> out;
    std::istringstream in(report);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Flagged: ", 0) != 0 || line == "Flagged: none") continue;
        std::istringstream names(line.substr(9));
        for (std::string name; std::getline(names, name, ',');) out.insert(name.substr(name.find_first_not_of(' ')));
    }
    return out;
}

TEST(OutliersPicture, MarksAndNamesExactlyTheSpecimensTheReportFlags) {
    TempDir dir;
    Harness h;
    ASSERT_EQ(h.load("Import", misplaced_plethodon(dir, {"P05", "P23", "P31"}, 3)), Outcome::Done);
    for (const bool within : {false, true}) {
        SCOPED_TRACE(within);
        h.shell.given_options()["within-groups"] = within ? "true" : "false";
        const ToolkitFigures figures = figures_of(h, "RunOutliers");
        const std::set<std::string> flagged = flagged_in(report_of(h));
        ASSERT_FALSE(flagged.empty());
        const OutliersFigure& f = *figures.outliers;
        const Scene s = outlier_distances_scene(f, QStringLiteral("Outliers"), kSize);
        // The ringed marks, the names beside them and the flagged of the report are the same specimens.
        const SceneDots& ringed = s.dots.back();
        ASSERT_TRUE(ringed.outlined);
        std::set<std::string> marked, named;
        for (int i : ringed.specimens) marked.insert(f.names[static_cast<std::size_t>(i)]);
        for (const SceneText& t : s.texts)
            if (t.role == SceneText::Role::Label) named.insert(t.text.toStdString());
        EXPECT_EQ(marked, flagged);
        EXPECT_EQ(named, flagged);
        // Within groups the flagged are in a colour far from any of the first
        // fourteen groups' (red is the fourth's).
        for (int k = 0; within && k < 14; ++k) {
            const QColor g = group_color(k), c = ringed.color;
            EXPECT_GT(std::abs(g.red() - c.red()) + std::abs(g.green() - c.green()) + std::abs(g.blue() - c.blue()), 100) << k;
        }
        // Every specimen has its mark.
        std::size_t marks = 0;
        for (const SceneDots& d : s.dots) marks += d.points.size();
        EXPECT_EQ(marks, f.names.size());
        // The specimen beside the mean is the farthest of the flagged.
        double farthest = -1, most = 0;
        for (const auto& set : f.sets)
            for (std::size_t k = 0; k < set.specimens.size(); ++k) {
                if (set.specimens[k] == f.farthest) farthest = set.distances[k];
                if (flagged.count(f.names[static_cast<std::size_t>(set.specimens[k])])) most = std::max(most, set.distances[k]);
            }
        EXPECT_TRUE(f.farthest_flagged);
        EXPECT_EQ(farthest, most);
    }
}

TEST(DisparityPicture, BracketsJoinThePairsThatDifferAndNoOthers) {
    DisparityFigure f{{"a", "b", "c", "d"}, {0.004, 0.002, 0.003, 0.001}, {}};
    // (a,b) and (b,d) differ, (a,d) differs at exactly the reports' mark, the rest do not.
    for (int a = 0; a < 4; ++a)
        for (int b = a + 1; b < 4; ++b)
            f.pairs.push_back({a, b, (a == 0 && b == 1) || (a == 1 && b == 3) ? 0.001 : a == 0 && b == 3 ? 0.05 : 0.2});
    const Scene s = disparity_scene(f, QStringLiteral("Disparity"), QStringLiteral("Groups"), kSize);
    std::vector<std::pair<double, double>> ends;
    for (const ScenePath& p : s.paths)
        if (p.points.size() == 4 && !p.closed) ends.emplace_back(p.points.front().x(), p.points.back().x());
    std::sort(ends.begin(), ends.end());
    const auto bar = [&](int g) { return s.frame.map(g + 1, 0).x(); };
    ASSERT_EQ(ends.size(), 3u);
    const std::vector<std::pair<int, int>> want = {{0, 1}, {0, 3}, {1, 3}};
    for (std::size_t k = 0; k < want.size(); ++k) {
        EXPECT_NEAR(ends[k].first, bar(want[k].first), 3);
        EXPECT_NEAR(ends[k].second, bar(want[k].second), 3);
    }
    // Each bar is as tall as its group's variance.
    ASSERT_EQ(s.boxes.size(), 4u);
    for (std::size_t g = 0; g < 4; ++g) EXPECT_NEAR(s.boxes[g].rect.top(), s.frame.map(0, f.variance[g]).y(), 1e-9);
    // Names too long for their bars are written whole, on two lines or turned.
    for (const auto& names : {std::vector<std::string>{"albistylum-sympatric", "brunneum-sympatric", "albistylum", "brunneum"},
                              std::vector<std::string>{"albistylumsympatric", "brunneumallopatric", "c", "d"}}) {
        f.groups = names;
        const Scene print =
            disparity_scene(f, QStringLiteral("Disparity"), QStringLiteral("Groups"), layout_size(1500, 1200, 300));
        QString ticks;
        for (const SceneText& t : print.texts) ticks += t.role == SceneText::Role::Tick ? t.text : QString();
        for (const auto& name : names) EXPECT_TRUE(ticks.contains(QString::fromStdString(name))) << ticks.toStdString();
    }
}

// The tips take their levels' colours, listed in the legend under their
// factor's name, and keep their names; without levels they have one colour.
TEST(PhylomorphospacePicture, ColoursTheTipsByTheirLevels) {
    PhylomorphospaceFigure f;
    f.axis = "PC";
    f.percent = {60, 30};
    f.tips = {"A", "B", "C", "D"};
    f.tip_scores = (Eigen::MatrixXd(4, 2) << -1, 0, -1, 1, 1, 0, 1, 1).finished();
    f.node_scores = (Eigen::MatrixXd(3, 2) << 0, 0.5, -0.5, 0.5, 0.5, 0.5).finished();
    f.tip_parent = {1, 1, 2, 2};
    f.node_parent = {-1, 0, 0};
    f.groups = {{"wet", "dry"}, {0, 1, 0, 1}};
    const auto texts = [](const Scene& s) {
        std::set<QString> out;
        for (const SceneText& t : s.texts) out.insert(t.text);
        return out;
    };
    const Scene s = phylomorphospace_scene(f, QStringLiteral("Phylomorphospace"), kSize, QStringLiteral("habitat"));
    std::map<QRgb, std::vector<QPointF>> tips;
    for (const SceneDots& d : s.dots)
        if (d.color == group_color(0) || d.color == group_color(1)) tips[d.color.rgb()] = d.points;
    ASSERT_EQ(tips.size(), 2u);
    EXPECT_EQ(tips[group_color(0).rgb()], (std::vector<QPointF>{s.frame.map(-1, 0), s.frame.map(1, 0)}));
    EXPECT_EQ(tips[group_color(1).rgb()], (std::vector<QPointF>{s.frame.map(-1, 1), s.frame.map(1, 1)}));
    for (const char* t : {"habitat", "wet", "dry", "A", "B", "C", "D", "Ancestors"}) EXPECT_TRUE(texts(s).count(t)) << t;
    EXPECT_FALSE(texts(s).count("Tips"));
    f.factor = "clade";
    EXPECT_TRUE(texts(phylomorphospace_scene(f, QStringLiteral("P"), kSize, QStringLiteral("habitat"))).count("clade"));
    f.groups = {};
    const Scene plain = phylomorphospace_scene(f, QStringLiteral("Phylomorphospace"), kSize);
    EXPECT_TRUE(texts(plain).count("Tips"));
    EXPECT_FALSE(texts(plain).count("wet"));
}

// The directional asymmetry drawn is the one the report measures, and the
// fluctuating axis is a unit direction scaled to a real individual's score.
TEST(SymmetryPictures, DrawTheReportsAsymmetry) {
    Loaded h({.landmarks = "mosquito.lm.txt", .groups = "mosquito.groups.txt", .perms = "9"});
    const SymmetryFigure f = *figures_of(h, "RunSymmetry").symmetry;
    const std::string report = report_of(h);
    const auto at = report.find("Procrustes length ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_NEAR((f.directional.to - f.directional.from).norm(), std::stod(report.substr(at + 18)), 1e-6);
    EXPECT_EQ(f.sides, "side 1 minus side 2");
    EXPECT_GT((f.fluctuating.to - f.fluctuating.from).norm(), 0);
    EXPECT_GT(f.fluctuating_percent, 0);
    EXPECT_LE(f.fluctuating_percent, 100);
    EXPECT_TRUE(f.directional.from.isApprox(f.fluctuating.from));
}

// Each action's pictures are files of --plots, titled by the factor.
TEST(BatchPlots, WriteThePicturesOfEachShapeAnalysis) {
    const std::string data = QUILLAN_DATA_DIR;
    const TempDir temp;
    const auto dir = temp.path() / "analysis_plots";
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> pictures;
        std::string title;
        bool same_p = false;  // the first picture is a histogram with the report's p
    };
    const std::vector<Case> cases = {
        {{"outliers", "-i", data + "/plethodon.csv", "--within-groups"},
         {"outliers-distances", "outliers-farthest"},
         "Outliers: Procrustes distance from the mean of each group of species"},
        {{"disparity", "-i", data + "/plethodon.csv", "--factor", "site", "-p", "99"},
         {"disparity"},
         "Disparity: Procrustes variance of each group of site"},
        {{"cva", "-l", data + "/larvalHead.lm.txt", "-g", data + "/larvalMorph.family.groups.txt", "-p", "9"},
         {"cva-scores", "cva-shape-change"},
         "Canonical variates: CV1 against CV2 of G1"},
        {{"integration", "-i", data + "/plethodon.csv", "--partition", data + "/plethodon.partition.txt", "-p", "99"},
         {"pls-scores-A-B"},
         "Integration: first PLS axis of modules A and B, coloured by species"},
        {{"pls", "-l", data + "/pupfish.lm.txt", "--block2", data + "/pupfish.cov.txt", "-p", "99"},
         {"permutations-1", "pls-scores"},
         "PLS: r-PLS of shape and the table",
         true},
        {{"modularity", "-l", data + "/plethodon.lm.txt", "--partition", data + "/plethodon.partition.txt", "-p", "99"},
         {"permutations-1"},
         "Modularity: covariance ratio of random partitions",
         true},
        {{"phylo-pca", "-i", data + "/plethspecies/plethspecies.tps", "--tree", data + "/plethspecies/plethspecies.tre"},
         {"phylomorphospace"},
         "Phylomorphospace: the tips and their ancestors in the first two components (PC)"},
        {{"phylo-integration", "-i", data + "/plethspecies/plethspecies.tps", "--tree", data + "/plethspecies/plethspecies.tre",
          "--partition", data + "/plethspecies/plethspecies.partition.txt", "-p", "99"},
         {"permutations-1", "pls-scores-A-B"},
         "Phylogenetic integration: r-PLS of modules A and B",
         true},
        {{"phylo-modularity", "-i", data + "/plethspecies/plethspecies.tps", "--tree", data + "/plethspecies/plethspecies.tre",
          "--partition", data + "/plethspecies/plethspecies.partition.txt", "-p", "99"},
         {"permutations-1"},
         "Phylogenetic modularity: covariance ratio of random partitions",
         true},
        {{"symmetry", "-l", data + "/mosquito.lm.txt", "-g", data + "/mosquito.groups.txt", "-p", "9"},
         {"symmetry-directional", "symmetry-fluctuating"},
         "Symmetry: directional asymmetry, side 1 minus side 2 (not magnified)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front());
        std::filesystem::remove_all(dir);
        std::vector<std::string> args = c.args;
        for (const char* a : {"-s", "1", "--plots"}) args.emplace_back(a);
        args.push_back(dir.string());
        const auto r = run_batch(args);
        ASSERT_EQ(r.status, 0) << r.err;
        for (const auto& name : c.pictures)
            for (const char* ext : {".svg", ".png"}) EXPECT_TRUE(std::filesystem::exists(dir / (name + ext))) << name << ext;
        const std::string svg = read_bytes((dir / (c.pictures.front() + ".svg")).string());
        EXPECT_THAT(svg, HasSubstr(c.title));
        if (c.same_p) {
            const auto at = r.out.find(", p = ");
            ASSERT_NE(at, std::string::npos);
            EXPECT_THAT(svg, HasSubstr(">" + r.out.substr(at + 2, 10) + "<"));
        }
    }
}

// Every picture at a screen's size and at print sizes: its texts inside it,
// apart from each other and off the numbered landmarks, read from the
// drawn items rather than from pixels; and a file of exactly the size asked.

struct Size {
    int width, height, dpi;
};
const Size kSizes[] = {{800, 600, 96}, {1500, 1200, 300}, {3000, 2000, 600}};

QSizeF layout_of(const Size& z) { return {z.width * 96.0 / z.dpi, z.height * 96.0 / z.dpi}; }

void fill_two_way(DistributionLog& log) {
    log.start("RunTwoWayF");
    auto loop = log.begin(0, 999, {9.75, 0.4, 123456.5}, 1);
    for (long long i = 0; i < 999; ++i) {
        const double v = static_cast<double>((i * 37) % 101) / 20;
        const double stats[] = {v, v * 2, v * 3};
        loop->record(0, i, stats);
    }
    loop->finish({0, 400, 0}, {1, 401, 1});
}

const DistributionLog& two_way_log() {
    static DistributionLog log;
    static const bool filled = (fill_two_way(log), true);
    (void)filled;
    return log;
}

// Every picture the program draws, at one size.
std::vector<NamedScene> every_picture(QSizeF size) {
    static const Matrix plethodon = load_data("plethodon.lm.txt");
    static const Matrix species = load_data("plethodon.species.groups.txt");
    static const Matrix macaques = load_data("macaques.lm.txt");
    static const Matrix sexes = load_data("macaques.groups.txt");
    PictureChoices c;
    c.size = size;
    c.marks.estimated = {{0, 1}, {5, 3}, {17, 11}};
    c.links = {{0, 1}, {1, 2}, {2, 3}, {3, 4}};
    const PictureData flat(plethodon, species, GroupBy::First, {{"Jord", "Teyah"}});
    std::vector<NamedScene> out = shape_pictures(flat, c);
    for (auto& s : group_change_pictures(flat, c)) out.push_back(std::move(s));
    c.target = {ShapeTarget::Kind::ComponentLow, 1};
    c.magnification = 3;
    for (auto& s : shape_pictures(flat, c)) out.push_back({s.name + "-magnified", std::move(s.scene)});
    for (auto& s : distribution_pictures(two_way_log(), size)) out.push_back(std::move(s));
    RegressionScores r{"log centroid size", {1, 2, 3, 4, 5},   {-0.5, 0.25, 0, 1, 0.3},
                       "species",           {"Jord", "Teyah"}, {0, 1, 1, 0, 1}};
    out.push_back({"regression", regression_scene(r, size)});
    // Many groups: the legend takes its columns and marks.
    Grouping many;
    for (int k = 0; k < 20; ++k) many.names.push_back("Population " + std::to_string(k + 1));
    for (int i = 0; i < 40; ++i) many.group_of.push_back(i % 20);
    out.push_back({"pc-many-groups", components_scene(flat.components(), many, 0, 1, Outline::Ellipse, size)});
    c.links = {{0, 1}, {1, 2}};
    const PictureData space(macaques, sexes, GroupBy::First, {}, 3);
    for (auto& s : shape_pictures(space, c)) out.push_back({s.name + "-3d", std::move(s.scene)});
    // 24 landmarks in space, crowded in every view, the factor named.
    static const Matrix brains = load_data("brains.lm.txt");
    static const Matrix brain_groups = load_data("brains.groups.txt");
    const PictureData crowded(brains, brain_groups, GroupBy::Cells, {}, 3, {"sex", "handedness"});
    for (auto& s : shape_pictures(crowded, c)) out.push_back({s.name + "-brains", std::move(s.scene)});
    for (auto& s : group_change_pictures(crowded, c)) out.push_back({s.name + "-brains", std::move(s.scene)});
    const Eigen::Matrix3d turn = Eigen::AngleAxisd(0.6, Eigen::Vector3d::UnitY()).toRotationMatrix();
    out.push_back({"turned", turned_scene(space.superimposition(), space.grouping(), c.links, turn, size)});
    // The shape analyses' pictures, their factor named, some magnified.
    int run = 0;
    for (const ToolkitFigures& f : every_analysis_figure()) {
        ++run;
        for (const AnalysisPicture& p : analysis_pictures(f, {"species"}))
            out.push_back({p.name + "-" + std::to_string(run), p.draw(size, 3, {{0, 1}, {1, 2}})});
    }
    return out;
}

bool overlap(const QRectF& a, const QRectF& b) {
    return a.adjusted(0.5, 0.5, -0.5, -0.5).intersects(b.adjusted(0.5, 0.5, -0.5, -0.5));
}

TEST(PictureLayout, EveryTextFitsAndNoneCoversAnotherOrANumberedMark) {
    for (const Size& z : kSizes) {
        const QSizeF size = layout_of(z);
        const QRectF picture(QPointF(0, 0), size);
        for (const NamedScene& n : every_picture(size)) {
            const std::string where =
                n.name + " at " + std::to_string(z.width) + "x" + std::to_string(z.height) + "/" + std::to_string(z.dpi);
            const Scene& s = n.scene;
            std::vector<QRectF> boxes;
            for (const SceneText& t : s.texts) boxes.push_back(text_box(t));
            for (std::size_t a = 0; a < boxes.size(); ++a) {
                const std::string text = s.texts[a].text.toStdString();
                EXPECT_TRUE(picture.adjusted(-0.5, -0.5, 0.5, 0.5).contains(boxes[a]))
                    << where << ": \"" << text << "\" leaves it";
                for (std::size_t b = a + 1; b < boxes.size(); ++b)
                    EXPECT_FALSE(overlap(boxes[a], boxes[b]))
                        << where << ": \"" << text << "\" over \"" << s.texts[b].text.toStdString() << "\"";
                for (const SceneDots& d : s.dots)
                    for (std::size_t k = 0; d.keep_clear && k < d.points.size(); ++k)
                        EXPECT_FALSE(boxes[a].adjusted(0.5, 0.5, -0.5, -0.5).contains(d.points[k]))
                            << where << ": \"" << text << "\" covers a numbered mark";
            }
        }
    }
}

// Each landmark's number is beside its own mark, not across the picture at
// the end of a long line nor nearer another mark.
TEST(PictureLayout, LandmarkNumbersSitBesideTheirMarks) {
    for (const Size& z : kSizes)
        for (const NamedScene& n : every_picture(layout_of(z))) {
            if (n.name != "superimposition" && n.name != "shape-change") continue;
            const Scene& s = n.scene;
            const SceneDots& numbered = s.dots.back();
            ASSERT_TRUE(numbered.keep_clear) << n.name;
            int label = 0;
            for (const SceneText& t : s.texts) {
                if (t.role != SceneText::Role::Label) continue;
                const QRectF box = text_box(t);
                const QPointF own = numbered.points[static_cast<std::size_t>(t.text.toInt() - 1)];
                const auto reach = [&](QPointF p) {
                    return std::hypot(std::max({box.left() - p.x(), 0.0, p.x() - box.right()}),
                                      std::max({box.top() - p.y(), 0.0, p.y() - box.bottom()}));
                };
                EXPECT_LT(reach(own), 3 * box.height()) << n.name << " at " << z.dpi << " dpi: landmark " << t.text.toStdString();
                ++label;
            }
            EXPECT_EQ(label, 12) << n.name;
        }
}

// Where the marks crowd too closely for all their numbers, those without a
// free place are left out and listed in a note, never drawn over another.
TEST(PictureLayout, NumbersWithNoRoomAreListedNotOverlapped) {
    const PictureData crowded(make_shapes(12, 42, 2, 0.02), Matrix(), GroupBy::None);
    const Scene s = superimposition_picture(crowded, {}, QSizeF(260, 208));
    std::set<int> seen;
    std::vector<QRectF> boxes;
    QString note;
    for (const SceneText& t : s.texts) {
        if (t.role == SceneText::Role::Label) seen.insert(t.text.toInt());
        if (t.role == SceneText::Role::Note) note += (note.isEmpty() ? QString() : QStringLiteral(" ")) + t.text;
        for (const QRectF& b : boxes) EXPECT_FALSE(overlap(b, text_box(t))) << t.text.toStdString();
        boxes.push_back(text_box(t));
    }
    ASSERT_THAT(note.toStdString(), HasSubstr("Numbers left out for want of room: "));
    const std::size_t labelled = seen.size();
    for (const QString& n : note.section(QStringLiteral(": "), 1).split(QStringLiteral(", "))) {
        const QStringList range = n.split(QChar(0x2013));  // a range: its ends and all between
        for (int k = range.front().toInt(); k <= range.back().toInt(); ++k) seen.insert(k);
    }
    EXPECT_EQ(seen.size(), 42u) << labelled << " labelled; " << note.toStdString();
}

TEST(PictureLayout, AFileHasExactlyThePixelsAskedFor) {
    for (const Size& z : kSizes) {
        for (const QSize asked : {QSize(z.width, z.height), QSize(z.width + 1, z.height - 7)}) {
            const QSizeF size(asked.width() * 96.0 / z.dpi, asked.height() * 96.0 / z.dpi);
            const Scene s = histogram_scene(two_way_log().distributions().front(), QStringLiteral("F"), size);
            QImage png;
            ASSERT_TRUE(png.loadFromData(encode_picture(s, PictureFormat::Png, z.dpi, asked), "PNG"));
            EXPECT_EQ(png.size(), asked) << z.dpi;
        }
    }
}

}  // namespace
}  // namespace quillan::test

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
