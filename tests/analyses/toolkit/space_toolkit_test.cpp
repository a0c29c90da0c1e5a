// The shape analyses and the model's pairwise comparisons on landmarks in
// space, against geomorph, RRPP and MASS on the bundled 3-D sets
// (tests/expected/toolkit3d, written by make_expected.R there): the
// deterministic numbers to 1e-8 relative, Z and p within the Monte-Carlo
// error of 9,999 permutations on each side.
#include "analyses/linear_models/model_shapes.hpp"
#include "analyses/toolkit/canonical_variates.hpp"
#include "analyses/toolkit/disparity.hpp"
#include "analyses/toolkit/modularity.hpp"
#include "analyses/toolkit/outliers.hpp"
#include "analyses/toolkit/symmetry.hpp"
#include "analyses/toolkit/two_block_pls.hpp"
#include "support/fixtures.hpp"
#include "support/shapes.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

namespace quillan::test {
namespace {

using Values = std::multimap<std::string, double>;

// case -> key -> values (the flagged specimens repeat their key).
std::map<std::string, Values> expected(const std::string& file) {
    std::map<std::string, Values> out;
    const auto rows = expected_csv("toolkit3d/" + file);
    for (auto r = rows.begin() + 1; r != rows.end(); ++r) out[(*r)[0]].emplace((*r)[1], std::stod((*r)[2]));
    EXPECT_FALSE(out.empty()) << file;
    return out;
}

double one(const Values& m, const std::string& key) {
    const auto it = m.find(key);
    EXPECT_NE(it, m.end()) << key;
    return it == m.end() ? std::nan("") : it->second;
}

void expect_relative(double got, double want, const std::string& what, double tolerance = 1e-8) {
    EXPECT_LE(std::abs(got - want), tolerance * std::abs(want)) << what << ": " << got << " against " << want;
}

// Z of 10,000 permutations on each side: their spread grows with Z.
void expect_z(double got, double want, const std::string& what) { EXPECT_NEAR(got, want, 0.3 + 0.1 * std::abs(want)) << what; }
// p of 10,000 permutations on each side: five standard errors.
void expect_p(double got, double want, const std::string& what) {
    EXPECT_NEAR(got, want, 5 * std::sqrt(want * (1 - want) / 9999) + 3.0 / 9999) << what;
}

std::vector<int> codes_of(const std::string& groups_file, int column = 0) {
    const Matrix g = load_data(groups_file);
    std::vector<int> out;
    for (Eigen::Index i = 0; i < g.rows(); ++i) out.push_back(static_cast<int>(g(i, column)) - 1);
    return out;
}

Eigen::MatrixXd shapes_of(const std::string& set) { return tangent_shapes(load_data(set + ".lm.txt"), Alignment::Partial, 3); }

// The labels of a partition file as 0-based modules in order of first appearance.
std::vector<int> partition_of(const std::string& name) {
    std::ifstream in(std::string(QUILLAN_EXPECTED_DIR) + "/toolkit3d/" + name);
    std::vector<std::string> seen;
    std::vector<int> out;
    for (std::string word; in >> word;) {
        const auto it = std::find(seen.begin(), seen.end(), word);
        out.push_back(static_cast<int>(it - seen.begin()));
        if (it == seen.end()) seen.push_back(word);
    }
    return out;
}

// The engine keeps a reference to its options: they live beside it.
struct Seeded {
    RunOptions options;
    PermutationEngine engine;
    explicit Seeded(std::uint64_t seed) : options(with_seed(seed)), engine(options) {}
    static RunOptions with_seed(std::uint64_t seed) {
        RunOptions o;
        o.seed = seed;
        return o;
    }
};

TEST(SpaceToolkit, OutliersAgreeWithGeomorph) {
    const auto want = expected("outliers.csv");
    for (const auto& [name, set, groups] :
         std::vector<std::tuple<std::string, std::string, std::string>>{{"macaques", "macaques", ""},
                                                                        {"macaques_sex", "macaques", "macaques.groups.txt"},
                                                                        {"brains", "brains", ""},
                                                                        {"brains_sex", "brains", "brains.sex.groups.txt"}}) {
        SCOPED_TRACE(name);
        const Values& w = want.at(name);
        const OutlierResult r = find_outliers(shapes_of(set), groups.empty() ? std::vector<int>{} : codes_of(groups));
        for (std::size_t i = 0; i < r.distance.size(); ++i)
            expect_relative(r.distance[i], one(w, "d." + std::to_string(i + 1)), "distance " + std::to_string(i + 1));
        for (const OutlierSet& s : r.sets) {
            const std::string level = s.group < 0 ? "all" : std::to_string(s.group + 1);
            expect_relative(s.lower_quartile, one(w, "lower." + level), "lower quartile");
            expect_relative(s.median, one(w, "median." + level), "median");
            expect_relative(s.upper_limit, one(w, "limit." + level), "limit");
            std::vector<int> flagged;
            for (auto [it, end] = w.equal_range("flagged." + level); it != end; ++it)
                flagged.push_back(static_cast<int>(it->second) - 1);
            EXPECT_EQ(s.flagged, flagged) << level;
        }
    }
}

TEST(SpaceToolkit, DisparityAgreesWithGeomorph) {
    const auto want = expected("disparity.csv");
    for (const auto& [name, set, groups, with_age] : std::vector<std::tuple<std::string, std::string, std::string, bool>>{
             {"brains_sex_1", "brains", "brains.sex.groups.txt", false},
             {"brains_sex_cov", "brains", "brains.sex.groups.txt", true},
             {"macaques_sex_1", "macaques", "macaques.groups.txt", false}}) {
        SCOPED_TRACE(name);
        const Values& w = want.at(name);
        const Eigen::MatrixXd shapes = shapes_of(set);
        Eigen::MatrixXd x = Eigen::MatrixXd::Ones(shapes.rows(), with_age ? 2 : 1);
        if (with_age) x.col(1) = load_data("brains.cov.txt").col(0);
        Seeded seeded(11);
        PermutationEngine& engine = seeded.engine;
        const DisparityResult r = disparity_test(engine, squared_residuals(shapes, x), codes_of(groups), 9999);
        for (std::size_t a = 0; a < r.variance.size(); ++a)
            expect_relative(r.variance[a], one(w, "variance." + std::to_string(a + 1)), "variance");
        for (const DisparityPair& p : r.pairs) {
            const std::string key = std::to_string(p.a + 1) + "." + std::to_string(p.b + 1);
            expect_relative(p.difference, one(w, "difference." + key), "difference " + key);
            expect_p(p.p, one(w, "p." + key), "p " + key);
        }
    }
}

// 18 macaques of 7 landmarks: the 14 principal components that vary (3k - 7).
TEST(SpaceToolkit, CanonicalVariatesAgreeWithMassLda) {
    const auto want = expected("cva.csv");
    const Values& w = want.at("macaques_sex");
    Seeded seeded(5);
    PermutationEngine& engine = seeded.engine;
    const CvaResult r = canonical_variates(engine, shapes_of("macaques"), codes_of("macaques.groups.txt"),
                                           {.nperm = 9999, .cross_validate = true});
    EXPECT_EQ(r.components, one(w, "components"));
    ASSERT_EQ(r.eigenvalues.size(), 1);
    expect_relative(r.eigenvalues(0), one(w, "eigenvalue.1"), "eigenvalue");
    for (Eigen::Index i = 0; i < r.resubstitution.posterior.rows(); ++i)
        for (Eigen::Index j = 0; j < 2; ++j) {
            const std::string key = std::to_string(i + 1) + "." + std::to_string(j + 1);
            EXPECT_NEAR(r.resubstitution.posterior(i, j), one(w, "posterior." + key), 1e-6) << key;
            EXPECT_NEAR(r.cross_validated.posterior(i, j), one(w, "cv_posterior." + key), 1e-6) << key;
        }
    EXPECT_EQ(one(w, "refitted"), 15);  // lda's leave-one-out gave NaN there: refitted without it
    EXPECT_NEAR(r.resubstitution.percent_correct, one(w, "percent_correct"), 1e-9);
    EXPECT_NEAR(r.cross_validated.percent_correct, one(w, "cv_percent_correct"), 1e-9);
    ASSERT_EQ(r.pairs.size(), 1u);
    expect_relative(r.pairs[0].mahalanobis, one(w, "mahalanobis.1.2"), "Mahalanobis");
    expect_relative(r.pairs[0].procrustes, one(w, "procrustes.1.2"), "Procrustes");
    expect_p(r.pairs[0].mahalanobis_p, one(w, "mahalanobis_p.1.2"), "Mahalanobis p");
    expect_p(r.pairs[0].procrustes_p, one(w, "procrustes_p.1.2"), "Procrustes p");
}

void expect_axes(const PlsResult& r, const Values& w) {
    for (std::size_t j = 0; j < r.axes.size(); ++j) {
        const std::string key = std::to_string(j + 1);
        expect_relative(r.axes[j].singular_value, one(w, "singular." + key), "singular value " + key);
        if (r.axes[j].singular_value > 1e-10 * r.axes[0].singular_value)
            expect_relative(std::abs(r.axes[j].r), std::abs(one(w, "r." + key)), "r " + key, 1e-7);
    }
}

TEST(SpaceToolkit, IntegrationAndModularityAgreeWithGeomorph) {
    const auto pls = expected("pls.csv"), cr = expected("modularity.csv");
    const Eigen::MatrixXd brains = shapes_of("brains");
    Seeded seeded(3);
    PermutationEngine& engine = seeded.engine;
    for (const std::string name : {"brains_hemispheres", "brains_levels"}) {
        SCOPED_TRACE(name);
        const std::vector<int> modules =
            partition_of(name == "brains_hemispheres" ? "brains.hemispheres.txt" : "brains.levels.txt");
        const Values& w = pls.at(name);
        const IntegrationResult r = integration_test(engine, brains, modules, 3, 9999);
        expect_relative(r.mean_r, one(w, "r_pls"), "r-PLS");
        expect_z(r.z, one(w, "Z"), "Z");
        expect_p(r.p, one(w, "p"), "p");
        if (r.pairs.size() == 1) expect_axes(r.pls[0], w);
        for (std::size_t k = 0; r.pairs.size() > 1 && k < r.pairs.size(); ++k) {
            const std::string key = std::to_string(r.pairs[k].first + 1) + "." + std::to_string(r.pairs[k].second + 1);
            expect_relative(r.pls[k].r_pls, one(w, "r_pls." + key), "r-PLS " + key);
            expect_z(r.pls[k].z, one(w, "Z." + key), "Z " + key);
        }
        // modularity.test turns the landmarks about z by default; "_aligned" takes them as gpagen leaves them.
        for (const bool rotate : {true, false}) {
            const auto it = cr.find(rotate ? name : name + "_aligned");
            if (it == cr.end()) continue;
            SCOPED_TRACE(it->first);
            const Values& c = it->second;
            const ModularityResult m = modularity_test(engine, brains, modules, 3, {.nperm = 9999, .rotation_search = rotate});
            expect_relative(m.cr, one(c, "CR"), "CR");
            expect_z(m.z, one(c, "Z"), "CR's Z");
            expect_p(m.p, one(c, "p"), "CR's p");
            for (std::size_t k = 0; m.pairs.size() > 1 && k < m.pairs.size(); ++k) {
                const std::string key = std::to_string(m.pairs[k].first + 1) + "." + std::to_string(m.pairs[k].second + 1);
                expect_relative(m.pair_cr[k], one(c, "CR." + key), "CR " + key);
            }
        }
    }
    const Matrix age = load_data("brains.cov.txt"), groups = load_data("brains.groups.txt");
    for (const std::string name : {"brains_age", "brains_age_hand"}) {
        SCOPED_TRACE(name);
        Eigen::MatrixXd table(age.rows(), name == "brains_age" ? 1 : 2);
        table.col(0) = age.col(0);
        if (table.cols() == 2) table.col(1) = groups.col(1);
        const Values& w = pls.at(name);
        const PlsResult r = two_block_pls(engine, brains, table, 9999);
        expect_relative(r.r_pls, one(w, "r_pls"), "r-PLS");
        expect_z(r.z, one(w, "Z"), "Z");
        expect_p(r.p, one(w, "p"), "p");
        expect_axes(r, w);
    }
}

// Object symmetry of the brains: each configuration and its reflection,
// the right hemisphere's landmarks 1-12 paired with the left's 13-24.
TEST(SpaceToolkit, ObjectSymmetryAgreesWithGeomorph) {
    const auto want = expected("symmetry.csv");
    const Values& w = want.at("brains_object");
    const Matrix brains = load_data("brains.lm.txt");
    SymmetryDesign d;
    d.individuals = static_cast<int>(brains.rows());
    for (int i = 0; i < d.individuals; ++i) d.individual.push_back(i);
    for (int j = 0; j < 12; ++j) d.land_pairs.emplace_back(j, j + 12);
    check_symmetry_design(d, d.individuals, 24);
    Seeded seeded(7);
    PermutationEngine& engine = seeded.engine;
    const SymmetryResult r = symmetry_test(engine, brains, 3, d, Alignment::Partial, 99);
    ASSERT_EQ(r.shape.terms.size(), 2u);
    for (const ModelTermRow& t : r.shape.terms) {
        SCOPED_TRACE(t.label);
        EXPECT_EQ(t.df, one(w, t.label + ".Df"));
        expect_relative(t.ss, one(w, t.label + ".SS"), "SS");
        expect_relative(t.ms, one(w, t.label + ".MS"), "MS");
        expect_relative(t.rsq, one(w, t.label + ".Rsq"), "Rsq");
        expect_relative(t.f, one(w, t.label + ".F"), "F");
    }
    EXPECT_EQ(r.shape.residual_df, one(w, "ind:side.Df"));
    expect_relative(r.shape.residual_ss, one(w, "ind:side.SS"), "residual SS");
    expect_relative(r.shape.total_ss, one(w, "Total.SS"), "total SS");
    ASSERT_EQ(r.asymmetry.size(), 58u);
    for (std::size_t i = 0; i < r.asymmetry.size(); ++i)
        expect_relative(r.asymmetry[i], one(w, "asymmetry." + std::to_string(i + 1)), "asymmetry " + std::to_string(i + 1));
}

// The model's pairwise comparisons on the full fits in space: the cells'
// least-squares means of sex x handedness, and the slopes on age by sex.
TEST(SpaceToolkit, ModelPairwiseComparisonsAgreeWithRrpp) {
    const auto want = expected("pairwise.csv");
    int compared = 0;
    for (const auto& [name, formula, pairwise] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"brains_cells", "G1 * G2", "G1:G2"}, {"brains_slopes", "cov * G1", "G1"}}) {
        SCOPED_TRACE(name);
        Loaded h({.landmarks = "brains.lm.txt",
                  .groups = name == "brains_cells" ? "brains.groups.txt" : "brains.sex.groups.txt",
                  .covariate = name == "brains_cells" ? "" : "brains.cov.txt",
                  .seed = 11,
                  .perms = "9999",
                  .dimensions = 3});
        h.shell.model_request().formula = formula;
        h.shell.model_request().pairwise = pairwise;
        ASSERT_EQ(h.run("RunModel"), Outcome::Reported) << h.last_message();
        const auto& models = h.shell.last_record().models;
        for (const auto& [key, value] : want.at(name)) {
            std::istringstream words(key);
            std::string statistic, a, b, part;
            words >> statistic >> a >> b >> part;
            if (!part.empty()) continue;  // Z and p, read with their statistic
            const auto m = std::find_if(models.begin(), models.end(), [&, factor = pairwise](const RecordedModel& r) {
                return r.name == factor + " " + a + " - " + b || r.name == factor + " " + b + " - " + a;
            });
            ASSERT_NE(m, models.end()) << key;
            ASSERT_NE(m->value(statistic), nullptr) << key;
            expect_relative(*m->value(statistic), value, key);
            expect_z(*m->value(statistic + "_Z"), one(want.at(name), key + " Z"), key + " Z");
            expect_p(*m->value(statistic + "_p"), one(want.at(name), key + " p"), key + " p");
            ++compared;
        }
    }
    EXPECT_EQ(compared, 6 + 3);
}

}  // namespace
}  // namespace quillan::test
