// The pictures of landmarks in space: three views side by side, each the
// aligned coordinates seen along one axis at one scale for all three.
#include "render/pictures.hpp"
#include "render/space_plots.hpp"
#include "support/batch_runner.hpp"
#include "support/shapes.hpp"

#include <QImage>
#include <QPainter>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include <filesystem>
#include <numbers>

namespace quillan {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const QSizeF kWide(1200, 600);

Matrix macaques() { return test::load_data("macaques.lm.txt"); }
Matrix macaque_sexes() { return test::load_data("macaques.groups.txt"); }

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
    // Per view: a batch of marks per sex, then the numbered consensus.
    ASSERT_EQ(s.dots.size(), 9u);
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
    for (const char* name : {"Front", "Side", "Top", "z (aligned)", "Superimposed specimens in 3-D (18 specimens, 7 landmarks)"})
        EXPECT_TRUE(std::any_of(s.texts.begin(), s.texts.end(), [&](const SceneText& t) { return t.text == name; })) << name;
    // Every specimen's every landmark in every view, named when pointed at.
    std::size_t marks = 0;
    for (std::size_t v = 0; v < 3; ++v) marks += s.dots[3 * v].points.size() + s.dots[3 * v + 1].points.size();
    EXPECT_EQ(marks, 3u * 18 * 7);
    EXPECT_EQ(s.specimen_at(s.dots[4].points[0]), s.dots[4].specimens[0]);
    // The wireframe in each view, and one legend for them all.
    int wires = 0;
    for (const auto& p : s.paths) wires += p.width == 1.2 * kPoint ? 1 : 0;
    EXPECT_EQ(wires, 3 * 3);
    EXPECT_EQ(s.legend.size(), 2u);
    // Each view's consensus is painted: its rings are dark at their edge.
    QImage image(s.size.toSize(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    paint_scene(painter, s, QRectF(QPointF(0, 0), s.size));
    painter.end();
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
        ASSERT_EQ(s.dots.size(), 6u);  // per view the consensus, then the target
        expect_one_scale({&s.dots[0], &s.dots[2], &s.dots[4]}, data.superimposition().consensus_row);
        expect_one_scale({&s.dots[1], &s.dots[3], &s.dots[5]}, row);
        int vectors = 0;
        for (const auto& p : s.paths) vectors += p.color == QColor(200, 60, 40) ? 1 : 0;
        EXPECT_EQ(vectors, 3 * 7);
        EXPECT_EQ(s.legend.size(), 3u);
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
        if (p.width == 1.2 * kPoint) EXPECT_TRUE(p.clipped);  // the wireframe is cut at the frame
    // Painted, nothing of the data lies outside the frame: beside it, the
    // picture is white but for the title and the triad's letters above and below.
    QImage image(close.size.toSize(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    paint_scene(painter, close, QRectF(QPointF(0, 0), close.size));
    painter.end();
    for (int y = static_cast<int>(area.top()) + 2; y < static_cast<int>(area.bottom()) - 2; y += 3)
        for (const int x : {static_cast<int>(area.left()) - 4, static_cast<int>(area.right()) + 4})
            EXPECT_EQ(image.pixelColor(x, y), QColor(Qt::white)) << x << ", " << y;
}

TEST(BatchPlots, LandmarksInSpaceHaveEveryShapePicture) {
    const auto dir = std::filesystem::temp_directory_path() / "quillan_batch_space_plots";
    std::filesystem::remove_all(dir);
    const std::string data = QUILLAN_DATA_DIR;
    const auto r = test::run_batch({"one-way-f", "-l", data + "/macaques.lm.txt", "-g", data + "/macaques.groups.txt",
                                    "--dimensions", "3", "-p", "9", "-s", "1", "--plots", dir.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, Not(HasSubstr("3-D")));
    for (const char* name :
         {"superimposition", "pc1-pc2", "scree", "shape-change", "shape-change-group-1", "shape-change-group-2"})
        for (const char* ext : {".svg", ".png"})
            EXPECT_TRUE(std::filesystem::exists(dir / (std::string(name) + ext))) << name << ext;
    // Drawn to the data's aspect: three views side by side are wider than high.
    const QImage png((dir / "superimposition.png").string().c_str());
    EXPECT_GT(png.width(), png.height());
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quillan
