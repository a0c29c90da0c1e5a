// The pictures of the shape analyses say what their reports say: the
// flagged specimens, the pairs that differ; and --plots writes each
// action's pictures.
#include "render/analysis_figures.hpp"
#include "render/pictures.hpp"
#include "render/toolkit_plots.hpp"
#include "support/batch_runner.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace quillan {
namespace {

using ::testing::HasSubstr;
const QSizeF kSize(800, 600);

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
    test::TempDir dir;
    test::Harness h;
    ASSERT_EQ(h.load("Import", test::misplaced_plethodon(dir, {"P05", "P23", "P31"}, 3)), Outcome::Done);
    for (const bool within : {false, true}) {
        SCOPED_TRACE(within);
        h.shell.model_request().shape.within_groups = within;
        const ToolkitFigures figures = test::figures_of(h, "RunOutliers");
        const std::set<std::string> flagged = flagged_in(test::report_of(h));
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
}

// The directional asymmetry drawn is the one the report measures, and the
// fluctuating axis is a unit direction scaled to a real individual's score.
TEST(SymmetryPictures, DrawTheReportsAsymmetry) {
    test::Loaded h({.landmarks = "mosquito.lm.txt", .groups = "mosquito.groups.txt", .perms = "9"});
    const SymmetryFigure f = *test::figures_of(h, "RunSymmetry").symmetry;
    const std::string report = test::report_of(h);
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
    const auto dir = std::filesystem::temp_directory_path() / "quillan_analysis_plots";
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
        const auto r = test::run_batch(args);
        ASSERT_EQ(r.status, 0) << r.err;
        for (const auto& name : c.pictures)
            for (const char* ext : {".svg", ".png"}) EXPECT_TRUE(std::filesystem::exists(dir / (name + ext))) << name << ext;
        std::ifstream in(dir / (c.pictures.front() + ".svg"));
        const std::string svg(std::istreambuf_iterator<char>(in), {});
        EXPECT_THAT(svg, HasSubstr(c.title));
        if (c.same_p) {
            const auto at = r.out.find(", p = ");
            ASSERT_NE(at, std::string::npos);
            EXPECT_THAT(svg, HasSubstr(">" + r.out.substr(at + 2, 10) + "<"));
        }
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quillan
