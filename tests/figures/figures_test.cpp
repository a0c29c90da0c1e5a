#include "analyses/permutation_engine.hpp"
#include "analyses/statistic_names.hpp"
#include "figures/distributions.hpp"
#include "figures/links.hpp"
#include "figures/outlines.hpp"
#include "figures/pca.hpp"
#include "figures/shapes.hpp"
#include "figures/spline.hpp"
#include "geometry/geometry.hpp"
#include "platform/error.hpp"
#include "support/fixtures.hpp"
#include "support/shapes.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

namespace quillan {
namespace {

using testing::HasSubstr;

TEST(Superimposition, IsTheConsensusFitAndItsTangentCoordinatesLieInTheTangentPlane) {
    const Matrix x = test::make_shapes(30, 7, 11, 0.08);
    const Superimposition s = superimpose(x);
    const Consensus c = full_procrustes_consensus(x);
    ASSERT_EQ(s.landmarks, 7);
    ASSERT_EQ(s.specimens(), 30);
    // Exactly the aligned rows of the consensus procedure, without the trailing value.
    EXPECT_TRUE(s.aligned == c.xpt.leftCols(14));
    for (int j = 0; j < 7; ++j) {
        EXPECT_EQ(s.consensus[static_cast<std::size_t>(j)].x, c.y(0, 2 * j));
        EXPECT_EQ(s.consensus[static_cast<std::size_t>(j)].y, c.y(0, 2 * j + 1));
    }
    const Matrix t = tangent_coordinates(s);
    Eigen::RowVectorXd cons = c.y.leftCols(14);
    const Eigen::VectorXd along = t * cons.transpose();
    EXPECT_LT(along.cwiseAbs().maxCoeff(), 1e-12);
    // Projecting only removes the part along the consensus.
    const Matrix diff = s.aligned.rowwise() - cons;
    const Eigen::RowVectorXd u = cons / cons.norm();
    for (Eigen::Index i = 0; i < diff.rows(); ++i) {
        const Eigen::RowVectorXd removed = diff.row(i) - t.row(i);
        EXPECT_LT((removed - removed.dot(u) * u).cwiseAbs().maxCoeff(), 1e-12);
    }
}

TEST(PrincipalComponents, FindTheKnownDirectionsAndVariancesUpToSign) {
    // Scores along two orthogonal unit directions in five dimensions, with
    // variances 6 and 2/3, plus their mean: the components must give back
    // exactly those directions and variances.
    Eigen::VectorXd e1(5), e2(5);
    e1 << 1, 1, 0, 0, 0;
    e2 << 0, 0, 1, -1, 1;
    e1.normalize();
    e2.normalize();
    Eigen::RowVectorXd offset(5);
    offset << 3, -2, 1, 0, 7;
    Matrix x(4, 5);
    x.row(0) = offset + 3 * e1.transpose();
    x.row(1) = offset - 3 * e1.transpose();
    x.row(2) = offset + e2.transpose();
    x.row(3) = offset - e2.transpose();
    const PcaResult p = principal_components(x);
    ASSERT_EQ(p.components(), 2);  // the rest have no variance
    EXPECT_NEAR(p.variances(0), 6.0, 1e-12);
    EXPECT_NEAR(p.variances(1), 2.0 / 3.0, 1e-12);
    EXPECT_NEAR(p.percent(0), 90.0, 1e-10);
    EXPECT_NEAR(p.percent(1), 10.0, 1e-10);
    EXPECT_NEAR(std::abs(p.directions.col(0).dot(e1)), 1.0, 1e-12);
    EXPECT_NEAR(std::abs(p.directions.col(1).dot(e2)), 1.0, 1e-12);
    EXPECT_NEAR(std::abs(p.scores(0, 0)), 3.0, 1e-12);
    EXPECT_NEAR(p.scores(0, 1), 0.0, 1e-12);
    EXPECT_THROW(principal_components(x.topRows(1)), QuillanError);
}

TEST(PrincipalComponents, OfAlignedShapesGiveBackTheShapeAtAScore) {
    const Superimposition s = superimpose(test::make_shapes(25, 6, 5, 0.1));
    const PcaResult p = principal_components(tangent_coordinates(s));
    // Four dimensions are taken by position, size and rotation.
    EXPECT_LE(p.components(), 2 * 6 - 4);
    EXPECT_NEAR(p.percent.sum(), 100.0, 1e-9);
    for (int k = 1; k < p.components(); ++k) EXPECT_LE(p.variances(k), p.variances(k - 1));
    // The shape at a specimen's own score on every component is its tangent coordinates.
    const Matrix t = tangent_coordinates(s);
    Eigen::RowVectorXd rebuilt = s.consensus_row + p.mean;
    for (int k = 0; k < p.components(); ++k) rebuilt += shape_along_component(s, p, k, p.scores(3, k)) - s.consensus_row - p.mean;
    for (Eigen::Index c = 0; c < rebuilt.size(); ++c) EXPECT_NEAR(rebuilt(c), s.consensus_row(c) + t(3, c), 1e-10);
    EXPECT_THROW(shape_along_component(s, p, p.components(), 0.0), QuillanError);
}

// Landmarks in space: the components of the pictures share the variance as
// geomorph's gm.prcomp shares it (tests/expected/pca3d), on real 3-D sets.
TEST(PrincipalComponents, OfLandmarksInSpaceShareTheVarianceAsGeomorphDoes) {
    const auto rows = test::expected_csv("pca3d/proportions.csv");  // set, component, share
    std::map<std::string, std::vector<double>> expected;
    for (auto r = rows.begin() + 1; r < rows.end(); ++r) expected[r->at(0)].push_back(std::stod(r->at(2)));
    ASSERT_EQ(expected.size(), 2u);
    for (const auto& [set, shares] : expected) {
        const Superimposition s = superimpose(test::load_data(set + ".lm.txt"), 3);
        const PcaResult p = principal_components(tangent_coordinates(s));
        ASSERT_EQ(p.components(), static_cast<int>(shares.size())) << set;
        for (int k = 0; k < p.components(); ++k)
            EXPECT_NEAR(p.percent(k) / 100, shares[static_cast<std::size_t>(k)], 1e-8 * shares[static_cast<std::size_t>(k)])
                << set << " PC" << k + 1;
    }
}

TEST(Groupings, NumberGroupsAndCellsByFirstAppearanceAndRefuseMissingColumns) {
    const Matrix g = matrix_from_rows({{2, 1}, {1, 1}, {2, 2}, {2, 1}, {1, 2}});
    const Grouping first = make_grouping(g, 5, GroupBy::First);
    EXPECT_EQ(first.group_of, (std::vector<int>{0, 1, 0, 0, 1}));
    EXPECT_EQ(first.names, (std::vector<std::string>{"Group 2", "Group 1"}));
    const Grouping cells = make_grouping(g, 5, GroupBy::Cells);
    EXPECT_EQ(cells.group_of, (std::vector<int>{0, 1, 2, 0, 3}));
    EXPECT_EQ(cells.names[2], "Cell 2 x 2");
    EXPECT_EQ(make_grouping(Matrix(), 5, GroupBy::Second).groups(), 1);
    EXPECT_THAT([&] { make_grouping(g.leftCols(1), 5, GroupBy::Second); },
                testing::ThrowsMessage<QuillanError>(HasSubstr("needs two")));
    EXPECT_THAT([&] { make_grouping(g, 4, GroupBy::First); }, testing::ThrowsMessage<QuillanError>(HasSubstr("has 5 specimens")));
    EXPECT_EQ(specimen_label(0), "Specimen 1 (line 1)");
    EXPECT_EQ(specimen_label(1, {"P01", "P02"}), "Specimen 2 (line 2), ID P02");
    EXPECT_EQ(specimen_label(2, {"P01", "P02"}), "Specimen 3 (line 3)");
}

TEST(Groupings, MeansAreTheAverageAlignedShapeOfEachGroup) {
    const Superimposition s = superimpose(test::make_shapes(6, 4, 3));
    const Grouping g = make_grouping(matrix_from_rows({{1}, {2}, {1}, {2}, {2}, {1}}), 6, GroupBy::First);
    const auto means = group_means(s, g);
    ASSERT_EQ(means.size(), 2u);
    EXPECT_NEAR(means[1](5), (s.aligned(1, 5) + s.aligned(3, 5) + s.aligned(4, 5)) / 3.0, 1e-15);
    const Eigen::RowVectorXd twice = magnify(s.consensus_row, means[1], 2.0);
    EXPECT_NEAR(twice(5) - s.consensus[2].y, 2.0 * (means[1](5) - s.consensus[2].y), 1e-15);
}

TEST(ThinPlateSpline, MapsEveryLandmarkOntoTheTargetAndBendsNothingForAnAffineTarget) {
    const Shape2 source = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0.4, 0.6}, {0.8, 0.3}};
    Shape2 target = source;
    target[4] = {0.5, 0.7};
    target[1] = {1.2, -0.1};
    const ThinPlateSpline tps(source, target);
    for (std::size_t j = 0; j < source.size(); ++j) {
        EXPECT_NEAR(tps(source[j]).x, target[j].x, 1e-12);
        EXPECT_NEAR(tps(source[j]).y, target[j].y, 1e-12);
    }
    EXPECT_GT(tps.bending_energy(), 0.0);

    // An affine target: the map is that affine map everywhere, with no bending.
    Shape2 sheared;
    for (const auto& p : source) sheared.push_back({2 * p.x + 0.5 * p.y + 1, -p.x + 3 * p.y - 2});
    const ThinPlateSpline affine(source, sheared);
    EXPECT_NEAR(affine.bending_energy(), 0.0, 1e-10);
    const Point2 q = affine({0.3, -0.7});
    EXPECT_NEAR(q.x, 2 * 0.3 + 0.5 * -0.7 + 1, 1e-10);
    EXPECT_NEAR(q.y, -0.3 + 3 * -0.7 - 2, 1e-10);

    EXPECT_THROW(ThinPlateSpline(source, Shape2(source.begin(), source.end() - 1)), QuillanError);
    EXPECT_THROW(ThinPlateSpline(Shape2{{0, 0}, {1, 1}, {2, 2}, {3, 3}}, Shape2{{0, 0}, {1, 1}, {2, 2}, {3, 3}}), QuillanError);
}

TEST(ThinPlateSpline, IdentityTargetGivesAStraightSquareGridCoveringTheShape) {
    const Shape2 source = {{0, 0}, {2, 0}, {2, 1}, {0, 1}, {1, 0.4}};
    const DeformationGrid g = deformation_grid(ThinPlateSpline(source, source), source, 11, 20, 0.1);
    ASSERT_GE(g.lines.size(), 4u);
    Bounds b;
    for (const auto& line : g.lines) {
        ASSERT_EQ(line.size(), 20u);
        const bool vertical = line.front().x == line.back().x || std::abs(line.front().x - line.back().x) < 1e-9;
        for (const auto& p : line) {
            b.add(p);
            if (vertical) EXPECT_NEAR(p.x, line.front().x, 1e-9);
            else EXPECT_NEAR(p.y, line.front().y, 1e-9);
        }
    }
    EXPECT_LE(b.xmin, -0.2 + 1e-9);
    EXPECT_GE(b.xmax, 2.2 - 1e-9);
    EXPECT_LE(b.ymin, -0.1 + 1e-9);
    EXPECT_GE(b.ymax, 1.1 - 1e-9);
    // Square cells: neighbouring vertical lines are as far apart as horizontal ones.
    const double dx = g.lines[1].front().x - g.lines[0].front().x;
    const double dy = g.lines.back().front().y - g.lines[g.lines.size() - 2].front().y;
    EXPECT_NEAR(dx, dy, 1e-9);
}

TEST(Outlines, HullKeepsOnlyTheCornersAndEllipseHoldsNinetyFivePercentOfANormalSample) {
    const Shape2 pts = {{0, 0}, {2, 0}, {2, 2}, {0, 2}, {1, 1}, {1, 0}, {0.5, 1.5}, {2, 2}};
    const Shape2 h = convex_hull(pts);
    ASSERT_EQ(h.size(), 4u);
    EXPECT_EQ(h[0].x, 0);
    EXPECT_EQ(h[0].y, 0);
    EXPECT_EQ(h[1].x, 2);  // counter-clockwise
    EXPECT_EQ(h[1].y, 0);
    EXPECT_EQ(convex_hull({{1, 1}, {1, 1}}).size(), 1u);

    std::mt19937_64 rng(7);
    std::normal_distribution<double> z(0.0, 1.0);
    Shape2 sample;
    for (int i = 0; i < 40000; ++i) {
        const double a = z(rng), b = z(rng);
        sample.push_back({5 + 2 * a, -1 + a + 0.5 * b});  // covariance [[4 2] [2 1.25]]
    }
    const Shape2 e = data_ellipse(sample, 400);
    ASSERT_EQ(e.size(), 400u);
    // Inside the polygon of the ellipse: count by crossing number.
    auto inside = [&](const Point2& p) {
        bool in = false;
        for (std::size_t i = 0, j = e.size() - 1; i < e.size(); j = i++)
            if ((e[i].y > p.y) != (e[j].y > p.y) && p.x < (e[j].x - e[i].x) * (p.y - e[i].y) / (e[j].y - e[i].y) + e[i].x)
                in = !in;
        return in;
    };
    int n = 0;
    for (const auto& p : sample) n += inside(p) ? 1 : 0;
    EXPECT_NEAR(n / 40000.0, 0.95, 0.005);
    EXPECT_TRUE(data_ellipse({{0, 0}, {1, 1}, {2, 2}, {3, 3}}).empty());  // no spread across the line
    EXPECT_TRUE(data_ellipse({{0, 0}, {1, 1}}).empty());
}

TEST(Links, ReadPairsAndNameTheLineOfABadOne) {
    const Links l = parse_links("1 2\n\n2,3\r\n4\t1\n", 4, "links.txt");
    EXPECT_EQ(l, (Links{{0, 1}, {1, 2}, {3, 0}}));
    auto fails = [](const std::string& text, const std::string& what) {
        EXPECT_THAT([&] { parse_links(text, 4, "links.txt"); }, testing::ThrowsMessage<QuillanError>(HasSubstr(what))) << text;
    };
    fails("1 2\n1 x\n", "links.txt, line 2: \"x\" is not a landmark number");
    fails("1 2 3\n", "line 1: each line must hold exactly two");
    fails("1\n", "exactly two");
    fails("1 5\n", "landmark 5 does not exist; the shapes have 4 landmarks");
    fails("0 1\n", "landmark 0 does not exist");
    fails("2 2\n", "linked to itself");
    fails("1.5 2\n", "\"1.5\" is not a landmark number");
}

// A made-up statistic of permutation i: spread widely and not in order, so
// the binned range has to double several times after the first sample.
double stat_of(long long i, int s) {
    const double u = std::sin(static_cast<double>(i) * 12.9898 + s) * 43758.5453;
    const double frac = u - std::floor(u);
    return i < DistributionLog::kSample ? frac : (frac - 0.5) * static_cast<double>(1 + (i % 97)) * (s + 1);
}

PermutationResult run_recorded(long long nperm, int threads, DistributionLog& log, std::vector<double> observed) {
    RunOptions options;
    options.seed = 3;
    options.threads = threads;
    options.recorder = &log;
    PermutationEngine engine(options);
    struct None {};
    return engine.run<None>(
        nperm, observed, std::vector<Exceeds>(observed.size(), Exceeds::Greater), [] { return std::make_unique<None>(); },
        [](None&, long long i, Rng&, double* stats) {
            stats[0] = stat_of(i, 0);
            stats[1] = stat_of(i, 1);
            return false;
        });
}

TEST(Distributions, KeepEveryValueInPermutationOrderWithTheReportsCounts) {
    DistributionLog log;
    log.start("RunOneWay");
    const auto r = run_recorded(5000, 3, log, {0.5, 0.25});
    ASSERT_EQ(log.distributions().size(), 2u);
    for (int s = 0; s < 2; ++s) {
        const auto& d = log.distributions()[static_cast<std::size_t>(s)];
        EXPECT_TRUE(d.kept());
        EXPECT_EQ(d.statistic, s);
        ASSERT_EQ(d.values.size(), 5000u);
        for (long long i = 0; i < 5000; i += 499) EXPECT_EQ(d.values[static_cast<std::size_t>(i)], stat_of(i, s));
        EXPECT_EQ(d.exceeded, r.counts[static_cast<std::size_t>(s)]);
        EXPECT_DOUBLE_EQ(d.p_value(), static_cast<double>(r.counts[static_cast<std::size_t>(s)]) / 5000.0);
        const HistogramBins h = histogram_of(d);
        EXPECT_EQ(h.total(), 5000);
        EXPECT_EQ(h.lo, *std::min_element(d.values.begin(), d.values.end()));
        EXPECT_EQ(h.hi, *std::max_element(d.values.begin(), d.values.end()));
    }
    const StatisticNames names = {{"first"}, {}, {"third, a", "third, b"}};
    EXPECT_EQ(title_of_statistic(names, 0, 0), "first");
    EXPECT_EQ(title_of_statistic(names, 2, 1), "third, b");
    EXPECT_EQ(title_of_statistic(names, 1, 2), "Statistic 3 of permutation loop 2");
    EXPECT_EQ(title_of_statistic(names, 0, 1), "Statistic 2");
    log.start("next");
    EXPECT_TRUE(log.distributions().empty());
}

TEST(Distributions, BeyondAMillionAreBinnedTheSameOnAnyNumberOfThreads) {
    const long long n = DistributionLog::kKeepEvery + 20000;
    DistributionLog one, three;
    run_recorded(n, 1, one, {0.5, 100.0});
    run_recorded(n, 3, three, {0.5, 100.0});
    ASSERT_EQ(one.distributions().size(), 2u);
    ASSERT_EQ(three.distributions().size(), 2u);
    for (int s = 0; s < 2; ++s) {
        const auto& a = one.distributions()[static_cast<std::size_t>(s)];
        const auto& b = three.distributions()[static_cast<std::size_t>(s)];
        EXPECT_FALSE(a.kept());
        EXPECT_TRUE(a.values.empty());  // no value kept beyond the limit
        EXPECT_EQ(a.binned.total(), n);
        EXPECT_EQ(a.binned.counts(), b.binned.counts());
        EXPECT_EQ(a.binned.lo(), b.binned.lo());
        // Every value lies in the final range, which was widened from the first sample's.
        double lo = INFINITY, hi = -INFINITY;
        for (long long i = 0; i < n; ++i) {
            lo = std::min(lo, stat_of(i, s));
            hi = std::max(hi, stat_of(i, s));
        }
        EXPECT_LE(a.binned.lo(), lo);
        EXPECT_GT(a.binned.hi(), hi);
        EXPECT_EQ(histogram_of(a).total(), n);
    }
}

TEST(Distributions, BinsNestWhenTheRangeDoubles) {
    // However values are split up and whenever the range doubles, each ends
    // in the bin its value falls in at the final width.
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> u(-50, 80);
    std::vector<double> v(3000);
    for (auto& x : v) x = u(rng);
    BinnedValues all(0, 1), part_a(0, 1), part_b(0, 1);
    for (double x : v) all.add(x);
    for (std::size_t i = 0; i < v.size(); ++i) (i < 100 ? part_a : part_b).add(v[i]);
    part_b.merge(part_a);
    EXPECT_EQ(part_b.counts(), all.counts());
    EXPECT_EQ(all.total(), 3000);
    // Centred doubling from [0, 1): the range is [0.5 - 2^(L-1), 0.5 + 2^(L-1)).
    EXPECT_EQ(all.lo(), 0.5 - 128.0);
    EXPECT_EQ(all.hi(), 0.5 + 128.0);
    std::vector<long long> expected(BinnedValues::kBins, 0);
    for (double x : v) ++expected[static_cast<std::size_t>(std::floor((x - all.lo()) / 4.0))];
    EXPECT_EQ(all.counts(), expected);
    all.add(NAN);
    EXPECT_EQ(all.not_finite(), 1);
    EXPECT_EQ(all.total(), 3000);
}

}  // namespace
}  // namespace quillan
