#include "render/export.hpp"
#include "render/pictures.hpp"
#include "render/plots.hpp"
#include "support/batch_runner.hpp"
#include "support/shapes.hpp"

#include "platform/error.hpp"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

namespace quillan {
namespace {

using ::testing::HasSubstr;

const QSizeF kSize(800, 600);

QImage painted(const Scene& s) {
    QImage image(s.size.toSize(), QImage::Format_ARGB32);
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
    const Superimposition sup = superimpose(test::make_shapes(6, 6, 2, 0.05));
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
    const Superimposition sup = superimpose(test::make_shapes(12, 5, 4, 0.06));
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
    // Pointing at a specimen's mark names that specimen.
    EXPECT_EQ(s.specimen_at(third.points[0] + QPointF(1, 1)), third.specimens[0]);
    EXPECT_EQ(s.specimen_at(QPointF(2, 2)), -1);
}

TEST(Superimposition, ManyMarksArePaintedWhereTheSceneSaysOnAnyDevice) {
    // Enough points for the direct-to-pixels path; the painter path (an
    // image format it does not handle) must agree on where the marks are.
    const Superimposition sup = superimpose(test::make_shapes(400, 8, 6, 0.02));
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
    const PictureData data(test::make_shapes(20, 6, 8, 0.1), matrix_from_rows(std::vector<std::vector<double>>(20, {1})),
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
    const PictureData data(test::make_shapes(15, 5, 2, 0.08), Matrix(), GroupBy::None);
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

    const PictureData data(test::make_shapes(15, 5, 2, 0.08), Matrix(), GroupBy::None);
    EXPECT_THAT(data.target({ShapeTarget::Kind::ComponentHigh, 0}, 1.0).second.toStdString(), HasSubstr("(not magnified)"));

    // Twelve groups: every neighbour in the palette has another mark as well.
    const PictureData many(test::make_shapes(24, 5, 3, 0.08), Matrix(), GroupBy::None);
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

TEST(Export, WritesEachFormatWholeOrLeavesTheOldFile) {
    const auto dir = std::filesystem::temp_directory_path() / "quillan_render_export";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    StatisticDistribution d;
    d.observed = 1;
    d.permutations = 3;
    d.values = {0, 1, 2};
    const Scene s = histogram_scene(d, QStringLiteral("t"), QSizeF(300, 200));
    EXPECT_TRUE(encode_picture(s, PictureFormat::Png).startsWith("\x89PNG"));
    const QByteArray svg = encode_picture(s, PictureFormat::Svg);
    const QSvgRenderer vector(svg);
    EXPECT_TRUE(vector.isValid());
    EXPECT_EQ(vector.viewBox(), QRect(0, 0, 300, 200));
    EXPECT_TRUE(svg.contains(">Observed 1</text>"));  // text stays text, not outlines
    EXPECT_TRUE(encode_picture(s, PictureFormat::Pdf).startsWith("%PDF"));
    const std::string png = (dir / "h.PNG").string();
    save_picture(s, png);
    EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(300, 200));
    EXPECT_THAT([&] { save_picture(s, (dir / "h.gif").string()); },
                ::testing::ThrowsMessage<QuillanError>(HasSubstr(".png, .svg or .pdf")));
    // A folder where the file should go: nothing written, the message names it.
    std::filesystem::create_directories(dir / "taken.svg");
    EXPECT_THAT([&] { save_picture(s, (dir / "taken.svg").string()); },
                ::testing::ThrowsMessage<QuillanError>(HasSubstr("Cannot write the file " + (dir / "taken.svg").string())));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "taken.svg"));
    std::filesystem::remove_all(dir);
}

// A picture for print: more pixels at a higher resolution, laid out so the
// text is as large on paper; SVG and PDF stay lines and text of that size.
TEST(Export, MakesPicturesOfAnySizeAndResolution) {
    const PictureSize size{1500, 1200, 300};
    EXPECT_NEAR(size.layout_width(), 480, 1e-9);
    StatisticDistribution d;
    d.observed = 1;
    d.permutations = 3;
    d.values = {0, 1, 2};
    const Scene s = histogram_scene(d, QStringLiteral("t"), QSizeF(size.layout_width(), size.layout_height()));
    QImage png;
    ASSERT_TRUE(png.loadFromData(encode_picture(s, PictureFormat::Png, size.dpi), "PNG"));
    EXPECT_EQ(png.size(), QSize(1500, 1200));
    EXPECT_NEAR(png.dotsPerMeterX() * 0.0254, 300, 0.5);
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
    const auto dir = std::filesystem::temp_directory_path() / "quillan_batch_plots";
    std::filesystem::remove_all(dir);
    const std::string data = QUILLAN_DATA_DIR;
    const auto plain = quillan::test::run_batch(
        {"one-way-f", "-l", data + "/plethodon.lm.txt", "-g", data + "/plethodon.species.groups.txt", "-p", "99", "-s", "1"});
    const auto r =
        quillan::test::run_batch({"one-way-f", "-l", data + "/plethodon.lm.txt", "-g", data + "/plethodon.species.groups.txt",
                                  "-p", "99", "-s", "1", "--plots", dir.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, plain.out);  // the report does not change
    for (const char* name : {"superimposition", "pc1-pc2", "scree", "shape-change", "shape-change-group-2", "permutations-1"})
        for (const char* ext : {".svg", ".png"})
            EXPECT_TRUE(std::filesystem::file_size(dir / (std::string(name) + ext)) > 100) << name << ext;
    EXPECT_FALSE(std::filesystem::exists(dir / "permutations-2.svg"));
    { std::ofstream(dir / "links.txt") << "1 2\n2 99\n"; }
    // A bad links file fails the run, but only after the report is out.
    const auto bad =
        quillan::test::run_batch({"one-way-f", "-l", data + "/plethodon.lm.txt", "-g", data + "/plethodon.species.groups.txt",
                                  "-p", "99", "-s", "1", "--plots", dir.string(), "--links", (dir / "links.txt").string()});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, plain.out);
    EXPECT_THAT(bad.err, HasSubstr("links.txt, line 2: landmark 99 does not exist; the shapes have 12 landmarks"));
    // Two landmarks: no spline can be drawn, but the other pictures are.
    { std::ofstream(dir / "two.txt") << "0 0 1 0 1\n0 0 1 0.1 2\n0 0.1 1 0 3\n"; }
    const auto two = quillan::test::run_batch({"load", "-l", (dir / "two.txt").string(), "--plots", (dir / "two").string()});
    EXPECT_EQ(two.status, 0) << two.err;
    EXPECT_THAT(two.err, HasSubstr("No shape-change picture: The spline needs at least three landmarks."));
    EXPECT_TRUE(std::filesystem::exists(dir / "two" / "superimposition.svg"));
    // A file where the folder should be.
    const auto no_folder =
        quillan::test::run_batch({"load", "-l", (dir / "two.txt").string(), "--plots", (dir / "links.txt").string()});
    EXPECT_EQ(no_folder.status, 1);
    EXPECT_THAT(no_folder.err, HasSubstr("Cannot write the pictures into " + (dir / "links.txt").string()));
    // The folder of the pictures onto an input is refused before anything is read.
    const auto onto_input =
        quillan::test::run_batch({"load", "-l", (dir / "two.txt").string(), "--plots", (dir / "two.txt").string()});
    EXPECT_EQ(onto_input.status, 64);
    EXPECT_THAT(onto_input.err, HasSubstr("would overwrite the input -l"));
    std::filesystem::remove_all(dir);
}

// The pictures are files of the run like its exports: when one cannot be
// saved the run fails and none of them, nor the exports, is left behind.
TEST(BatchPlots, APictureThatCannotBeSavedLeavesNoneOfTheRunsFiles) {
    const auto dir = std::filesystem::temp_directory_path() / "quillan_batch_plots_blocked";
    std::filesystem::remove_all(dir);
    // A folder where the third picture's file belongs: the first two are drawn first.
    std::filesystem::create_directories(dir / "pictures" / "pc1-pc2.svg");
    const std::string data = QUILLAN_DATA_DIR;
    const auto r =
        quillan::test::run_batch({"one-way", "-l", data + "/plethodon.lm.txt", "-g", data + "/plethodon.species.groups.txt", "-p",
                                  "9", "-s", "1", "--json", (dir / "r.json").string(), "--plots", (dir / "pictures").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("pc1-pc2.svg"));
    EXPECT_FALSE(std::filesystem::exists(dir / "r.json"));
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir / "pictures")) left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"pc1-pc2.svg"});
    std::filesystem::remove_all(dir);
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
    const auto dir = std::filesystem::temp_directory_path() / "quillan_batch_model_plots";
    std::filesystem::remove_all(dir);
    const std::string data = QUILLAN_DATA_DIR;
    const std::vector<std::string> model = {
        "model", "-l", data + "/plethodon.lm.txt", "-g", data + "/plethodon.species.groups.txt", "-p", "9", "-s", "1", "--plots"};
    auto with = model;
    with.insert(with.end(), {(dir / "cov").string(), "-c", data + "/plethodon.cov.txt", "--formula", "cov * G1"});
    const auto r1 = quillan::test::run_batch(with);
    ASSERT_EQ(r1.status, 0) << r1.err;
    std::ifstream in(dir / "cov" / "regression-score.svg");
    EXPECT_THAT(std::string(std::istreambuf_iterator<char>(in), {}), HasSubstr("Regression score of shape on cov"));
    EXPECT_TRUE(std::filesystem::exists(dir / "cov" / "permutations-3.png"));
    auto without = model;
    without.push_back((dir / "groups").string());
    const auto r2 = quillan::test::run_batch(without);
    ASSERT_EQ(r2.status, 0) << r2.err;
    EXPECT_TRUE(std::filesystem::exists(dir / "groups" / "permutations-1.svg"));
    EXPECT_FALSE(std::filesystem::exists(dir / "groups" / "regression-score.svg"));
    std::filesystem::remove_all(dir);
}

// An imported file names its groups: the pictures say the names, and the
// shape change toward each group is a file named after it.
TEST(BatchPlots, NameTheGroupsOfAnImportInLegendsTitlesAndFileNames) {
    const auto dir = std::filesystem::temp_directory_path() / "quillan_batch_named_plots";
    std::filesystem::remove_all(dir);
    const std::string data = QUILLAN_DATA_DIR;
    const auto r = quillan::test::run_batch({"one-way", "-i", data + "/plethodon.csv", "--factor", "species", "-p", "9", "-s",
                                             "1", "--plots", dir.string(), "--plot-size", "1600x1200", "--plot-dpi", "300"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* name : {"shape-change-group-Jord", "shape-change-group-Teyah"})
        EXPECT_TRUE(std::filesystem::exists(dir / (std::string(name) + ".svg"))) << name;
    EXPECT_FALSE(std::filesystem::exists(dir / "shape-change-group-1.svg"));
    auto text = [&](const char* file) {
        std::ifstream in(dir / file);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_THAT(text("superimposition.svg"), HasSubstr(">Teyah<"));
    EXPECT_THAT(text("shape-change-group-Teyah.svg"), HasSubstr("mean of Teyah"));
    EXPECT_THAT(text("permutations-1.svg"), HasSubstr("One-way test: explained SS of species"));
    EXPECT_THAT(text("permutations-1.svg"), HasSubstr("Explained SS over 9 permutations"));
    // At exactly the size and resolution asked for.
    const QImage png(QString::fromStdString((dir / "superimposition.png").string()));
    EXPECT_EQ(png.size(), QSize(1600, 1200));
    EXPECT_NEAR(png.dotsPerMeterX() * 0.0254, 300, 0.5);
    for (const char* size : {"20x30", "1600", "axb"})
        EXPECT_EQ(
            quillan::test::run_batch({"load", "-l", data + "/plethodon.lm.txt", "--plots", dir.string(), "--plot-size", size})
                .status,
            64)
            << size;
    // Allowed, but too small for the text at so many dots to the inch: said.
    const auto crowded =
        quillan::test::run_batch({"load", "-l", data + "/plethodon.lm.txt", "--plots", dir.string(), "--plot-dpi", "2400"});
    EXPECT_EQ(crowded.status, 0) << crowded.err;
    EXPECT_THAT(crowded.err, HasSubstr("at 2400 dpi, pictures of 1000x800 pixels are too small for their text, which will be "
                                       "cut off or run together: give --plot-size 10000x8000 or more"));
    std::filesystem::remove_all(dir);
}

TEST(GroupPictures, AreNamedSafelyAndApartWhenTheNamesCollide) {
    EXPECT_EQ(file_name_safe("Middle_Devonian"), "Middle_Devonian");
    EXPECT_EQ(file_name_safe("a/b c:d"), "a_b_c_d");
    EXPECT_EQ(file_name_safe("..hidden"), "_..hidden");
    EXPECT_EQ(file_name_safe("\xc3\xa9t\xc3\xa9"), "_t_");
    EXPECT_EQ(file_name_safe(""), "_");
    // Two names that read the same once made safe, and groups with codes only.
    const Matrix landmarks = test::make_shapes(8, 4, 2, 0.05);
    const Matrix groups = matrix_from_rows({{1}, {2}, {1}, {2}, {5}, {5}, {1}, {2}});
    const PictureData named(landmarks, groups, GroupBy::First, {{"a/b", "a b"}});
    std::vector<std::string> names;
    for (const auto& s : group_change_pictures(named, PictureChoices{})) names.push_back(s.name);
    EXPECT_THAT(names, ::testing::ElementsAre("shape-change-group-a_b", "shape-change-group-a_b-2", "shape-change-group-5"));
    names.clear();
    for (const auto& s : group_change_pictures(PictureData(landmarks, groups, GroupBy::First), PictureChoices{}))
        names.push_back(s.name);
    EXPECT_THAT(names, ::testing::ElementsAre("shape-change-group-1", "shape-change-group-2", "shape-change-group-5"));
}

// Without its picture module quillan-batch refuses --plots, as it refuses a
// wrong command line, before reading or writing anything; other runs do not
// need the module.
TEST(BatchPlots, AMissingPictureModuleRefusesPlotsOnly) {
    const auto dir = std::filesystem::temp_directory_path() / "quillan_batch_no_module";
    std::filesystem::remove_all(dir);
    const std::string data = QUILLAN_DATA_DIR;
    const std::vector<std::string> run = {
        "one-way", "-l", data + "/plethodon.lm.txt", "-g", data + "/plethodon.species.groups.txt", "-p", "9", "-s", "1"};
    const auto plain = quillan::test::run_batch(run);
    ::setenv("QUILLAN_PICTURE_MODULE_DIR", (dir / "nowhere").c_str(), 1);
    std::vector<std::string> with_plots = run;
    for (const char* a : {"--plots", "pictures", "--log", "log.txt"}) with_plots.emplace_back(a);
    with_plots[with_plots.size() - 3] = (dir / "pictures").string();
    with_plots.back() = (dir / "log.txt").string();
    const auto refused = quillan::test::run_batch(with_plots);
    const auto without = quillan::test::run_batch(run);
    ::unsetenv("QUILLAN_PICTURE_MODULE_DIR");
    EXPECT_EQ(refused.status, 64);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "quillan-batch: the picture module quillan-pictures.so was not found (looked in " +
                               (dir / "nowhere").string() + "); --plots is not available\n");
    EXPECT_FALSE(std::filesystem::exists(dir));
    EXPECT_EQ(without.status, 0) << without.err;
    EXPECT_EQ(without.out, plain.out);
}

}  // namespace
}  // namespace quillan

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
