// Every picture at a screen's size and at print sizes: its texts inside it,
// apart from each other and off the numbered landmarks, read from the
// drawn items rather than from pixels; and a file of exactly the size asked.
#include "render/analysis_figures.hpp"
#include "render/export.hpp"
#include "render/pictures.hpp"
#include "render/space_plots.hpp"
#include "support/shapes.hpp"

#include <QImage>

#include <gtest/gtest.h>

#include <Eigen/Geometry>

namespace quillan {
namespace {

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
    static const Matrix plethodon = test::load_data("plethodon.lm.txt");
    static const Matrix species = test::load_data("plethodon.species.groups.txt");
    static const Matrix macaques = test::load_data("macaques.lm.txt");
    static const Matrix sexes = test::load_data("macaques.groups.txt");
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
    const Eigen::Matrix3d turn = Eigen::AngleAxisd(0.6, Eigen::Vector3d::UnitY()).toRotationMatrix();
    out.push_back({"turned", turned_scene(space.superimposition(), space.grouping(), c.links, turn, size)});
    // The shape analyses' pictures, their factor named, some magnified.
    int run = 0;
    for (const ToolkitFigures& f : test::every_analysis_figure()) {
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
}  // namespace quillan
