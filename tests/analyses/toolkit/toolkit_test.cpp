// The toolkit's analyses against the numbers geomorph, RRPP and MASS give
// on the bundled data (tests/expected/shape_analyses and symmetry, written
// by the make_expected.R scripts there), their edge cases and refusals; and
// the short cuts their permutations take (the PLS's first axis by repeated
// squaring, the canonical variates' pooled covariance through the groups'
// means alone) held, permutation by permutation, against a plain
// computation of the same shuffle.
#include "analyses/linear_models/model_design.hpp"
#include "analyses/linear_models/model_shapes.hpp"
#include "analyses/permutation_recorder.hpp"
#include "analyses/toolkit/canonical_variates.hpp"
#include "analyses/toolkit/disparity.hpp"
#include "analyses/toolkit/modularity.hpp"
#include "analyses/toolkit/outliers.hpp"
#include "analyses/toolkit/shape_inputs.hpp"
#include "analyses/toolkit/symmetry.hpp"
#include "analyses/toolkit/two_block_pls.hpp"
#include "figures/distributions.hpp"
#include "geometry/kernel_dispatch.hpp"
#include "geometry/paced_basis.hpp"
#include "platform/error.hpp"
#include "platform/random.hpp"
#include "support/expected_values.hpp"
#include "support/text.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace quillan::test {
namespace {

using Eigen::Index;
using Eigen::MatrixXd;
using Eigen::VectorXd;

std::map<std::string, Values> expected(const std::string& file) { return expected_values("shape_analyses/" + file); }
// The shapes geomorph's numbers were made from: gpagen's own steps.
MatrixXd gpagen_shapes(const Matrix& landmarks) { return tangent_shapes(landmarks, Alignment::Partial, 2, GpaSteps::Gpagen); }

struct Case {
    std::string name, landmarks, groups, covariate;
};

TEST(Outliers, AgreeWithGeomorph) {
    const auto want = expected("outliers.csv");
    for (const Case& c : {Case{"plethodon", "plethodon.lm.txt", "", ""},
                          Case{"plethodon_species", "plethodon.lm.txt", "plethodon.species.groups.txt", ""},
                          Case{"pupfish", "pupfish.lm.txt", "", ""},
                          Case{"larvalHead_treatment", "larvalHead.lm.txt", "larvalMorph.treatment.groups.txt", ""},
                          Case{"ratland", "ratland.lm.txt", "", ""}}) {
        SCOPED_TRACE(c.name);
        expect_outliers(
            find_outliers(gpagen_shapes(load_data(c.landmarks)), c.groups.empty() ? std::vector<int>{} : codes_of(c.groups)),
            want.at(c.name));
    }
}

TEST(Disparity, AgreesWithGeomorph) {
    const auto want = expected("disparity.csv");
    const std::vector<std::pair<Case, std::string>> cases = {
        {{"plethodon_species", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt"}, "1"},
        {{"plethodon_species", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt"}, "cov"},
        {{"pupfish", "pupfish.lm.txt", "pupfish.groups.txt", "pupfish.cov.txt"}, "1"},
        {{"pupfish", "pupfish.lm.txt", "pupfish.groups.txt", "pupfish.cov.txt"}, "G1"},
        {{"larvalHead_treatment", "larvalHead.lm.txt", "larvalMorph.treatment.groups.txt", "larvalHead.cov.txt"}, "1"},
        {{"larvalHead_treatment", "larvalHead.lm.txt", "larvalMorph.treatment.groups.txt", "larvalHead.cov.txt"}, "G1"}};
    for (const auto& [c, design] : cases) {
        SCOPED_TRACE(c.name + " ~ " + design);
        const Eigen::MatrixXd shapes = gpagen_shapes(load_data(c.landmarks));
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
        expect_disparity(disparity_test(Seeded(11), squared_residuals(shapes, x), g, 9999), want.at(c.name + "_" + design));
    }
}

TEST(CanonicalVariates, AgreeWithMassLda) {
    const auto want = expected("cva.csv");
    for (const Case& c : {Case{"plethodon_species", "plethodon.lm.txt", "plethodon.species.groups.txt", ""},
                          Case{"plethodon_site", "plethodon.lm.txt", "plethodon.site.groups.txt", ""},
                          Case{"larvalHead_treatment", "larvalHead.lm.txt", "larvalMorph.treatment.groups.txt", ""},
                          Case{"larvalHead_family", "larvalHead.lm.txt", "larvalMorph.family.groups.txt", ""}}) {
        SCOPED_TRACE(c.name);
        expect_cva(canonical_variates(Seeded(5), gpagen_shapes(load_data(c.landmarks)), codes_of(c.groups),
                                      {.nperm = 9999, .cross_validate = true}),
                   want.at(c.name));
    }
}

TEST(CanonicalVariates, RefuseWhatThePooledCovarianceCannotCarry) {
    Seeded engine(1);
    const Eigen::MatrixXd mosquito = gpagen_shapes(load_data("mosquito.lm.txt"));
    // 40 specimens in 10 individuals leave 30 degrees of freedom for 32 components.
    EXPECT_THROW(canonical_variates(engine, mosquito, codes_of("mosquito.groups.txt"), {.nperm = 9}), Refused);
    const Eigen::MatrixXd pleth = gpagen_shapes(load_data("plethodon.lm.txt"));
    std::vector<int> lone(40, 0);
    lone[3] = 1;
    EXPECT_THROW(canonical_variates(engine, pleth, lone, {.nperm = 9}), Refused);
    EXPECT_NO_THROW(canonical_variates(engine, pleth, lone, {.nperm = 9, .cross_validate = false}));
    EXPECT_THROW(canonical_variates(engine, pleth, std::vector<int>(40, 0), {.nperm = 9}), Refused);
}

const std::string kHere = std::string(QUILLAN_EXPECTED_DIR) + "/shape_analyses/";

TEST(TwoBlockPls, AgreesWithGeomorph) {
    const auto want = expected("pls.csv");
    Seeded engine(3);
    for (const auto& [name, landmarks, partition] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"plethodon", "plethodon.lm.txt", data_file("plethodon.partition.txt")},
             {"plethodon_three", "plethodon.lm.txt", kHere + "plethodon.three.partition.txt"},
             {"larvalHead", "larvalHead.lm.txt", kHere + "larvalHead.partition.txt"}}) {
        SCOPED_TRACE(name);
        expect_integration(integration_test(engine, gpagen_shapes(load_data(landmarks)), partition_of(partition), 2, 9999),
                           want.at(name));
    }
    const Matrix cov = load_data("pupfish.cov.txt"), groups = load_data("pupfish.groups.txt");
    Eigen::MatrixXd table(cov.rows(), 2);
    table << cov.col(0), groups.col(0);
    expect_pls(two_block_pls(engine, gpagen_shapes(load_data("pupfish.lm.txt")), table, 9999), want.at("pupfish_block2"));
}

// The table's scale cancels in r-PLS: in units of 1e78 or 1e-90, or up to
// 1e308, the numbers are those of the table as given (the singular values
// in its units); a cell that is not finite is refused by its row and column.
TEST(TwoBlockPls, AnyScaleOfTheTableGivesTheSameTest) {
    const MatrixXd shapes = tangent_shapes(load_data("pupfish.lm.txt"), Alignment::Partial);
    const Matrix cov = load_data("pupfish.cov.txt"), groups = load_data("pupfish.groups.txt");
    MatrixXd table(cov.rows(), 2);
    table << cov.col(0), groups.col(0);
    const PlsResult plain = two_block_pls(Seeded(4), shapes, table, 199);
    for (const double scale : {1e78, 1e-90, 1e308 / table.cwiseAbs().maxCoeff()}) {
        SCOPED_TRACE(scale);
        const PlsResult r = two_block_pls(Seeded(4), shapes, table * scale, 199);
        EXPECT_NEAR(r.r_pls, plain.r_pls, 1e-12);
        EXPECT_EQ(r.count_ge, plain.count_ge);
        EXPECT_NEAR(r.z, plain.z, 1e-9);
        expect_relative(r.axes[0].singular_value, plain.axes[0].singular_value * scale, "singular value", 1e-12);
    }
    table(3, 1) = std::nan("");
    EXPECT_THAT(error_of([&] { two_block_pls(Seeded(4), shapes, table, 9); }), HasSubstr("Row 4, column 2 of the second block"));
}

TEST(Modularity, AgreesWithGeomorph) {
    const auto want = expected("modularity.csv");
    Seeded engine(3);
    for (const auto& [name, landmarks, partition, rotate] : std::vector<std::tuple<std::string, std::string, std::string, bool>>{
             {"plethodon_rotated", "plethodon.lm.txt", data_file("plethodon.partition.txt"), true},
             {"plethodon", "plethodon.lm.txt", data_file("plethodon.partition.txt"), false},
             {"plethodon_three", "plethodon.lm.txt", kHere + "plethodon.three.partition.txt", true},
             {"larvalHead_rotated", "larvalHead.lm.txt", kHere + "larvalHead.partition.txt", true}}) {
        SCOPED_TRACE(name);
        expect_modularity(modularity_test(engine, gpagen_shapes(load_data(landmarks)), partition_of(partition), 2,
                                          {.nperm = 9999, .rotation_search = rotate}),
                          want.at(name));
    }
}

TEST(Modularity, RefusesModulesOfFewerThanTwoLandmarksAndWhatLeavesNothingToMeasure) {
    Seeded engine(3);
    const Eigen::MatrixXd shapes = gpagen_shapes(load_data("plethodon.lm.txt"));
    std::vector<int> lone(12, 0);
    lone[11] = 1;
    EXPECT_THROW(modularity_test(engine, shapes, lone, 2, {.nperm = 9}), Refused);
    EXPECT_THROW(modularity_test(engine, shapes, std::vector<int>(12, 0), 2, {.nperm = 9}), Refused);
    EXPECT_THROW(integration_test(engine, shapes, std::vector<int>(12, 0), 2, 9), Refused);
    // Too few specimens for the statistic, a module whose coordinates do not vary.
    const std::vector<int> halves{0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1};
    EXPECT_THROW(find_outliers(shapes.topRows(2)), Refused);
    EXPECT_THROW(modularity_test(engine, shapes.topRows(2), halves, 2, {.nperm = 9}), Refused);
    EXPECT_THROW(integration_test(engine, shapes.topRows(2), halves, 2, 9), Refused);
    MatrixXd still = shapes;
    still.leftCols(12).rowwise() = shapes.row(0).head(12);
    EXPECT_THROW(modularity_test(engine, still, halves, 2, {.nperm = 9}), Refused);
    EXPECT_THROW(integration_test(engine, still, halves, 2, 9), Refused);
}

// Four landmarks in two modules of two: a sixth of the random partitions are
// the observed one, and they count half, as modularity.test ranks them.
TEST(Modularity, RandomPartitionsThatAreTheObservedOneCountHalf) {
    const MatrixXd shapes = tangent_shapes(load_data("plethodon.lm.txt"), Alignment::Partial).leftCols(8);
    const ModularityResult r = modularity_test(Seeded(3), shapes, {0, 0, 1, 1}, 2, {.nperm = 999, .rotation_search = false});
    EXPECT_GT(r.ties, 100);
    EXPECT_DOUBLE_EQ(r.p, (static_cast<double>(r.count_le) - 0.5 * static_cast<double>(r.ties) + 1) / 1000);
}

std::string expected_file(const std::string& name) { return std::string(QUILLAN_EXPECTED_DIR) + "/symmetry/" + name; }

// The rows of a CSV file of the symmetry numbers, its header left out.
std::vector<std::vector<std::string>> csv_rows(const std::string& name) {
    auto rows = expected_csv("symmetry/" + name);
    EXPECT_GT(rows.size(), 1u) << name;
    if (!rows.empty()) rows.erase(rows.begin());
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

// The rows of one table of tables.csv against `t`, terms then residuals and total.
void expect_table(const ModelTable& t, const std::string& table, double tolerance = 1e-8) {
    std::vector<std::vector<std::string>> want;
    for (const auto& r : csv_rows("tables.csv"))
        if (r[0] == table) want.push_back(r);
    ASSERT_EQ(want.size(), t.terms.size() + 2) << table;
    for (std::size_t k = 0; k < t.terms.size(); ++k) {
        SCOPED_TRACE(table + " " + want[k][1]);
        EXPECT_EQ(t.terms[k].df, std::stoi(want[k][2]));
        expect_relative(t.terms[k].ss, std::stod(want[k][3]), "SS", tolerance);
        expect_relative(t.terms[k].ms, std::stod(want[k][4]), "MS", tolerance);
        expect_relative(t.terms[k].rsq, std::stod(want[k][5]), "Rsq", tolerance);
        expect_relative(t.terms[k].f, std::stod(want[k][6]), "F", tolerance);
    }
    EXPECT_EQ(t.residual_df, std::stoi(want[t.terms.size()][2]));
    expect_relative(t.residual_ss, std::stod(want[t.terms.size()][3]), table + " residual SS", tolerance);
    expect_relative(t.total_ss, std::stod(want.back()[3]), table + " total SS", tolerance);
}

void expect_asymmetry(const SymmetryResult& r, const std::string& set) {
    std::vector<double> want;
    for (const auto& row : csv_rows("asymmetry.csv"))
        if (row[0] == set) want.push_back(std::stod(row[2]));
    ASSERT_EQ(r.asymmetry.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) expect_relative(r.asymmetry[i], want[i], set + " individual");
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
    DistributionLog log;
    log.start("RunSymmetry");
    Seeded engine(3, 0, &log);
    const SymmetryResult r = symmetry_test(engine, s.landmarks, 2, d, Alignment::Partial, 99, GpaSteps::Gpagen);
    // The histograms of the shape table and of the size table are told apart.
    std::vector<std::string> names;
    for (const auto& dist : log.distributions()) names.push_back(dist.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Symmetry: F ratio of individuals (shape)", "Symmetry: F ratio of sides (shape)",
                                               "Symmetry: F ratio of individual x side (shape)",
                                               "Symmetry: F ratio of individuals (size)", "Symmetry: F ratio of sides (size)",
                                               "Symmetry: F ratio of individual x side (size)"}));
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
    Seeded engine(5);
    const SymmetryResult r = symmetry_test(engine, s.landmarks, 2, d, Alignment::Partial, 99, GpaSteps::Gpagen);
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
    const SymmetryResult z = symmetry_test(Seeded(5), sym.landmarks, 2, d, Alignment::Full, 9);
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

// Every permutation's statistics of the loops an action runs, by loop.
class Kept : public PermutationRecorder {
public:
    std::vector<std::vector<std::vector<double>>> loops;
    std::unique_ptr<Loop> begin(int, long long nperm, const std::vector<double>& observed, int) override {
        loops.emplace_back(static_cast<std::size_t>(nperm), std::vector<double>(observed.size()));
        return std::make_unique<Into>(loops.back());
    }

private:
    struct Into : Loop {
        explicit Into(std::vector<std::vector<double>>& v) : values(v) {}
        void record(int, long long i, const double* stats) override {
            auto& row = values[static_cast<std::size_t>(i)];
            std::copy(stats, stats + row.size(), row.begin());
        }
        void finish(const std::vector<long long>&, const std::vector<long long>&) override {}
        std::vector<std::vector<double>>& values;
    };
};

// Permutation i's shuffle of n rows, as the engine draws it.
std::vector<int> shuffle_of(const PermutationEngine& engine, long long i, int n) {
    Rng rng = engine.stream(i, 0);
    std::vector<int> order;
    randperm(order, n, rng);
    return order;
}

MatrixXd centred(const MatrixXd& m) { return m.rowwise() - m.colwise().mean(); }

// |r| of the first PLS axis of x with its rows in `order` against y, by a
// full singular value decomposition of the centred blocks.
double direct_r(const MatrixXd& x, const MatrixXd& y, const std::vector<int>& order) {
    const MatrixXd cx = centred(x), cy = centred(y);
    MatrixXd shuffled(cx.rows(), cx.cols());
    for (Index i = 0; i < cx.rows(); ++i) shuffled.row(i) = cx.row(order[static_cast<std::size_t>(i)]);
    const Eigen::JacobiSVD<MatrixXd> svd(shuffled.transpose() * cy, Eigen::ComputeThinU | Eigen::ComputeThinV);
    const VectorXd a = shuffled * svd.matrixU().col(0), b = cy * svd.matrixV().col(0);
    return std::abs(a.dot(b) / std::sqrt(a.squaredNorm() * b.squaredNorm()));
}

MatrixXd rotated(const std::vector<double>& eigenvalues) {
    const auto p = static_cast<Index>(eigenvalues.size());
    MatrixXd seed(p, p);
    for (Index i = 0; i < p; ++i)
        for (Index j = 0; j < p; ++j) seed(i, j) = std::sin(7.0 * static_cast<double>(i) + 3.0 * static_cast<double>(j) + 1);
    const MatrixXd q = Eigen::HouseholderQR<MatrixXd>(seed).householderQ();
    return q * Eigen::Map<const VectorXd>(eigenvalues.data(), p).asDiagonal() * q.transpose();
}

// A value as wide as its column, or wider, never runs into its neighbour.
TEST(ShapeReports, ColumnsStaySeparatedWhenAValueIsWide) {
    EXPECT_EQ(padded("-0.00148751", 12) + padded(shown(-0.000686386), 12), " -0.00148751 -0.000686386");
    EXPECT_EQ(padded("a label of twenty ch", 20, true) + padded("1.00000", 9), "a label of twenty ch   1.00000");
    EXPECT_EQ(padded("a label wider than twenty", 20, true) + padded("62064563782876936.0000", 10),
              "a label wider than twenty  62064563782876936.0000");
}

TEST(LeadingEigenvector, IsTheLeadingOneWhateverTheGap) {
    const std::vector<std::vector<double>> spectra{{3, 2, 1},               // well apart
                                                   {1, 1 - 1e-12, 0.5, 0},  // apart by less than squaring can tell
                                                   {2, 2, 1},               // tied: any vector of their plane
                                                   {5, 0, 0, 0},            // rank one
                                                   {0, 0, 0},               // nothing: still a unit vector
                                                   {4},                     // one variable
                                                   {2, 0.5},                // two, in closed form
                                                   {1.5, 1.5},              // two, tied
                                                   {1, 0.999, 0.99, 0.9, 0.8, 0.5, 0.3, 0.2, 0.1, 1e-3}};  // slow decay
    for (const auto& spectrum : spectra) {
        SCOPED_TRACE(::testing::PrintToString(spectrum));
        const MatrixXd m = rotated(spectrum);
        const VectorXd u = leading_eigenvector(m);
        ASSERT_EQ(u.size(), m.rows());
        ASSERT_TRUE(u.allFinite());
        EXPECT_NEAR(u.norm(), 1, 1e-12);
        const double top = spectrum.front(), rayleigh = u.dot(m * u);
        EXPECT_NEAR(rayleigh, top, 1e-12 * std::max(top, 1.0));
        EXPECT_LE((m * u - rayleigh * u).norm(), 1e-10 * std::max(top, 1.0));
    }
}

// Module codes: the first `first` landmarks in module 0, the rest in 1.
std::vector<int> split_at(int first, int landmarks) {
    std::vector<int> m(static_cast<std::size_t>(landmarks), 1);
    std::fill(m.begin(), m.begin() + first, 0);
    return m;
}

// Every permutation's r against a full decomposition, on blocks whose
// narrower side takes each width the permutation loops treat apart (one,
// two, three and four vectors of doubles, and longer), on every kernel the
// processor has; and every kernel's r bit for bit the baseline's.
TEST(PermutedPls, EveryPermutationsRMatchesAFullDecomposition) {
    const MatrixXd pleth = gpagen_shapes(load_data("plethodon.lm.txt"));
    const MatrixXd pup = gpagen_shapes(load_data("pupfish.lm.txt"));
    const Matrix cov = load_data("pupfish.cov.txt"), groups = load_data("pupfish.groups.txt");
    MatrixXd table(cov.rows(), 2);
    table << cov.col(0), groups.col(0);
    struct Pls {
        std::string name;
        MatrixXd shapes;           // with `modules`: integration_test of these
        std::vector<int> modules;  // else two_block_pls(x, y)
        MatrixXd x, y;             // x's rows are shuffled
    };
    std::vector<Pls> cases{{"a table against shape", {}, {}, table, pup}, {"shape against a table", {}, {}, pup, table}};
    for (const auto& [name, shapes, first] : {std::tuple{"3 + 9 landmarks", pleth, 3},
                                              {"5 + 7 landmarks", pleth, 5},
                                              {"7 + 49 landmarks", pup, 7},
                                              {"28 + 28 landmarks", pup, 28}}) {
        const std::vector<int> modules = split_at(first, static_cast<int>(shapes.cols() / 2));
        cases.push_back({name, shapes, modules, module_columns(shapes, modules, 0, 2), module_columns(shapes, modules, 1, 2)});
    }
    const KernelVariant before = active_kernel();
    for (const Pls& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<double> baseline;
        for (KernelVariant v : all_kernels()) {
            if (!select_kernel(v)) continue;
            SCOPED_TRACE(kernel_name(v));
            Kept kept;
            Seeded engine(11, 2, &kept);
            const long long nperm = 200;
            if (!c.modules.empty()) integration_test(engine, c.shapes, c.modules, 2, nperm);
            else two_block_pls(engine, c.x, c.y, nperm);
            ASSERT_EQ(kept.loops.size(), 1U);
            std::vector<double> r;
            for (long long i = 0; i < nperm; ++i) r.push_back(kept.loops[0][static_cast<std::size_t>(i)][0]);
            if (baseline.empty()) {
                baseline = r;
                for (long long i = 0; i < nperm; ++i)
                    expect_relative(r[static_cast<std::size_t>(i)],
                                    direct_r(c.x, c.y, shuffle_of(engine, i, static_cast<int>(c.x.rows()))),
                                    "permutation " + std::to_string(i), 1e-10);
            } else {
                EXPECT_EQ(r, baseline);
            }
        }
    }
    select_kernel(before);
}

// Modules wider than they have specimens take their axes from the core of
// the blocks' own decompositions: those of a full decomposition of the
// cross-covariance, singular values, leading vectors and r-PLS alike.
TEST(TwoBlockPls, WideModulesGiveTheFullDecompositionsAxes) {
    const MatrixXd pup = tangent_shapes(load_data("pupfish.lm.txt"), Alignment::Partial).topRows(12);
    const std::vector<int> modules = split_at(28, 56);
    const PlsResult p = integration_test(Seeded(2), pup, modules, 2, 9).pls.at(0);
    const MatrixXd c = pup.rowwise() - pup.colwise().mean();
    const MatrixXd x = module_columns(c, modules, 0, 2), y = module_columns(c, modules, 1, 2);
    const Eigen::BDCSVD<MatrixXd> full(x.transpose() * y / 11.0, Eigen::ComputeThinU | Eigen::ComputeThinV);
    ASSERT_EQ(p.axes.size(), 12u);
    for (Index j = 0; j < 11; ++j)
        expect_relative(p.axes[static_cast<std::size_t>(j)].singular_value, full.singularValues()(j), "singular value", 1e-9);
    EXPECT_NEAR(std::abs(p.left.col(0).dot(full.matrixU().col(0))), 1, 1e-8);
    const VectorXd a = x * full.matrixU().col(0), b = y * full.matrixV().col(0);
    EXPECT_NEAR(std::abs(p.r_pls), std::abs(a.dot(b)) / (a.norm() * b.norm()), 1e-10);
}

// The long steps before the permutations stop when the action is asked to:
// modularity's rotation search, the decompositions of wide modules, the
// bases of a model's design (for a symmetry table of thousands of
// individuals, seconds each).
TEST(Toolkit, LongStepsStopWhenAsked) {
    Seeded engine(1, 1);
    const auto stop_in = [&](long long steps) {
        engine.options.progress = [steps](long long, long long total) { return total != steps; };
    };
    const MatrixXd pleth = tangent_shapes(load_data("plethodon.lm.txt"), Alignment::Partial);
    stop_in(1800);
    EXPECT_THROW(modularity_test(engine, pleth, split_at(5, 12), 2, {.nperm = 9}), Cancelled);
    stop_in(3);
    const MatrixXd pup = tangent_shapes(load_data("pupfish.lm.txt"), Alignment::Partial).topRows(12);
    EXPECT_THROW(integration_test(engine, pup, split_at(28, 56), 2, 9), Cancelled);
    const std::vector<int> species = codes_of("plethodon.species.groups.txt");
    const ModelDesign design =
        build_design("G1", {ModelVariable::factor_of_codes("G1", std::vector<double>(species.begin(), species.end()))}, 40);
    EXPECT_THROW(test_linear_model(engine, pleth, design, {.nperm = 9}, 0), Cancelled);  // the whole design and G1's two
    // A factor of 130 levels (pairs of rows) stops inside its bases, between
    // panels of columns, and the paced basis is Eigen's to the last bit.
    std::vector<double> pairs(260);
    for (std::size_t i = 0; i < pairs.size(); ++i) pairs[i] = static_cast<double>(i / 2);
    const ModelDesign wide = build_design("G1", {ModelVariable::factor_of_codes("G1", pairs)}, 260);
    long long calls = 0;
    engine.options.progress = [&calls](long long, long long) { return ++calls < 5; };
    EXPECT_THROW(test_linear_model(engine, MatrixXd::Random(260, 4), wide, {.nperm = 9}, 0), Cancelled);
    EXPECT_EQ(calls, 5);
    for (const MatrixXd& x : {wide.x, MatrixXd(MatrixXd::Random(300, 151))}) {
        const MatrixXd eigen = Eigen::HouseholderQR<MatrixXd>(x).householderQ() * MatrixXd::Identity(x.rows(), x.cols());
        EXPECT_TRUE((paced_basis(x, [] {}).array() == eigen.array()).all());
    }
}

// Mahalanobis (pooled within-group covariance) and Procrustes distances of
// every pair of groups of the principal component scores, pairs in order.
std::vector<double> direct_distances(const MatrixXd& shapes, const std::vector<int>& groups, int ngroups) {
    const MatrixXd c = centred(shapes);
    const Eigen::BDCSVD<MatrixXd> svd(c, Eigen::ComputeThinV);
    Index r = 0;
    while (r < svd.singularValues().size() && svd.singularValues()(r) > 1e-10 * svd.singularValues()(0)) ++r;
    const MatrixXd x = c * svd.matrixV().leftCols(r);
    MatrixXd means = MatrixXd::Zero(ngroups, r);
    VectorXd sizes = VectorXd::Zero(ngroups);
    for (Index i = 0; i < x.rows(); ++i) {
        means.row(groups[static_cast<std::size_t>(i)]) += x.row(i);
        sizes(groups[static_cast<std::size_t>(i)]) += 1;
    }
    means = sizes.cwiseInverse().asDiagonal() * means;
    MatrixXd within = MatrixXd::Zero(r, r);
    for (Index i = 0; i < x.rows(); ++i) {
        const VectorXd e = (x.row(i) - means.row(groups[static_cast<std::size_t>(i)])).transpose();
        within += e * e.transpose() / static_cast<double>(x.rows() - ngroups);
    }
    const Eigen::LDLT<MatrixXd> solver(within);
    std::vector<double> mahalanobis, procrustes;
    for (int a = 0; a < ngroups; ++a)
        for (int b = a + 1; b < ngroups; ++b) {
            const VectorXd d = (means.row(a) - means.row(b)).transpose();
            mahalanobis.push_back(std::sqrt(d.dot(solver.solve(d))));
            procrustes.push_back(d.norm());
        }
    mahalanobis.insert(mahalanobis.end(), procrustes.begin(), procrustes.end());
    return mahalanobis;
}

TEST(PermutedCva, EveryPermutationsDistancesMatchThePooledCovariance) {
    const Matrix pleth = load_data("plethodon.lm.txt");
    Matrix three(pleth.rows(), 7);  // three landmarks: two components for four groups
    three << pleth.leftCols(6), pleth.rightCols(1);
    std::vector<int> cells;
    const std::vector<int> species = codes_of("plethodon.species.groups.txt"), site = codes_of("plethodon.site.groups.txt");
    for (std::size_t i = 0; i < species.size(); ++i) cells.push_back(2 * species[i] + site[i]);
    struct Cva {
        std::string name;
        MatrixXd shapes;
        std::vector<int> groups;
        int ngroups;
    };
    for (const Cva& c : {Cva{"fewer groups than components", gpagen_shapes(load_data("larvalHead.lm.txt")),
                             codes_of("larvalMorph.treatment.groups.txt"), 6},
                         Cva{"more groups than components", gpagen_shapes(three), cells, 4}}) {
        SCOPED_TRACE(c.name);
        Kept kept;
        Seeded engine(11, 2, &kept);
        const long long nperm = 200;
        const CvaResult r = canonical_variates(engine, c.shapes, c.groups, {.nperm = nperm});
        const std::vector<double> observed = direct_distances(c.shapes, c.groups, c.ngroups);
        ASSERT_EQ(r.pairs.size() * 2, observed.size());
        for (std::size_t k = 0; k < r.pairs.size(); ++k) {
            expect_relative(r.pairs[k].mahalanobis, observed[k], "observed Mahalanobis", 1e-10);
            expect_relative(r.pairs[k].procrustes, observed[r.pairs.size() + k], "observed Procrustes", 1e-10);
        }
        ASSERT_EQ(kept.loops.size(), 1U);
        for (long long i = 0; i < nperm; ++i) {
            const std::vector<int> order = shuffle_of(engine, i, static_cast<int>(c.groups.size()));
            std::vector<int> shuffled;
            for (const int o : order) shuffled.push_back(c.groups[static_cast<std::size_t>(o)]);
            const std::vector<double> want = direct_distances(c.shapes, shuffled, c.ngroups);
            for (std::size_t s = 0; s < want.size(); ++s)
                expect_relative(kept.loops[0][static_cast<std::size_t>(i)][s], want[s],
                                "permutation " + std::to_string(i) + ", statistic " + std::to_string(s), 1e-10);
        }
    }
}

}  // namespace
}  // namespace quillan::test
