// Bilateral symmetry against geomorph's bilat.symmetry on its mosquito
// (matching, with replicates) and lizards (object) sets, written with the
// numbers by tests/expected/symmetry/make_expected.R; a symmetric
// individual's asymmetry is 0; designs the analysis cannot test are refused.
#include "analyses/toolkit/symmetry.hpp"
#include "platform/error.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

namespace quillan::test {
namespace {

std::string expected_file(const std::string& name) { return std::string(QUILLAN_EXPECTED_DIR) + "/symmetry/" + name; }

std::vector<std::vector<std::string>> csv_rows(const std::string& name) {
    std::ifstream in(expected_file(name));
    std::vector<std::vector<std::string>> rows;
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
        std::stringstream cells(line);
        rows.emplace_back();
        for (std::string c; std::getline(cells, c, ',');) rows.back().push_back(c);
    }
    EXPECT_FALSE(rows.empty()) << name;
    return rows;
}

// A table of ID, `factors` factor columns, then x1, y1, ...: the landmarks
// (with the trailing column of a landmark table) and each factor's codes
// in order of first appearance.
struct Specimens {
    Matrix landmarks;
    std::vector<std::vector<int>> factors;
    std::vector<int> levels;
};

Specimens read_specimens(const std::string& name, int factors) {
    const auto rows = csv_rows(name);
    Specimens s;
    const auto n = static_cast<Eigen::Index>(rows.size());
    const auto coords = static_cast<Eigen::Index>(rows[0].size()) - 1 - factors;
    s.landmarks = Matrix::Zero(n, coords + 1);
    s.factors.assign(static_cast<std::size_t>(factors), {});
    std::vector<std::map<std::string, int>> seen(static_cast<std::size_t>(factors));
    for (Eigen::Index i = 0; i < n; ++i) {
        const auto& r = rows[static_cast<std::size_t>(i)];
        for (int f = 0; f < factors; ++f) {
            auto& m = seen[static_cast<std::size_t>(f)];
            const auto it = m.emplace(r[static_cast<std::size_t>(1 + f)], static_cast<int>(m.size())).first;
            s.factors[static_cast<std::size_t>(f)].push_back(it->second);
        }
        for (Eigen::Index c = 0; c < coords; ++c) s.landmarks(i, c) = std::stod(r[static_cast<std::size_t>(1 + factors + c)]);
    }
    for (const auto& m : seen) s.levels.push_back(static_cast<int>(m.size()));
    return s;
}

void expect_relative(double got, double want, double tolerance, const std::string& what) {
    EXPECT_LE(std::abs(got - want), tolerance * std::abs(want)) << what << ": " << got << " against " << want;
}

// The rows of one table of tables.csv against `t`, terms then residuals and total.
void expect_table(const ModelTable& t, const std::string& table, double tolerance = 1e-8) {
    std::vector<std::vector<std::string>> want;
    for (const auto& r : csv_rows("tables.csv"))
        if (r[0] == table) want.push_back(r);
    ASSERT_EQ(want.size(), t.terms.size() + 2) << table;
    for (std::size_t k = 0; k < t.terms.size(); ++k) {
        SCOPED_TRACE(table + " " + want[k][1]);
        EXPECT_EQ(t.terms[k].df, std::stoi(want[k][2]));
        expect_relative(t.terms[k].ss, std::stod(want[k][3]), tolerance, "SS");
        expect_relative(t.terms[k].ms, std::stod(want[k][4]), tolerance, "MS");
        expect_relative(t.terms[k].rsq, std::stod(want[k][5]), tolerance, "Rsq");
        expect_relative(t.terms[k].f, std::stod(want[k][6]), tolerance, "F");
    }
    EXPECT_EQ(t.residual_df, std::stoi(want[t.terms.size()][2]));
    expect_relative(t.residual_ss, std::stod(want[t.terms.size()][3]), tolerance, table + " residual SS");
    expect_relative(t.total_ss, std::stod(want.back()[3]), tolerance, table + " total SS");
}

void expect_asymmetry(const SymmetryResult& r, const std::string& set) {
    std::vector<double> want;
    for (const auto& row : csv_rows("asymmetry.csv"))
        if (row[0] == set) want.push_back(std::stod(row[2]));
    ASSERT_EQ(r.asymmetry.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) expect_relative(r.asymmetry[i], want[i], 1e-8, set + " individual");
}

// The symmetric and asymmetric components of every individual, in the
// order the individuals first appear (as geomorph orders their levels).
void expect_components(const SymmetryResult& r, const std::string& set) {
    std::map<std::string, std::vector<double>> want;  // component, then individual by individual
    for (const auto& row : csv_rows("components.csv"))
        if (row[0] == set) want[row[1]].push_back(std::stod(row[4]));
    for (const auto& [name, got] : {std::pair{"symmetric", &r.symmetric}, std::pair{"asymmetric", &r.asymmetric}}) {
        const std::vector<double>& w = want[name];
        ASSERT_EQ(static_cast<Eigen::Index>(w.size()), got->size()) << set << " " << name;
        double worst = 0;
        for (Eigen::Index i = 0; i < got->rows(); ++i)
            for (Eigen::Index c = 0; c < got->cols(); ++c)
                worst = std::max(worst, std::abs((*got)(i, c) - w[static_cast<std::size_t>(i * got->cols() + c)]));
        // Coordinates of a configuration of unit size: 1e-8 of its size.
        EXPECT_LE(worst, 1e-8) << set << " " << name;
    }
}

TEST(Symmetry, MatchingSidesAgreeWithGeomorph) {
    const Specimens s = read_specimens("mosquito.csv", 3);  // ind, side, rep
    SymmetryDesign d;
    d.individual = s.factors[0];
    d.individuals = s.levels[0];
    d.side = s.factors[1];
    d.replicates = true;
    check_symmetry_design(d, static_cast<int>(s.landmarks.rows()), 18);
    RunOptions options;
    options.seed = 3;
    PermutationEngine engine(options);
    const SymmetryResult r = symmetry_test(engine, s.landmarks, 2, d, Alignment::Partial, 99);
    expect_table(r.shape, "matching shape");
    ASSERT_TRUE(r.size.has_value());
    // The wings' centroid sizes are all 1 within 1e-4, and RRPP's sums of
    // squares of so nearly constant a response keep about six digits: its
    // total is 2.2363757e-08 where the squared deviations of the sizes sum
    // to 2.23637798534e-08, which is what this program finds.
    expect_table(*r.size, "matching size", 1e-5);
    EXPECT_NEAR(r.size->total_ss, 2.2363779853452097e-08, 1e-19);
    expect_asymmetry(r, "mosquito");
    expect_components(r, "mosquito");
}

std::vector<std::pair<int, int>> lizard_pairs() {
    std::ifstream in(expected_file("lizards.pairs.txt"));
    std::vector<std::pair<int, int>> pairs;
    for (int a = 0, b = 0; in >> a >> b;) pairs.emplace_back(a - 1, b - 1);
    return pairs;
}

TEST(Symmetry, ObjectSymmetryAgreesWithGeomorphAndASymmetricIndividualHasNoAsymmetry) {
    const Specimens s = read_specimens("lizards.csv", 2);  // ind, rep
    SymmetryDesign d;
    d.individual = s.factors[0];
    d.individuals = s.levels[0];
    d.replicates = true;
    d.land_pairs = lizard_pairs();
    check_symmetry_design(d, static_cast<int>(s.landmarks.rows()), 28);
    RunOptions options;
    options.seed = 5;
    PermutationEngine engine(options);
    const SymmetryResult r = symmetry_test(engine, s.landmarks, 2, d, Alignment::Partial, 99);
    expect_table(r.shape, "object shape");
    EXPECT_FALSE(r.size.has_value());
    expect_asymmetry(r, "lizards");
    expect_components(r, "lizards");

    // The first two specimens made symmetric: their midline on x = 0, each
    // paired landmark the other's reflection.  That individual measures 0,
    // where geomorph's unsigned index would say about 1.
    Specimens sym = s;
    for (Eigen::Index i = 0; i < 2; ++i) {
        for (int l = 0; l < 28; ++l) sym.landmarks(i, 2 * l) = 0;
        for (const auto& [a, b] : d.land_pairs) {
            sym.landmarks(i, 2 * a) = 0.1 + 0.01 * a;
            sym.landmarks(i, 2 * b) = -sym.landmarks(i, 2 * a);
            sym.landmarks(i, 2 * b + 1) = sym.landmarks(i, 2 * a + 1);
        }
    }
    PermutationEngine again(options);
    const SymmetryResult z = symmetry_test(again, sym.landmarks, 2, d, Alignment::Full, 9);
    EXPECT_LT(z.asymmetry[0], 1e-10);
    EXPECT_GT(z.asymmetry[1], 1e-3);
}

TEST(Symmetry, RefusesDesignsItCannotTest) {
    SymmetryDesign matching;
    matching.individual = {0, 0, 1, 1};
    matching.individuals = 2;
    matching.side = {0, 1, 0, 0};
    SymmetryDesign replicated = matching;
    replicated.side = {0, 1, 0, 1};
    replicated.replicates = true;
    SymmetryDesign object;
    object.individual = {0, 1, 2};
    object.individuals = 3;
    SymmetryDesign out_of_range = object, repeated = object;
    out_of_range.land_pairs = {{0, 5}};
    repeated.land_pairs = {{0, 1}, {1, 2}};
    const std::pair<const SymmetryDesign*, const char*> cases[] = {
        {&matching, "has no configuration of side 2"},
        {&replicated, "replicates must repeat every side"},
        {&object, "--land-pairs"},
        {&out_of_range, "landmark 6, but the specimens have 5"},
        {&repeated, "landmark 2 twice"},
    };
    for (const auto& [design, words] : cases) {
        try {
            check_symmetry_design(*design, static_cast<int>(design->individual.size()), 5);
            ADD_FAILURE() << "not refused: " << words;
        } catch (const Refused& e) {
            EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace quillan::test
