// The outlier rule and the disparity test against the numbers geomorph
// gives on the bundled data (tests/expected/shape_analyses, written by
// make_expected.R there), and their edge cases.
#include "analyses/linear_models/model_shapes.hpp"
#include "analyses/toolkit/canonical_variates.hpp"
#include "analyses/toolkit/disparity.hpp"
#include "analyses/toolkit/modularity.hpp"
#include "analyses/toolkit/outliers.hpp"
#include "analyses/toolkit/two_block_pls.hpp"
#include "platform/error.hpp"
#include "support/fixtures.hpp"
#include "support/shapes.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

namespace quillan::test {
namespace {

// case -> key -> values (a key may repeat, as the flagged specimens do).
using Expected = std::map<std::string, std::multimap<std::string, double>>;

Expected expected(const std::string& file) {
    std::ifstream in(std::string(QUILLAN_EXPECTED_DIR) + "/shape_analyses/" + file);
    Expected out;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::stringstream cells(line);
        std::string c, k, v;
        std::getline(cells, c, ',');
        std::getline(cells, k, ',');
        std::getline(cells, v, ',');
        out[c].emplace(k, std::stod(v));
    }
    EXPECT_FALSE(out.empty()) << file;
    return out;
}

double one(const std::multimap<std::string, double>& m, const std::string& key) {
    const auto it = m.find(key);
    EXPECT_NE(it, m.end()) << key;
    return it == m.end() ? std::nan("") : it->second;
}

void expect_relative(double got, double want, double tolerance, const std::string& what) {
    EXPECT_LE(std::abs(got - want), tolerance * std::abs(want)) << what << ": " << got << " against " << want;
}

std::vector<int> codes_of(const std::string& groups_file) {
    const Matrix g = load_data(groups_file);
    std::vector<int> out;
    for (Eigen::Index i = 0; i < g.rows(); ++i) out.push_back(static_cast<int>(g(i, 0)) - 1);
    return out;
}

struct Case {
    std::string name, landmarks, groups, covariate;
};

TEST(Outliers, AgreeWithGeomorph) {
    const Expected want = expected("outliers.csv");
    for (const Case& c : {Case{"plethodon", "plethodon.lm.txt", "", ""},
                          Case{"plethodon_species", "plethodon.lm.txt", "plethodon.species.groups.txt", ""},
                          Case{"pupfish", "pupfish.lm.txt", "", ""},
                          Case{"larvalHead_treatment", "larvalHead.lm.txt", "larvalMorph.treatment.groups.txt", ""},
                          Case{"ratland", "ratland.lm.txt", "", ""}}) {
        SCOPED_TRACE(c.name);
        const auto& w = want.at(c.name);
        const OutlierResult r = find_outliers(tangent_shapes(load_data(c.landmarks), Alignment::Partial),
                                              c.groups.empty() ? std::vector<int>{} : codes_of(c.groups));
        for (std::size_t i = 0; i < r.distance.size(); ++i)
            expect_relative(r.distance[i], one(w, "d." + std::to_string(i + 1)), 1e-8, "distance " + std::to_string(i + 1));
        for (const OutlierSet& s : r.sets) {
            const std::string level = s.group < 0 ? "all" : std::to_string(s.group + 1);
            expect_relative(s.lower_quartile, one(w, "lower." + level), 1e-8, "lower quartile");
            expect_relative(s.median, one(w, "median." + level), 1e-8, "median");
            expect_relative(s.upper_limit, one(w, "limit." + level), 1e-8, "limit");
            std::vector<int> flagged;
            for (auto [it, end] = w.equal_range("flagged." + level); it != end; ++it)
                flagged.push_back(static_cast<int>(it->second) - 1);
            EXPECT_EQ(s.flagged, flagged) << "group " << level;
        }
    }
}

TEST(Outliers, QuantilesAndTiesFollowR) {
    EXPECT_DOUBLE_EQ(sample_quantile({1, 2, 3, 4}, 0.25), 1.75);
    EXPECT_DOUBLE_EQ(sample_quantile({1, 2, 3, 4}, 0.75), 3.25);
    EXPECT_DOUBLE_EQ(sample_quantile({5}, 0.75), 5);
    // Identical specimens: every distance is 0 and reaches the limit of 0,
    // as plotOutliers' "at least the limit" flags them; ties keep their order.
    const OutlierResult same = find_outliers(Eigen::MatrixXd::Ones(3, 4));
    EXPECT_EQ(same.sets[0].specimens, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(same.sets[0].upper_limit, 0);
}

TEST(Disparity, AgreesWithGeomorph) {
    const Expected want = expected("disparity.csv");
    const std::vector<std::pair<Case, std::string>> cases = {
        {{"plethodon_species", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt"}, "1"},
        {{"plethodon_species", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt"}, "cov"},
        {{"pupfish", "pupfish.lm.txt", "pupfish.groups.txt", "pupfish.cov.txt"}, "1"},
        {{"pupfish", "pupfish.lm.txt", "pupfish.groups.txt", "pupfish.cov.txt"}, "G1"},
        {{"larvalHead_treatment", "larvalHead.lm.txt", "larvalMorph.treatment.groups.txt", "larvalHead.cov.txt"}, "1"},
        {{"larvalHead_treatment", "larvalHead.lm.txt", "larvalMorph.treatment.groups.txt", "larvalHead.cov.txt"}, "G1"}};
    for (const auto& [c, design] : cases) {
        SCOPED_TRACE(c.name + " ~ " + design);
        const auto& w = want.at(c.name + "_" + design);
        const Eigen::MatrixXd shapes = tangent_shapes(load_data(c.landmarks), Alignment::Partial);
        const std::vector<int> g = codes_of(c.groups);
        const int ngroups = *std::max_element(g.begin(), g.end()) + 1;
        Eigen::MatrixXd x = Eigen::MatrixXd::Ones(shapes.rows(), 1);
        if (design == "cov") {
            x.conservativeResize(Eigen::NoChange, 2);
            x.col(1) = load_data(c.covariate).col(0);
        } else if (design == "G1") {
            x = Eigen::MatrixXd::Zero(shapes.rows(), ngroups);
            for (std::size_t i = 0; i < g.size(); ++i) x(static_cast<Eigen::Index>(i), g[i]) = 1;
        }
        RunOptions options;
        options.seed = 11;
        PermutationEngine engine(options);
        const DisparityResult r = disparity_test(engine, squared_residuals(shapes, x), g, 9999);
        for (int a = 0; a < ngroups; ++a)
            expect_relative(r.variance[static_cast<std::size_t>(a)], one(w, "variance." + std::to_string(a + 1)), 1e-8,
                            "variance");
        for (const DisparityPair& p : r.pairs) {
            const std::string key = std::to_string(p.a + 1) + "." + std::to_string(p.b + 1);
            expect_relative(p.difference, one(w, "difference." + key), 1e-8, "difference " + key);
            // Monte-Carlo error of a p from 10,000 draws: at most 0.005 (one
            // standard error); five of them.
            EXPECT_NEAR(p.p, one(w, "p." + key), 0.025) << key;
        }
    }
}

TEST(CanonicalVariates, AgreeWithMassLda) {
    const Expected want = expected("cva.csv");
    for (const Case& c : {Case{"plethodon_species", "plethodon.lm.txt", "plethodon.species.groups.txt", ""},
                          Case{"plethodon_site", "plethodon.lm.txt", "plethodon.site.groups.txt", ""},
                          Case{"larvalHead_treatment", "larvalHead.lm.txt", "larvalMorph.treatment.groups.txt", ""},
                          Case{"larvalHead_family", "larvalHead.lm.txt", "larvalMorph.family.groups.txt", ""}}) {
        SCOPED_TRACE(c.name);
        const auto& w = want.at(c.name);
        RunOptions options;
        options.seed = 5;
        PermutationEngine engine(options);
        const CvaResult r = canonical_variates(engine, tangent_shapes(load_data(c.landmarks), Alignment::Partial),
                                               codes_of(c.groups), {.nperm = 9999, .cross_validate = true});
        EXPECT_EQ(r.components, one(w, "components"));
        const auto eigenvalues =
            std::count_if(w.begin(), w.end(), [](const auto& kv) { return kv.first.rfind("eigenvalue.", 0) == 0; });
        ASSERT_EQ(r.eigenvalues.size(), eigenvalues);
        for (Eigen::Index v = 0; v < r.eigenvalues.size(); ++v)
            expect_relative(r.eigenvalues(v), one(w, "eigenvalue." + std::to_string(v + 1)), 1e-8, "eigenvalue");
        for (Eigen::Index i = 0; i < r.resubstitution.posterior.rows(); ++i)
            for (Eigen::Index j = 0; j < r.resubstitution.posterior.cols(); ++j) {
                const std::string key = std::to_string(i + 1) + "." + std::to_string(j + 1);
                EXPECT_NEAR(r.resubstitution.posterior(i, j), one(w, "posterior." + key), 1e-6) << key;
                EXPECT_NEAR(r.cross_validated.posterior(i, j), one(w, "cv_posterior." + key), 1e-6) << key;
            }
        EXPECT_NEAR(r.resubstitution.percent_correct, one(w, "percent_correct"), 1e-9);
        EXPECT_NEAR(r.cross_validated.percent_correct, one(w, "cv_percent_correct"), 1e-9);
        for (const CvaPair& p : r.pairs) {
            const std::string key = std::to_string(p.a + 1) + "." + std::to_string(p.b + 1);
            expect_relative(p.mahalanobis, one(w, "mahalanobis." + key), 1e-8, "Mahalanobis " + key);
            expect_relative(p.procrustes, one(w, "procrustes." + key), 1e-8, "Procrustes " + key);
            EXPECT_NEAR(p.mahalanobis_p, one(w, "mahalanobis_p." + key), 0.025) << key;
            EXPECT_NEAR(p.procrustes_p, one(w, "procrustes_p." + key), 0.025) << key;
        }
    }
}

TEST(CanonicalVariates, RefuseWhatThePooledCovarianceCannotCarry) {
    RunOptions options;
    options.seed = 1;
    PermutationEngine engine(options);
    const Eigen::MatrixXd mosquito = tangent_shapes(load_data("mosquito.lm.txt"), Alignment::Partial);
    // 40 specimens in 10 individuals leave 30 degrees of freedom for 32 components.
    EXPECT_THROW(canonical_variates(engine, mosquito, codes_of("mosquito.groups.txt"), {.nperm = 9}), Refused);
    const Eigen::MatrixXd pleth = tangent_shapes(load_data("plethodon.lm.txt"), Alignment::Partial);
    std::vector<int> lone(40, 0);
    lone[3] = 1;
    EXPECT_THROW(canonical_variates(engine, pleth, lone, {.nperm = 9}), Refused);
    EXPECT_NO_THROW(canonical_variates(engine, pleth, lone, {.nperm = 9, .cross_validate = false}));
    EXPECT_THROW(canonical_variates(engine, pleth, std::vector<int>(40, 0), {.nperm = 9}), Refused);
}

// A partition file's labels as 0-based modules in order of first appearance.
std::vector<int> partition_of(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> seen;
    std::vector<int> out;
    for (std::string word; in >> word;) {
        const auto it = std::find(seen.begin(), seen.end(), word);
        out.push_back(static_cast<int>(it - seen.begin()));
        if (it == seen.end()) seen.push_back(word);
    }
    return out;
}

const std::string kHere = std::string(QUILLAN_EXPECTED_DIR) + "/shape_analyses/";

// Z of 10,000 permutations against R's own draw: their Monte-Carlo spread,
// which grows with Z (an effect size far out in the tail rests on few
// permutations near it).
double z_spread(double z) { return 0.3 + 0.1 * std::abs(z); }

void expect_axes(const PlsResult& r, const std::multimap<std::string, double>& w) {
    for (std::size_t j = 0; j < r.axes.size(); ++j) {
        const std::string key = std::to_string(j + 1);
        expect_relative(r.axes[j].singular_value, one(w, "singular." + key), 1e-8, "singular value " + key);
        if (r.axes[j].singular_value > 1e-10 * r.axes[0].singular_value)
            expect_relative(std::abs(r.axes[j].r), std::abs(one(w, "r." + key)), 1e-7, "r " + key);
    }
}

TEST(TwoBlockPls, AgreesWithGeomorph) {
    const Expected want = expected("pls.csv");
    RunOptions options;
    options.seed = 3;
    PermutationEngine engine(options);
    for (const auto& [name, landmarks, partition] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"plethodon", "plethodon.lm.txt", data_file("plethodon.partition.txt")},
             {"plethodon_three", "plethodon.lm.txt", kHere + "plethodon.three.partition.txt"},
             {"larvalHead", "larvalHead.lm.txt", kHere + "larvalHead.partition.txt"}}) {
        SCOPED_TRACE(name);
        const auto& w = want.at(name);
        const IntegrationResult r =
            integration_test(engine, tangent_shapes(load_data(landmarks), Alignment::Partial), partition_of(partition), 2, 9999);
        expect_relative(r.mean_r, one(w, "r_pls"), 1e-8, "r-PLS");
        EXPECT_NEAR(r.z, one(w, "Z"), z_spread(one(w, "Z")));
        EXPECT_NEAR(r.p, one(w, "p"), 0.01);
        if (r.pairs.size() == 1) expect_axes(r.pls[0], w);
        else
            for (std::size_t k = 0; k < r.pairs.size(); ++k) {
                const std::string key = std::to_string(r.pairs[k].first + 1) + "." + std::to_string(r.pairs[k].second + 1);
                expect_relative(r.pls[k].r_pls, one(w, "r_pls." + key), 1e-8, "r-PLS " + key);
                EXPECT_NEAR(r.pls[k].z, one(w, "Z." + key), z_spread(one(w, "Z." + key))) << key;
            }
    }
    const auto& w = want.at("pupfish_block2");
    const Matrix cov = load_data("pupfish.cov.txt"), groups = load_data("pupfish.groups.txt");
    Eigen::MatrixXd table(cov.rows(), 2);
    table << cov.col(0), groups.col(0);
    const PlsResult r = two_block_pls(engine, tangent_shapes(load_data("pupfish.lm.txt"), Alignment::Partial), table, 9999);
    expect_relative(r.r_pls, one(w, "r_pls"), 1e-8, "r-PLS");
    EXPECT_NEAR(r.z, one(w, "Z"), z_spread(one(w, "Z")));
    expect_axes(r, w);
}

TEST(Modularity, AgreesWithGeomorph) {
    const Expected want = expected("modularity.csv");
    RunOptions options;
    options.seed = 3;
    PermutationEngine engine(options);
    for (const auto& [name, landmarks, partition, rotate] : std::vector<std::tuple<std::string, std::string, std::string, bool>>{
             {"plethodon_rotated", "plethodon.lm.txt", data_file("plethodon.partition.txt"), true},
             {"plethodon", "plethodon.lm.txt", data_file("plethodon.partition.txt"), false},
             {"plethodon_three", "plethodon.lm.txt", kHere + "plethodon.three.partition.txt", true},
             {"larvalHead_rotated", "larvalHead.lm.txt", kHere + "larvalHead.partition.txt", true}}) {
        SCOPED_TRACE(name);
        const auto& w = want.at(name);
        const ModularityResult r = modularity_test(engine, tangent_shapes(load_data(landmarks), Alignment::Partial),
                                                   partition_of(partition), 2, {.nperm = 9999, .rotation_search = rotate});
        expect_relative(r.cr, one(w, "CR"), 1e-8, "CR");
        EXPECT_NEAR(r.z, one(w, "Z"), z_spread(one(w, "Z")));
        EXPECT_NEAR(r.p, one(w, "p"), 0.02);
        for (std::size_t k = 0; r.pairs.size() > 1 && k < r.pairs.size(); ++k) {
            const std::string key = std::to_string(r.pairs[k].first + 1) + "." + std::to_string(r.pairs[k].second + 1);
            expect_relative(r.pair_cr[k], one(w, "CR." + key), 1e-8, "CR " + key);
        }
    }
}

TEST(Modularity, RefusesModulesOfFewerThanTwoLandmarks) {
    RunOptions options;
    options.seed = 3;
    PermutationEngine engine(options);
    const Eigen::MatrixXd shapes = tangent_shapes(load_data("plethodon.lm.txt"), Alignment::Partial);
    std::vector<int> lone(12, 0);
    lone[11] = 1;
    EXPECT_THROW(modularity_test(engine, shapes, lone, 2, {.nperm = 9}), Refused);
    EXPECT_THROW(modularity_test(engine, shapes, std::vector<int>(12, 0), 2, {.nperm = 9}), Refused);
    EXPECT_THROW(integration_test(engine, shapes, std::vector<int>(12, 0), 2, 9), Refused);
}

}  // namespace
}  // namespace quillan::test
