// The linear models against the numbers RRPP and geomorph give on the
// bundled data (tests/expected/models, written by make_expected.R there),
// the formulas they are read from, and what they refuse.
#include "analyses/linear_models/linear_model.hpp"
#include "analyses/linear_models/model_design.hpp"
#include "analyses/linear_models/model_formula.hpp"
#include "analyses/linear_models/model_pairwise.hpp"
#include "analyses/linear_models/model_shapes.hpp"
#include "figures/distributions.hpp"
#include "support/batch_runner.hpp"
#include "support/expected_values.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <sstream>

namespace quillan::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// One row of an expected table: the term and its numbers by column name.
struct ExpectedRow {
    std::string term;
    std::map<std::string, double> v;
};

// The tables of the models in the plane and of those in space.
std::map<std::string, std::vector<ExpectedRow>> expected_tables() {
    std::map<std::string, std::vector<ExpectedRow>> out;
    for (const char* file : {"models/rrpp_tables.csv", "models3d/rrpp_tables_3d.csv"}) {
        const auto csv = expected_csv(file);  // case, term, then numbers by name
        for (auto row = csv.begin() + 1; row != csv.end(); ++row) {
            ExpectedRow r{row->at(1), {}};
            for (std::size_t c = 2; c < row->size(); ++c)
                if ((*row)[c] != "NA") r.v[csv[0][c]] = std::stod((*row)[c]);
            out[row->at(0)].push_back(r);
        }
    }
    return out;
}

struct Case {
    std::string name, landmarks, groups, covariate, formula;
    SsType ss = SsType::I;
    Alignment alignment = Alignment::Full;
    std::string error{};
    int dimensions = 2;
};

const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        {"plethodon_species", "plethodon.lm.txt", "plethodon.species.groups.txt", "", "G1"},
        {"plethodon_crossed_I", "plethodon.lm.txt", "plethodon.groups.txt", "", "G1 * G2"},
        {"plethodon_crossed_III", "plethodon.lm.txt", "plethodon.groups.txt", "", "G1 * G2", SsType::III},
        {"pupfish_crossed_I", "pupfish.lm.txt", "pupfish.groups.txt", "", "G1 * G2"},
        {"pupfish_crossed_II", "pupfish.lm.txt", "pupfish.groups.txt", "", "G1 * G2", SsType::II},
        {"pupfish_crossed_III", "pupfish.lm.txt", "pupfish.groups.txt", "", "G1 * G2", SsType::III},
        {"plethodon_slopes_I", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt", "cov * G1"},
        {"plethodon_slopes_II", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt", "cov * G1", SsType::II},
        {"plethodon_slopes_III", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt", "cov * G1",
         SsType::III},
        {"larval_nested", "larvalHead.lm.txt", "larvalMorph.groups.txt", "", "G1 / G2", SsType::I, Alignment::Full,
         "G1:G2,Residuals"},
        {"plethodon_partial_crossed", "plethodon.lm.txt", "plethodon.groups.txt", "", "G1 * G2", SsType::I, Alignment::Partial},
        {"pupfish_partial_size", "pupfish.lm.txt", "pupfish.groups.txt", "pupfish.cov.txt", "cov + G1 * G2", SsType::II,
         Alignment::Partial},
        // In space: RRPP on the program's full fits, geomorph's gpagen end to end.
        {"macaques_sex", "macaques.lm.txt", "macaques.groups.txt", "", "G1", SsType::I, Alignment::Full, "", 3},
        {"brains_crossed_I", "brains.lm.txt", "brains.groups.txt", "", "G1 * G2", SsType::I, Alignment::Full, "", 3},
        {"brains_crossed_III", "brains.lm.txt", "brains.groups.txt", "", "G1 * G2", SsType::III, Alignment::Full, "", 3},
        {"macaques_partial_sex", "macaques.lm.txt", "macaques.groups.txt", "", "G1", SsType::I, Alignment::Partial, "", 3},
        {"brains_partial_crossed_II", "brains.lm.txt", "brains.groups.txt", "", "G1 * G2", SsType::II, Alignment::Partial, "", 3},
    };
    return all;
}

struct ModelRun : Loaded {
    ModelRun(const Case& c, const std::string& perms)
        : Loaded({.landmarks = c.landmarks,
                  .groups = c.groups,
                  .covariate = c.covariate,
                  .seed = 11,
                  .perms = perms,
                  .dimensions = c.dimensions}) {
        GivenOptions& q = shell.given_options();
        q["formula"] = c.formula;
        q["ss-type"] = c.ss == SsType::III ? "III" : c.ss == SsType::II ? "II" : "I";
        q["alignment"] = c.alignment == Alignment::Partial ? "partial" : "full";
        q["error"] = c.error;
        q["gpa-steps"] = "gpagen";  // the peers' numbers are those of their own steps
    }
};

double relative(double a, double b) { return std::fabs(a - b) / std::max(std::fabs(b), 1e-300); }

// Every deterministic number agrees with RRPP's (geomorph's for the partial
// superimposition) to 1e-8, in the plane and in space; Z and p, from 9,999
// permutations on each side, agree within their Monte-Carlo error.
TEST(LinearModel, AgreesWithRrppAndGeomorph) {
    const auto expected = expected_tables();
    ASSERT_EQ(expected.size(), cases().size());
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        ModelRun run(c, "9999");
        ASSERT_EQ(run.run("RunModel"), Outcome::Reported) << run.last_message();
        const ResultRecord& rec = run.shell.last_record();
        const auto& rows = expected.at(c.name);
        ASSERT_EQ(rec.models.size(), rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const RecordedModel& m = rec.models[i];
            EXPECT_EQ(m.name, rows[i].term);
            for (const auto& [key, ours] :
                 std::map<std::string, std::string>{{"Df", "df"}, {"SS", "ss"}, {"MS", "ms"}, {"Rsq", "rsq"}, {"F", "F"}}) {
                if (!rows[i].v.count(key)) continue;
                ASSERT_NE(m.value(ours), nullptr) << m.name << " " << ours;
                EXPECT_LT(relative(*m.value(ours), rows[i].v.at(key)), 1e-8) << m.name << " " << key;
            }
            if (!rows[i].v.count("Z")) continue;
            EXPECT_NEAR(*m.value("Z"), rows[i].v.at("Z"), 0.25 + 0.05 * std::fabs(rows[i].v.at("Z"))) << m.name;
            expect_p(*m.value("p"), rows[i].v.at("P"), m.name);
        }
    }
}

// RRPP's effect size: Box-Cox lambda fitted to the permuted values by
// maximum likelihood, then the observed value's standard deviate (the
// numbers are effect.size's on the same vectors).
TEST(LinearModel, EffectSizeIsRrpps) {
    std::vector<double> x{10};
    for (int i = 0; i < 199; ++i) x.push_back(1 + 4.0 * i / 198);
    EXPECT_NEAR(effect_size(x), 4.7027867594644155, 1e-6);
    std::vector<double> y{3};
    for (int i = 0; i < 299; ++i) y.push_back(std::exp(-1 + 2.0 * i / 298));
    EXPECT_NEAR(effect_size(y), 1.8820868044393997, 1e-6);
    EXPECT_EQ(effect_size({2, 2, 2, 2}), 0);
}

std::vector<std::string> labels(const std::string& text) {
    const ParsedFormula f = parse_formula(text);
    std::vector<std::string> out;
    for (std::size_t t = 0; t < f.terms.size(); ++t) out.push_back(f.label(t));
    return out;
}

TEST(LinearModel, FormulasExpandAsRDoes) {
    using V = std::vector<std::string>;
    EXPECT_EQ(labels("species * site"), (V{"species", "site", "species:site"}));
    EXPECT_EQ(labels("coords ~ species + site + species:site"), (V{"species", "site", "species:site"}));
    EXPECT_EQ(labels("pop / ind"), (V{"pop", "pop:ind"}));
    EXPECT_EQ(labels("log(cs) * G1"), (V{"log(cs)", "G1", "log(cs):G1"}));
    // Main effects first, then by order, each in order of appearance.
    EXPECT_EQ(labels("A + A:B + C"), (V{"A", "C", "A:B"}));
    EXPECT_EQ(labels("(A + B) * C"), (V{"A", "B", "C", "A:C", "B:C"}));
    EXPECT_EQ(labels("A*B*C"), (V{"A", "B", "C", "A:B", "A:C", "B:C", "A:B:C"}));
    EXPECT_EQ(labels("A + A + B:A"), (V{"A", "A:B"}));
}

std::string refusal(const std::function<void()>& f) {
    try {
        f();
    } catch (const Refused& e) {
        return e.what();
    }
    return "(not refused)";
}

TEST(LinearModel, FaultyFormulasAreRefusedWithTheirPlace) {
    EXPECT_THAT(refusal([] { parse_formula("species * (site"); }), HasSubstr("column 16"));
    EXPECT_THAT(refusal([] { parse_formula("species * (site"); }), HasSubstr("\")\" is missing"));
    EXPECT_THAT(refusal([] { parse_formula("species + * site"); }), HasSubstr("column 11"));
    EXPECT_THAT(refusal([] { parse_formula("species site"); }), HasSubstr("column 9"));
    EXPECT_THAT(refusal([] { parse_formula("coords ~ "); }), HasSubstr("names no terms"));
    EXPECT_THAT(refusal([] { parse_formula("log() + A"); }), HasSubstr("log( needs"));
    // Parentheses nested past the bound are refused, not followed down the stack.
    const std::string deep = std::string(30000, '(') + "species" + std::string(30000, ')');
    EXPECT_THAT(refusal([&] { parse_formula(deep); }), HasSubstr("nested more than 200 deep"));
    EXPECT_EQ(labels(std::string(150, '(') + "A" + std::string(150, ')')), std::vector<std::string>{"A"});
    // Twenty factors crossed are 2^20 - 1 terms: refused as the expansion passes the bound.
    std::string crossed = "f1";
    for (int i = 2; i <= 20; ++i) crossed += "*f" + std::to_string(i);
    EXPECT_THAT(refusal([&] { parse_formula(crossed); }), HasSubstr("more than 100000 terms"));
    EXPECT_THAT(refusal([&] { parse_formula(crossed, 38); }), HasSubstr("more than 38 terms, more than the specimens"));
    // Names in any script are names.
    EXPECT_EQ(labels("esp\u00e8ce * \u7a2e"), (std::vector<std::string>{"esp\u00e8ce", "\u7a2e", "esp\u00e8ce:\u7a2e"}));
}

ModelVariables toy_variables() {
    ModelVariables v{ModelVariable::factor_of_codes("A", {1, 1, 1, 2, 2, 2, 1, 2}),
                     ModelVariable::factor_of_codes("B", {1, 2, 1, 2, 1, 2, 1, 1}),
                     ModelVariable::factor_of_codes("C", {1, 1, 1, 1, 2, 2, 2, 2}),
                     ModelVariable::factor_of_codes("A2", {5, 5, 5, 7, 7, 7, 5, 7})};
    ModelVariable size;
    size.name = "size";
    size.values = {1, 2, 3, 4, 5, 6, 7, -1};
    v.push_back(size);
    return v;
}

TEST(LinearModel, DesignsThatCannotBeFittedAreRefused) {
    const ModelVariables v = toy_variables();
    EXPECT_THAT(refusal([&] { build_design("A + D", v, 8); }), HasSubstr("\"D\" (column 5) names nothing loaded"));
    EXPECT_THAT(refusal([&] { build_design("A + D", v, 8); }), HasSubstr("A, B, C, A2, size"));
    EXPECT_THAT(refusal([&] { build_design("log(A)", v, 8); }), HasSubstr("log() applies to a covariate"));
    EXPECT_THAT(refusal([&] { build_design("log(size)", v, 8); }), HasSubstr("specimen 8 has -1"));
    ModelVariables huge = v;
    huge.back().values[2] = 1e308;
    EXPECT_THAT(refusal([&] { build_design("size", huge, 8); }), HasSubstr("1e+308 at specimen 3, too large"));
    // A2 is A under other codes.
    EXPECT_THAT(refusal([&] { build_design("A + A2", v, 8); }), HasSubstr("\"A2\" is aliased"));
    EXPECT_THAT(refusal([&] { build_design("A * B * C", v, 8); }), HasSubstr("empty cell (A 2, B 1, C 1"));
    const ModelVariables four{ModelVariable::factor_of_codes("A", {1, 1, 2, 2}),
                              ModelVariable::factor_of_codes("B", {1, 2, 1, 2})};
    EXPECT_THAT(refusal([&] { build_design("A * B", four, 4); }), HasSubstr("4 parameters, but there are only 4 specimens"));
    const ModelVariables holes{ModelVariable::factor_of_codes("A", {1, 1, 2, 2, 1, 2}),
                               ModelVariable::factor_of_codes("B", {1, 2, 1, 1, 1, 1})};
    EXPECT_THAT(refusal([&] { build_design("A * B", holes, 6); }), HasSubstr("empty cell (A 2, B 2"));
    // Nested, the same codes are fine: the inner factor's empty combinations are left out.
    EXPECT_EQ(build_design("A / B", holes, 6).rank(), 3);
    EXPECT_EQ(build_design("A / B", holes, 6).dropped_columns, 1);
    // Seven factors interact in 4 * 10^7 columns (some 13 GB built), of which
    // 40 specimens fill 40: refused without building the rest.
    ModelVariables seven;
    std::string formula;
    for (int f = 0; f < 7; ++f) {
        std::vector<double> codes;
        for (int i = 0; i < 40; ++i) codes.push_back(f == 0 ? i % 10 : f == 1 ? i / 10 : (i * 7 + f) % 10);
        seven.push_back(ModelVariable::factor_of_codes("f" + std::to_string(f + 1), codes));
        formula += (f ? ":f" : "f") + std::to_string(f + 1);
    }
    EXPECT_THAT(refusal([&] { build_design(formula, seven, 40); }), HasSubstr("40 parameters, but there are only 40"));
}

// Whole-row randomization tests the same sums of squares as residuals do.
TEST(LinearModel, RowsMayBeShuffledInsteadOfResiduals) {
    ModelRun rows(Case{"crossed", "pupfish.lm.txt", "pupfish.groups.txt", "", "G1 * G2"}, "499");
    rows.shell.given_options()["permute"] = "rows";
    ASSERT_EQ(rows.run("RunModel"), Outcome::Reported) << rows.last_message();
    const std::string text = report_of(rows);
    EXPECT_THAT(text, HasSubstr("full randomization of rows"));
    EXPECT_THAT(text, HasSubstr("0.0157426"));  // the SS of G1, as with residuals
}

ModelDesign design_of(const Workspace& ws, const std::string& formula, int n) {
    ModelVariables variables;
    for (Eigen::Index g = 0; g < ws.groups.cols(); ++g)
        variables.push_back(ModelVariable::factor_of_codes(
            "G" + std::to_string(g + 1), std::vector<double>(ws.groups.col(g).begin(), ws.groups.col(g).end())));
    if (ws.covariate.size() > 0)
        variables.push_back({"cov", {}, {}, std::vector<double>(ws.covariate.col(0).begin(), ws.covariate.col(0).end())});
    return build_design(formula, variables, n);
}

// A permutation's sums of squares come from products of the bases with the
// moved residuals, from n x n forms, or from the sums of the moved residuals
// over the design's cells: all give every permutation the same F to rounding,
// and so the same table, whatever the design (unbalanced cells, a nested
// factor's empty combinations, covariates with factors), the sums of squares,
// the error terms and the randomization.
TEST(LinearModel, EveryWayOfSummingGivesEveryPermutationTheSameF) {
    struct Design {
        Case c;
        Randomization randomization;
        std::vector<int> error;
    };
    const std::vector<Design> designs = {
        {Case{"", "pupfish.lm.txt", "pupfish.groups.txt", "", "G1 * G2"}, Randomization::Residuals, {}},
        {Case{"", "pupfish.lm.txt", "pupfish.groups.txt", "", "G1 * G2", SsType::II}, Randomization::Residuals, {}},
        {Case{"", "pupfish.lm.txt", "pupfish.groups.txt", "", "G1 * G2", SsType::III}, Randomization::Rows, {}},
        {Case{"", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt", "cov * G1", SsType::III},
         Randomization::Rows,
         {}},
        {Case{"", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt", "log(cov) * G1"},
         Randomization::Residuals,
         {}},
        {Case{"", "pupfish.lm.txt", "pupfish.groups.txt", "pupfish.cov.txt", "cov + G1 * G2", SsType::II},
         Randomization::Residuals,
         {}},
        {Case{"", "larvalHead.lm.txt", "larvalMorph.groups.txt", "", "G1 / G2"}, Randomization::Residuals, {1, -1}},
        {Case{"", "larvalHead.lm.txt", "larvalMorph.groups.txt", "larvalHead.cov.txt", "cov + G1 + G1:G2", SsType::III},
         Randomization::Residuals,
         {2, -1, -1}},
    };
    using Sums = ModelTestOptions::Sums;
    for (const auto& [c, randomization, error] : designs) {
        SCOPED_TRACE(c.formula);
        ModelRun run(c, "9");
        const Workspace& ws = run.shell.workspace();
        const Eigen::MatrixXd shapes = tangent_shapes(ws.landmarks, Alignment::Full);
        const ModelDesign design = design_of(ws, c.formula, static_cast<int>(shapes.rows()));
        std::vector<std::vector<double>> f;
        std::vector<ModelTable> tables;
        for (auto sums : {Sums::Products, Sums::Forms, Sums::Cells}) {
            DistributionLog log;
            log.start("RunModel");
            tables.push_back(
                test_linear_model(Seeded(5, 1, &log), shapes, design,
                                  {.ss_type = c.ss, .randomization = randomization, .error = error, .nperm = 300, .sums = sums}));
            f.emplace_back();
            for (const auto& d : log.distributions()) f.back().insert(f.back().end(), d.values.begin(), d.values.end());
        }
        ASSERT_EQ(f[0].size(), tables[0].terms.size() * 300u);
        for (std::size_t way = 1; way < f.size(); ++way) {
            SCOPED_TRACE(way);
            ASSERT_EQ(f[way].size(), f[0].size());
            for (std::size_t i = 0; i < f[0].size(); ++i) EXPECT_LT(relative(f[way][i], f[0][i]), 1e-11) << i;
            for (std::size_t t = 0; t < tables[0].terms.size(); ++t) {
                const ModelTermRow &a = tables[0].terms[t], &b = tables[way].terms[t];
                EXPECT_EQ(b.ss, a.ss);
                EXPECT_EQ(b.f, a.f);
                EXPECT_EQ(b.count_ge, a.count_ge);
                // Z's Box-Cox exponent is fitted to the permuted F by an
                // optimiser, whose stopping point moves by more than F's
                // rounding: to about 1e-10.
                EXPECT_LT(std::fabs(b.z - a.z), 1e-9 * std::max(1.0, std::fabs(a.z)));
            }
        }
    }
}

// The pairwise comparisons' group rows come from products of the moved
// residuals with the group operator, or from their products with the design
// or sums over its cells, their own or those the model's table made of the
// same permutation: the same distances, lengths and angles on every
// permutation, for least-squares means, slopes and plain means.
TEST(LinearModel, PairwiseComparisonsAreTheSameByCellSums) {
    struct Compared {
        Case c;
        const char* groups;
        PairwiseMeans means;
    };
    const std::vector<Compared> designs = {
        {Case{"", "pupfish.lm.txt", "pupfish.groups.txt", "", "G1 * G2", SsType::II}, "G1:G2", PairwiseMeans::LeastSquares},
        {Case{"", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt", "cov * G1"}, "G1",
         PairwiseMeans::LeastSquares},
        {Case{"", "larvalHead.lm.txt", "larvalMorph.groups.txt", "larvalHead.cov.txt", "cov + G1 / G2"}, "G1",
         PairwiseMeans::Plain},
    };
    for (const auto& [c, groups, means] : designs) {
        SCOPED_TRACE(c.formula);
        ModelRun run(c, "9");
        const Workspace& ws = run.shell.workspace();
        const Eigen::MatrixXd shapes = tangent_shapes(ws.landmarks, Alignment::Full);
        const ModelDesign design = design_of(ws, c.formula, static_cast<int>(shapes.rows()));
        std::vector<PairwiseResult> results;
        for (auto sums : {ModelTestOptions::Sums::Products, ModelTestOptions::Sums::Cells})
            results.push_back(compare_groups(Seeded(3, 1), shapes, design, c.ss, groups, means, 200, 0, sums));
        const PairwiseComparisons riding(shapes, design, c.ss, groups, means);
        ModelTestOptions test;
        test.ss_type = c.ss;
        test.nperm = 200;
        test.sums = ModelTestOptions::Sums::Cells;
        results.push_back(riding.result(test_linear_model(Seeded(3, 1), shapes, design, test, 0, &riding).companion, 200));
        ASSERT_FALSE(results[0].pairs.empty());
        for (std::size_t k = 1; k < results.size(); ++k) {
            ASSERT_EQ(results[0].pairs.size(), results[k].pairs.size());
            for (std::size_t i = 0; i < results[0].pairs.size(); ++i) {
                const GroupPair &a = results[0].pairs[i], &b = results[k].pairs[i];
                for (auto [x, y] : {std::pair{a.distance, b.distance}, {a.length, b.length}, {a.angle, b.angle}}) {
                    EXPECT_EQ(y.observed, x.observed);
                    EXPECT_EQ(y.count_ge, x.count_ge) << k << ": " << a.first << " " << a.second;
                    EXPECT_LT(std::fabs(y.z - x.z), 1e-9 * std::max(1.0, std::fabs(x.z))) << k << ": " << a.first;
                }
            }
        }
    }
}

// A permuted distance equal to the observed one counts as reaching it.  Two
// pairs of specimens in whole numbers make every sum exact: the third of
// the permutations that keep the pairs together give exactly the observed
// distance (the largest), the others less, so p is near 1/3, whichever way
// the comparisons are made, and near 1/301 if ties counted as smaller.
TEST(LinearModel, PairwisePermutationsThatTieTheObservedReachIt) {
    Eigen::MatrixXd shapes(4, 2);
    shapes << 0, 0, 0, 1, 4, 0, 4, 1;
    const ModelDesign design = build_design("G1", {ModelVariable::factor_of_codes("G1", {1, 1, 2, 2})}, 4);
    std::vector<PairwiseResult> results;
    for (auto sums : {ModelTestOptions::Sums::Products, ModelTestOptions::Sums::Cells})
        results.push_back(compare_groups(Seeded(3), shapes, design, SsType::I, "G1", PairwiseMeans::LeastSquares, 300, 0, sums));
    const PairwiseComparisons riding(shapes, design, SsType::I, "G1", PairwiseMeans::LeastSquares);
    ModelTestOptions test;
    test.nperm = 300;
    results.push_back(riding.result(test_linear_model(Seeded(3), shapes, design, test, 0, &riding).companion, 300));
    for (const PairwiseResult& r : results) {
        ASSERT_EQ(r.pairs.size(), 1u);
        EXPECT_EQ(r.pairs[0].distance.observed, 4);
        EXPECT_GT(r.pairs[0].distance.p, 0.25);
        EXPECT_LT(r.pairs[0].distance.p, 0.42);
    }
}

// Beyond the effect size's sample of permutations, Z comes from the first
// of them (memory stays flat) and still agrees with RRPP's.
TEST(LinearModel, LongRunsTakeZFromASampleOfTheirPermutations) {
    const Case c{"one factor", "plethodon.lm.txt", "plethodon.species.groups.txt", "", "G1"};
    ModelRun run(c, std::to_string(EffectSample::kSample + 500));
    ASSERT_EQ(run.run("RunModel"), Outcome::Reported) << run.last_message();
    const RecordedModel& m = run.shell.last_record().models.front();
    const auto tables = expected_tables();
    const auto& rrpp = tables.at("plethodon_species").front().v;
    EXPECT_NEAR(*m.value("Z"), rrpp.at("Z"), 0.25);
    EXPECT_LT(*m.value("p"), 0.001);
}

// From the command line: the table, its numbers in JSON, and a faulty formula
// or error list refused (status 2) with nothing written.
TEST(LinearModel, BatchActionWritesItsTableAndRefusesFaultyFormulas) {
    TempDir dir;
    const std::string lm = data_file("plethodon.lm.txt"), groups = data_file("plethodon.groups.txt");
    const std::string json = dir.file("model.json");
    auto ok = run_batch({"model", "-l", lm, "-g", groups, "--formula", "G1 * G2", "--ss-type", "III", "--perm", "99", "--seed",
                         "3", "--json", json});
    ASSERT_EQ(ok.status, 0) << ok.err;
    EXPECT_THAT(ok.out, HasSubstr("type III"));
    EXPECT_THAT(ok.out, HasSubstr("G1:G2"));
    EXPECT_THAT(ok.out, HasSubstr("Residuals   36"));
    EXPECT_THAT(read_bytes(json), HasSubstr("\"Z\""));
    // Refusals: what is refused, with its status and a phrase of its message.
    struct Refusal {
        std::vector<std::string> args;
        int status;
        std::string phrase;
    };
    const std::string cov = data_file("plethodon.cov.txt"), bad = dir.file("bad.json");
    const Refusal refusals[] = {
        {{"--formula", "G1 * site", "--json", bad}, 2, "\"site\" (column 6) names nothing loaded; the names known are: G1, G2."},
        {{"--formula", "G1 / G2", "--error", "G2,Residuals"},
         2,
         "\"G2\" (for \"G1\") is no term of the model; the names known are: Residuals, G1, G1:G2"},
        {{"--ss-type", "IV"}, 64, ""},
        {{"-c", cov, "--formula", "cov * G1", "--pairwise", "cov", "--perm", "9"},
         2,
         "\"cov\", must be a factor of the model (or factors joined by \":\"); the model's factors are: G1."},
        {{"--formula", "G1 * G2", "--pairwise", "G1:G2:G1", "--perm", "9"}, 2, "name \"G1\" twice"},
        {{"--pairwise-means", "plain"}, 64, "give --pairwise FACTOR too"},
    };
    for (const Refusal& r : refusals) {
        std::vector<std::string> args{"model", "-l", lm, "-g", groups};
        args.insert(args.end(), r.args.begin(), r.args.end());
        const auto got = run_batch(args);
        EXPECT_EQ(got.status, r.status) << r.phrase;
        EXPECT_THAT(got.err, HasSubstr(r.phrase));
    }
    EXPECT_FALSE(std::filesystem::exists(bad));
    auto elsewhere = run_batch({"two-way", "-l", lm, "-g", groups, "--formula", "G1"});
    EXPECT_EQ(elsewhere.status, 64);
    EXPECT_THAT(elsewhere.err, HasSubstr("quillan-batch: --formula belongs to the actions model and disparity, not to two-way"));
    // Under type II the main factor of a nested design adds nothing to its
    // reduced model; RRPP leaves it out of the table, and so does the report, saying so.
    auto nested = run_batch({"model", "-l", lm, "-g", groups, "--formula", "G1 / G2", "--ss-type", "II", "--perm", "9"});
    EXPECT_EQ(nested.status, 0) << nested.err;
    EXPECT_THAT(nested.out, HasSubstr("G1 adds nothing to its reduced model under type II"));
    EXPECT_THAT(nested.out, Not(HasSubstr("\nG1   ")));
}

// A number as wide as its column or wider keeps a blank before it: two
// groups of one shape each, barely scattered, give an F of many digits.
TEST(LinearModel, TableColumnsStayApartWhateverTheirWidth) {
    TempDir dir;
    std::string lm, groups;
    for (int i = 0; i < 8; ++i) {
        char line[128];
        const double e = 1e-7 * ((i * 5) % 7), d = i < 4 ? 0.0 : 0.3;
        std::snprintf(line, sizeof line, "0 0 1 %.9f %.9f 1 %.9f 0.5 1\n", e, 0.5 + d, e);
        lm += line;
        groups += i < 4 ? "1\n" : "2\n";
    }
    const auto r = run_batch({"model", "-l", dir.write("lm.txt", lm), "-g", dir.write("g.txt", groups), "--perm", "9"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::size_t row = r.out.find("\nG1 ");
    ASSERT_NE(row, std::string::npos) << r.out;
    std::istringstream fields(r.out.substr(row + 1, r.out.find('\n', row + 1) - row - 1));
    std::vector<std::string> cells{std::istream_iterator<std::string>(fields), {}};
    ASSERT_EQ(cells.size(), 8u) << r.out;  // G1, Df, SS, MS, Rsq, F, Z, Pr(>F)
    EXPECT_GE(cells[5].size(), 10u) << "an F as wide as its column: " << cells[5];
}

// The pairwise comparisons after a model: distances between the cells'
// least-squares means, the slopes' distances, differences of length and
// angles, and distances between plain means beside a covariate, to 1e-8 of
// RRPP's pairwise(); Z and p within Monte-Carlo error.
TEST(LinearModel, PairwiseComparisonsAgreeWithRrpp) {
    std::vector<std::vector<std::string>> rows;
    for (const char* file : {"models/rrpp_pairwise.csv", "models/rrpp_pairwise_plain.csv"}) {
        const auto csv = expected_csv(file);
        rows.insert(rows.end(), csv.begin() + 1, csv.end());  // each file's column names left out
    }
    std::map<std::string, std::unique_ptr<ModelRun>> runs;
    runs["pupfish_cells"] = std::make_unique<ModelRun>(Case{"", "pupfish.lm.txt", "pupfish.groups.txt", "", "G1 * G2"}, "9999");
    runs["pupfish_cells"]->shell.given_options()["pairwise"] = "G1:G2";
    runs["plethodon_slopes"] = std::make_unique<ModelRun>(
        Case{"", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt", "cov * G1"}, "9999");
    runs["plethodon_slopes"]->shell.given_options()["pairwise"] = "G1";
    runs["larval_plain"] = std::make_unique<ModelRun>(
        Case{"", "larvalHead.lm.txt", "larvalMorph.treatment.groups.txt", "larvalHead.cov.txt", "cov + G1"}, "9999");
    runs["larval_plain"]->shell.given_options()["pairwise"] = "G1";
    runs["larval_plain"]->shell.given_options()["pairwise-means"] = "plain";
    for (auto& [name, run] : runs) ASSERT_EQ(run->run("RunModel"), Outcome::Reported) << name << ": " << run->last_message();
    int compared = 0;
    for (const auto& c : rows) {
        const std::string row = ::testing::PrintToString(c);
        ASSERT_EQ(c.size(), 7u) << row;
        const ResultRecord& rec = runs.at(c[0])->shell.last_record();
        const std::string factor = c[0] == "pupfish_cells" ? "G1:G2 " : "G1 ";
        const RecordedModel* m = nullptr;
        for (const auto& model : rec.models)
            if (model.name == factor + c[1] + " - " + c[2] || model.name == factor + c[2] + " - " + c[1]) m = &model;
        ASSERT_NE(m, nullptr) << row;
        ASSERT_NE(m->value(c[3]), nullptr) << row;
        EXPECT_LT(relative(*m->value(c[3]), std::stod(c[4])), 1e-8) << row;
        const double z = std::stod(c[5]), p = std::stod(c[6]);
        EXPECT_NEAR(*m->value(c[3] + "_Z"), z, 0.25 + 0.05 * std::fabs(z)) << row;
        expect_p(*m->value(c[3] + "_p"), p, row);
        ++compared;
    }
    EXPECT_EQ(compared, 9 + 15);
    EXPECT_THAT(report_of(*runs.at("larval_plain")), HasSubstr("Pairwise distances between the plain means of G1"));
}

// The regression scores of shape on a model's covariate are those of RRPP's
// and geomorph's regression plots ("RegScore"), with either superimposition
// and with log() of the covariate; a model without a covariate has none.
TEST(LinearModel, RegressionScoresAgreeWithRrpp) {
    const auto csv = expected_csv("models/rrpp_regscore.csv");
    std::map<std::string, std::vector<std::pair<double, double>>> expected;
    for (auto c = csv.begin() + 1; c != csv.end(); ++c) {
        ASSERT_EQ(c->size(), 4u) << c->at(0);
        expected[(*c)[0]].emplace_back(std::stod((*c)[2]), std::stod((*c)[3]));
    }
    const std::map<std::string, std::pair<Case, std::string>> runs = {
        {"plethodon_slopes",
         {Case{"", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt", "cov * G1"}, "cov"}},
        {"larval_size",
         {Case{"", "larvalHead.lm.txt", "larvalMorph.treatment.groups.txt", "larvalHead.cov.txt", "cov + G1"}, "cov"}},
        {"pupfish_partial_logsize",
         {Case{"", "pupfish.lm.txt", "pupfish.groups.txt", "pupfish.cov.txt", "log(cov) + G1 * G2", SsType::I,
               Alignment::Partial},
          "log(cov)"}},
    };
    ASSERT_EQ(expected.size(), runs.size());
    for (const auto& [name, what] : runs) {
        SCOPED_TRACE(name);
        ModelRun run(what.first, "9");
        DistributionLog log;
        log.start("RunModel");
        run.shell.options().recorder = &log;
        ASSERT_EQ(run.run("RunModel"), Outcome::Reported) << run.last_message();
        ASSERT_TRUE(log.regression_scores().has_value());
        const RegressionScores& r = *log.regression_scores();
        EXPECT_EQ(r.covariate, what.second);
        EXPECT_EQ(r.factor, "G1");
        const auto& want = expected.at(name);
        ASSERT_EQ(r.score.size(), want.size());
        double largest = 0;
        for (const auto& [x, score] : want) largest = std::max(largest, std::fabs(score));
        for (std::size_t i = 0; i < want.size(); ++i) {
            EXPECT_LT(relative(r.x[i], want[i].first), 1e-12) << i;
            EXPECT_NEAR(r.score[i], want[i].second, 1e-8 * largest) << i;
        }
    }
    ModelRun plain(Case{"", "plethodon.lm.txt", "plethodon.groups.txt", "", "G1 * G2"}, "9");
    DistributionLog log;
    log.start("RunModel");
    log.keep_regression_scores(RegressionScores{"left over", {1}, {1}, "", {}, {}});
    plain.shell.options().recorder = &log;
    log.start("RunModel");
    ASSERT_EQ(plain.run("RunModel"), Outcome::Reported) << plain.last_message();
    EXPECT_FALSE(log.regression_scores().has_value());
}

// An import's columns are terms by their headers, log() of a covariate
// included, and give the numbers the group and covariate files give.
TEST(LinearModel, ImportedColumnsAreTermsByName) {
    Harness imported;
    imported.shell.import_options() = io::choose_columns({"species", "site"});
    ASSERT_EQ(imported.load("Import", data_file("plethodon.csv")), Outcome::Done) << imported.last_message();
    imported.shell.options().seed = 5;
    imported.set_box(kPermBox, Value("99"));
    imported.shell.given_options()["formula"] = "logCS + species * site";
    ASSERT_EQ(imported.run("RunModel"), Outcome::Reported) << imported.last_message();
    ModelRun files(Case{"", "plethodon.lm.txt", "plethodon.groups.txt", "plethodon.cov.txt", "cov + G1 * G2"}, "99");
    files.shell.given_options()["gpa-steps"] = "converged";
    ASSERT_EQ(files.run("RunModel"), Outcome::Reported) << files.last_message();
    const auto& a = imported.shell.last_record().models;
    const auto& b = files.shell.last_record().models;
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(a[3].name, "species:site");
    for (std::size_t i = 0; i < a.size(); ++i) EXPECT_LT(relative(*a[i].value("ss"), *b[i].value("ss")), 1e-12) << a[i].name;
    // log(logCS) is a covariate too (every value is above 0).
    imported.shell.given_options()["formula"] = "log(logCS) + species";
    EXPECT_EQ(imported.run("RunModel"), Outcome::Reported) << imported.last_message();
    imported.shell.given_options()["formula"] = "log(species)";
    EXPECT_EQ(imported.run("RunModel"), Outcome::Refused);
    EXPECT_THAT(imported.last_message(), HasSubstr("is a factor; log() applies to a covariate only"));
}

// Without a formula the model is of the loaded groups; a refused model
// leaves the report and the workspace as they were.
TEST(LinearModel, DefaultsToTheGroupsAndChangesNothingWhenRefused) {
    ModelRun two(Case{"", "plethodon.lm.txt", "plethodon.groups.txt", "", ""}, "19");
    ASSERT_EQ(two.run("RunModel"), Outcome::Reported) << two.last_message();
    EXPECT_THAT(report_of(two), HasSubstr("Procrustes linear model of shape: G1 * G2"));
    ModelRun one(Case{"", "plethodon.lm.txt", "plethodon.species.groups.txt", "", ""}, "19");
    ASSERT_EQ(one.run("RunModel"), Outcome::Reported) << one.last_message();
    EXPECT_THAT(report_of(one), HasSubstr("shape: G1\n"));

    const Matrix before = two.shell.workspace().landmarks;
    two.set_box(kResultsBox, Value("kept"));
    for (const char* formula : {"G1 +", "G1 * G3", "G1 : : G2"}) {
        two.shell.given_options()["formula"] = formula;
        EXPECT_EQ(two.run("RunModel"), Outcome::Refused) << formula;
        EXPECT_EQ(two.box(kResultsBox), "kept") << formula;
    }
    two.shell.given_options()["formula"] = "G1 * G2";
    two.shell.given_options()["error"] = "Residuals";
    EXPECT_EQ(two.run("RunModel"), Outcome::Refused);
    EXPECT_THAT(two.last_message(), HasSubstr("name 1 denominators, but the model has 3 terms"));
    EXPECT_EQ(two.box(kResultsBox), "kept");
    EXPECT_TRUE(two.shell.workspace().landmarks.isApprox(before));
}

// The histograms of a model are titled by its terms and its comparisons,
// which only the run knows.
TEST(LinearModel, PermutationDistributionsAreNamedByTermAndPair) {
    ModelRun run(Case{"", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt", "cov * G1"}, "49");
    run.shell.given_options()["pairwise"] = "G1";
    DistributionLog log;
    log.start("RunModel");
    run.shell.options().recorder = &log;
    ASSERT_EQ(run.run("RunModel"), Outcome::Reported) << run.last_message();
    std::vector<std::string> names;
    for (const auto& d : log.distributions()) names.push_back(d.name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"Linear model: F ratio of cov", "Linear model: F ratio of G1",
                                        "Linear model: F ratio of cov:G1", "Slopes of 1 and 2: distance",
                                        "Slopes of 1 and 2: difference of lengths", "Slopes of 1 and 2: angle (degrees)"}));
    // Their p-values, as the pictures tell them, are the table's: the observed
    // value counted among the permutations.
    const ResultRecord& rec = run.shell.last_record();
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(log.distributions()[i].rule, PValueRule::ReachedWithObserved);
        EXPECT_DOUBLE_EQ(log.distributions()[i].p_value(), *rec.models[i].value("p")) << rec.models[i].name;
    }
}

}  // namespace
}  // namespace quillan::test

namespace quillan::test {
namespace {

// The specimens of a file, one a block: a line each, or a TPS file's blocks
// from one "LM" line to the next.
std::vector<std::string> specimen_blocks(const std::string& text) {
    std::vector<std::string> blocks;
    for (std::size_t from = 0; from < text.size();) {
        std::size_t end = text.find('\n', from) + 1;
        if (text.compare(from, 2, "LM") == 0)
            while (end < text.size() && text.compare(end, 2, "LM") != 0) end = text.find('\n', end) + 1;
        blocks.push_back(text.substr(from, end - from));
        from = end;
    }
    return blocks;
}

// Every number of a run's record but those of its permutations (Z and p move
// with the random draws, which follow the rows).  Imported levels are
// numbered in order of appearance, so a pair "A - B" of one order may be
// "B - A" of another: pairs are named in sorted order, their differences
// by size.
std::map<std::string, double> deterministic_numbers(const std::string& json) {
    std::map<std::string, double> out;
    const auto j = nlohmann::json::parse(json);
    for (const auto& m : j["models"]) {
        std::string name = m["name"].get<std::string>();
        const std::size_t dash = name.find(" - "), first = name.find(' ') + 1;
        if (dash != std::string::npos && name.substr(dash + 3) < name.substr(first, dash - first))
            name = name.substr(0, first) + name.substr(dash + 3) + " - " + name.substr(first, dash - first);
        for (const auto& [key, v] : m["values"].items())
            if (v.is_number() && key != "p" && !key.ends_with("_p") && key.find('Z') == std::string::npos)
                out[name + " " + key] = dash == std::string::npos ? v.get<double>() : std::fabs(v.get<double>());
    }
    return out;
}

double worst_difference(const std::map<std::string, double>& a, const std::map<std::string, double>& b) {
    EXPECT_EQ(a.size(), b.size());
    double worst = 0;
    for (const auto& [key, v] : a) worst = std::max(worst, relative(b.at(key), v));
    return worst;
}

}  // namespace

// The rows in another order give the same numbers: the superimposition (full
// and partial, in the plane and in space, with gaps estimated and curves slid
// on the way in) is iterated to its optimum, where only the specimens count.
// By gpagen's steps the numbers move in the fifth digit, as geomorph's do;
// the optimum lies within the tolerance those steps stop at.
TEST(LinearModel, EveryDeterministicNumberIsTheSameWhateverTheOrderOfTheSpecimens) {
    TempDir dir;
    std::string table = "ID,species\n";
    std::istringstream species(read_bytes(data_file("plethodon.species.groups.txt")));
    for (int i = 1, code = 0; species >> code; ++i)
        table += "P" + std::string(i < 10 ? "0" : "") + std::to_string(i) + (code == 1 ? ",Jord\n" : ",Teyah\n");
    const std::string factors = dir.write("factors.csv", table);
    struct Set {
        std::vector<std::string> files;  // shuffled alike
        std::vector<std::string> args;   // "@" is each file's place, in order
    };
    const std::vector<Set> sets = {
        {{"plethodon.lm.txt", "plethodon.groups.txt"}, {"-l", "@", "-g", "@"}},
        {{"brains.lm.txt", "brains.groups.txt"}, {"-l", "@", "-d", "3", "-g", "@"}},
        {{"plethodon_curves.tps"},
         {"-i", "@", "--semilandmarks", "--estimate-missing", "tps", "--negative-missing", "--factors", factors, "--factor",
          "species"}},
    };
    std::mt19937 rng(5);
    for (const Set& set : sets) {
        std::vector<std::size_t> order(specimen_blocks(read_bytes(data_file(set.files[0]))).size());
        std::iota(order.begin(), order.end(), 0);
        std::shuffle(order.begin(), order.end(), rng);
        std::vector<std::string> given, shuffled;
        for (const std::string& f : set.files) {
            const auto blocks = specimen_blocks(read_bytes(data_file(f)));
            std::string text;
            for (std::size_t i : order) text += blocks.at(i);
            given.push_back(data_file(f));
            shuffled.push_back(dir.write("shuffled-" + f, text));
        }
        for (const auto& [action, alignment] : {std::pair{"model", "full"}, {"model", "partial"}, {"disparity", "partial"}}) {
            SCOPED_TRACE(set.files[0] + " " + action + " " + alignment);
            std::map<std::string, std::map<std::string, double>> numbers;
            for (const std::string steps : {"converged", "gpagen"})
                for (const auto* files : {&given, &shuffled}) {
                    std::vector<std::string> args = {action,        "-p",  "9",      "--alignment",     alignment,
                                                     "--gpa-steps", steps, "--json", dir.file("r.json")};
                    for (std::size_t a = 0, f = 0; a < set.args.size(); ++a)
                        args.push_back(set.args[a] == "@" ? (*files)[f++] : set.args[a]);
                    const BatchResult r = run_batch(args);
                    ASSERT_EQ(r.status, 0) << r.err;
                    EXPECT_THAT(r.out, HasSubstr(steps == "converged" ? "iterated to its optimum" : "steps ("));
                    EXPECT_THAT(read_bytes(dir.file("r.json")), HasSubstr("\"gpa_steps\": \"" + steps + "\""));
                    numbers[steps + (files == &given ? "" : " shuffled")] = deterministic_numbers(read_bytes(dir.file("r.json")));
                }
            ASSERT_GT(numbers["converged"].size(), 3u);
            EXPECT_LT(worst_difference(numbers["converged"], numbers["converged shuffled"]), 1e-10);
            EXPECT_LT(worst_difference(numbers["converged"], numbers["gpagen"]), 1e-3);
            if (std::string(alignment) == "partial") {
                EXPECT_GT(worst_difference(numbers["gpagen"], numbers["gpagen shuffled"]), 1e-9);
            }
        }
    }
}

}  // namespace quillan::test
