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
#include "support/expected_values.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

namespace quillan::test {
namespace {

std::map<std::string, Values> expected(const std::string& file) { return expected_values("toolkit3d/" + file); }

Eigen::MatrixXd shapes_of(const std::string& set) {
    return tangent_shapes(load_data(set + ".lm.txt"), Alignment::Partial, 3, GpaSteps::Gpagen);
}

TEST(SpaceToolkit, OutliersAgreeWithGeomorph) {
    const auto want = expected("outliers.csv");
    for (const auto& [name, set, groups] :
         std::vector<std::tuple<std::string, std::string, std::string>>{{"macaques", "macaques", ""},
                                                                        {"macaques_sex", "macaques", "macaques.groups.txt"},
                                                                        {"brains", "brains", ""},
                                                                        {"brains_sex", "brains", "brains.sex.groups.txt"}}) {
        SCOPED_TRACE(name);
        expect_outliers(find_outliers(shapes_of(set), groups.empty() ? std::vector<int>{} : codes_of(groups)), want.at(name));
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
        expect_disparity(disparity_test(Seeded(11), squared_residuals(shapes, x), codes_of(groups), 9999), w);
    }
}

// 18 macaques of 7 landmarks: the 14 principal components that vary (3k - 7).
TEST(SpaceToolkit, CanonicalVariatesAgreeWithMassLda) {
    const auto want = expected("cva.csv");
    const Values& w = want.at("macaques_sex");
    const CvaResult r = canonical_variates(Seeded(5), shapes_of("macaques"), codes_of("macaques.groups.txt"),
                                           {.nperm = 9999, .cross_validate = true});
    expect_cva(r, w);
    ASSERT_EQ(r.eigenvalues.size(), 1);
    ASSERT_EQ(r.pairs.size(), 1u);
    EXPECT_EQ(one(w, "refitted"), 15);  // lda's leave-one-out gave NaN there: refitted without it
}

TEST(SpaceToolkit, IntegrationAndModularityAgreeWithGeomorph) {
    const auto pls = expected("pls.csv"), cr = expected("modularity.csv");
    const Eigen::MatrixXd brains = shapes_of("brains");
    Seeded engine(3);
    for (const std::string name : {"brains_hemispheres", "brains_levels"}) {
        SCOPED_TRACE(name);
        const std::vector<int> modules =
            partition_of(std::string(QUILLAN_EXPECTED_DIR) + "/toolkit3d/" +
                         (name == "brains_hemispheres" ? "brains.hemispheres.txt" : "brains.levels.txt"));
        expect_integration(integration_test(engine, brains, modules, 3, 9999), pls.at(name));
        // modularity.test turns the landmarks about z by default; "_aligned" takes them as gpagen leaves them.
        for (const bool rotate : {true, false}) {
            const auto it = cr.find(rotate ? name : name + "_aligned");
            if (it == cr.end()) continue;
            SCOPED_TRACE(it->first);
            expect_modularity(modularity_test(engine, brains, modules, 3, {.nperm = 9999, .rotation_search = rotate}),
                              it->second);
        }
    }
    const Matrix age = load_data("brains.cov.txt"), groups = load_data("brains.groups.txt");
    for (const std::string name : {"brains_age", "brains_age_hand"}) {
        SCOPED_TRACE(name);
        Eigen::MatrixXd table(age.rows(), name == "brains_age" ? 1 : 2);
        table.col(0) = age.col(0);
        if (table.cols() == 2) table.col(1) = groups.col(1);
        expect_pls(two_block_pls(engine, brains, table, 9999), pls.at(name));
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
    Seeded engine(7);
    const SymmetryResult r = symmetry_test(engine, brains, 3, d, Alignment::Partial, 99, GpaSteps::Gpagen);
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
        h.shell.given_options()["formula"] = formula;
        h.shell.given_options()["pairwise"] = pairwise;
        h.shell.given_options()["gpa-steps"] = "gpagen";
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
