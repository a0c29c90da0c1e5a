// The import steps on landmarks in space, held against the numbers geomorph
// gives for real 3-D sets (tests/expected/geomorph3d, written by
// make-expected.R there): missing landmarks of the bundled brains, removed
// on purpose, estimated by both methods; geomorph's scallops with the
// semilandmarks of their rim sliding by both criteria, and superimposed
// without sliding.
#include "geometry/missing_landmarks.hpp"
#include "geometry/partial_procrustes.hpp"
#include "io/import.hpp"
#include "io/specimens.hpp"
#include "io/text.hpp"
#include "platform/error.hpp"
#include "support/expected_values.hpp"
#include "support/imports.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iostream>
#include <sstream>

using namespace quillan;
using namespace quillan::io;
using quillan::test::data_file;
using quillan::test::expect_estimates;
using quillan::test::expect_gpagen_rows;
using quillan::test::import_text;
using ::testing::HasSubstr;

namespace {

constexpr int kBrainLandmarks = 24;
// Specimen, landmark (1-based), as make-expected.R removes them.
const std::vector<std::pair<int, int>> kGaps = {{3, 5}, {10, 1}, {10, 12}, {40, 24}, {41, 7}};

bool is_gap(Eigen::Index s, Eigen::Index j) {
    for (const auto& [gs, gj] : kGaps)
        if (gs == s + 1 && gj == j + 1) return true;
    return false;
}

std::vector<std::vector<double>> expected_rows(const std::string& name) {
    return quillan::test::expected_numbers("geomorph3d/" + name);
}

std::vector<Config3> brains_with_gaps() {
    const Matrix lm = dload(data_file("brains.lm.txt"));
    std::vector<Config3> x;
    for (Eigen::Index s = 0; s < lm.rows(); ++s) {
        Config3 c(kBrainLandmarks, 3);
        for (Eigen::Index j = 0; j < kBrainLandmarks; ++j)
            for (Eigen::Index a = 0; a < 3; ++a) c(j, a) = is_gap(s, j) ? std::nan("") : lm(s, 3 * j + a);
        x.push_back(c);
    }
    return x;
}

// The same as a TPS file of LM3= blocks, the gaps written NA.
std::string brains_tps(const std::vector<Config3>& x) {
    std::string out;
    for (std::size_t s = 0; s < x.size(); ++s) {
        out += "LM3=" + std::to_string(kBrainLandmarks) + "\n";
        for (Eigen::Index j = 0; j < kBrainLandmarks; ++j)
            for (Eigen::Index a = 0; a < 3; ++a)
                out += (std::isnan(x[s](j, a)) ? std::string("NA") : number_text(x[s](j, a))) + (a < 2 ? " " : "\n");
        out += "ID=b" + std::to_string(s + 1) + "\n";
    }
    return out;
}

std::string number_of(std::size_t i) { return std::to_string(i + 1); }

std::string expected_file(const std::string& name) { return std::string(QUILLAN_EXPECTED_DIR) + "/geomorph3d/" + name; }

constexpr int kScallopLandmarks = 46;

}  // namespace

// What estimate.missing returns for the specimens with gaps: for the spline
// every point mapped through it, for the regression every point superimposed
// on the reference; every point agrees to 1e-8 of the brains' size (about 100).
TEST(GeomorphNumbersInSpace, EstimatedLandmarksAgreeForBothMethods) {
    const std::vector<Config3> x = brains_with_gaps();
    for (const auto& [name, method] :
         {std::pair{"tps", EstimateMethod::ThinPlateSpline}, std::pair{"reg", EstimateMethod::Regression}}) {
        SCOPED_TRACE(name);
        const Estimation3 e = estimate_missing(x, method, number_of);
        const auto expected = expected_rows(std::string("estimated_") + name + ".csv");
        ASSERT_EQ(expected.size(), 4u * kBrainLandmarks);
        EXPECT_EQ(expect_estimates(expected, e.working, 1e-8 * 100), 5);
        for (const auto& row : expected) {
            const std::size_t s = static_cast<std::size_t>(row[0]) - 1;
            const Eigen::Index j = static_cast<Eigen::Index>(row[1]) - 1;
            EXPECT_EQ(row[2] == 1, is_gap(static_cast<Eigen::Index>(s), j));
            if (row[2] == 0) {
                EXPECT_EQ(e.filled[s].row(j), x[s].row(j));  // the present landmarks stay as digitised
            }
        }
    }
}

// Through the import: the gaps of a TPS file in space are filled with the
// same estimates and noted; too few present or complete landmarks are
// refused naming the specimen.
TEST(ImportSpaceSteps, GapsAreEstimatedOnImportOrRefusedNamingTheSpecimen) {
    const std::vector<Config3> x = brains_with_gaps();
    const Estimation3 e = estimate_missing(x, EstimateMethod::ThinPlateSpline, number_of);
    ImportOptions o;
    o.estimate_missing = "tps";
    o.gpa_steps = GpaSteps::Gpagen;
    const ImportedData d = import_text("brains.tps", brains_tps(x), o);
    ASSERT_EQ(d.dimensions, 3);
    for (const auto& [s, j] : kGaps)
        for (Eigen::Index a = 0; a < 3; ++a)
            EXPECT_EQ(d.landmarks(s - 1, 3 * (j - 1) + a), e.filled[static_cast<std::size_t>(s - 1)](j - 1, a));
    EXPECT_THAT(d.notices.front(), HasSubstr("5 missing landmarks of 4 specimens were estimated (tps, from the 54 complete"));
    EXPECT_EQ(d.legend.steps.estimated.size(), 5u);

    struct Row {
        std::string bytes, method, message;
    };
    const std::string full = "LM3=5\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n1 1 1\n";
    const std::string flat = "LM3=5\n0 0 1\n1 0 0\n0 1 0\n1 1 0\n0 0 0\n";  // all but the first in a plane
    const Row rows[] = {
        {full + full + "LM3=5\nNA NA NA\n1 0 0\n0 1 0\n0 0 1\nNA NA NA\nID=c\n", "tps",
         "specimen c has 3 landmarks present; estimating needs at least 4"},
        {flat + flat + "LM3=5\nNA NA NA\n1 0 0\n0 1 0\n1 1 0\n0 0 0\nID=c\n", "tps",
         "specimen c: its present landmarks lie in a plane"},
        {full + full + "LM3=5\nNA NA NA\n1 0 0\n0 1 0\n0 0 1\n1 1 1\nID=c\n", "reg",
         "specimen c: estimating its 1 missing landmarks needs at least 4 complete specimens, and there are 2"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.message);
        ImportOptions m;
        m.estimate_missing = r.method;
        const std::string message = quillan::test::import_refusal("t.tps", r.bytes, m);
        EXPECT_THAT(message, HasSubstr(r.message));
        EXPECT_THAT(message, HasSubstr("Nothing was imported."));
    }
}

// gpagen's sliding in 3-D at its default limit of 10 iterations, where
// neither criterion has settled on the scallops: the coordinates it returns
// there, within 1e-9 (unit centroid size), and its count of iterations.
TEST(GeomorphNumbersInSpace, SlidCoordinatesAgreeForBothCriteria) {
    for (const std::string criterion : {"be", "procd"}) {
        SCOPED_TRACE(criterion);
        ImportOptions o;
        o.sliders_file = expected_file("scallops.sliders");
        o.slide = criterion;
        o.gpa_steps = GpaSteps::Gpagen;
        const ImportedData d = import_file(expected_file("scallops.tps"), o);
        ASSERT_EQ(d.dimensions, 3);
        expect_gpagen_rows(expected_rows("slid_" + criterion + ".csv"), d.legend.steps.partial, 1e-9,
                           d.landmarks.col(3 * kScallopLandmarks));
        std::ifstream iter(expected_file("slid_" + criterion + ".iter"));
        std::string line;
        std::getline(iter, line);
        EXPECT_EQ(d.legend.steps.iterations, std::stoi(line.substr(line.find(',') + 1)));
        EXPECT_EQ(d.legend.steps.semilandmarks.size(), 11u);
        // The landmarks that do not slide stay where they were digitised.
        const ImportedData plain = import_file(expected_file("scallops.tps"));
        for (Eigen::Index j = 0; j < kScallopLandmarks; ++j) {
            if (j >= 5 && j <= 15) continue;  // landmarks 6 to 16 slide
            for (Eigen::Index i = 0; i < d.landmarks.rows(); ++i)
                for (Eigen::Index a = 0; a < 3; ++a)
                    EXPECT_NEAR(d.landmarks(i, 3 * j + a), plain.landmarks(i, 3 * j + a), 1e-9) << "landmark " << j + 1;
        }
    }
}

// Without sliding: gpagen's partial superimposition in 3-D, principal axes
// and projection included.
TEST(GeomorphNumbersInSpace, PartialAlignmentAgrees) {
    const ImportedData d = import_file(expected_file("scallops.tps"));
    std::vector<Config3> x;
    for (Eigen::Index i = 0; i < d.landmarks.rows(); ++i) {
        Config3 c(kScallopLandmarks, 3);
        for (Eigen::Index j = 0; j < kScallopLandmarks; ++j)
            for (Eigen::Index a = 0; a < 3; ++a) c(j, a) = d.landmarks(i, 3 * j + a);
        x.push_back(c);
    }
    const PartialResult3 r = partial_procrustes(x);
    Matrix aligned(static_cast<Eigen::Index>(x.size()), 3 * kScallopLandmarks);
    for (std::size_t i = 0; i < x.size(); ++i)
        for (Eigen::Index j = 0; j < kScallopLandmarks; ++j)
            for (Eigen::Index a = 0; a < 3; ++a) aligned(static_cast<Eigen::Index>(i), 3 * j + a) = r.projected[i](j, a);
    expect_gpagen_rows(expected_rows("aligned_scallops.csv"), aligned, 1e-10);
    // The per-specimen export writes them with --alignment partial.
    SpecimenExport e;
    e.landmarks = &d.landmarks;
    e.legend = &d.legend;
    e.partial = true;
    e.dimensions = 3;
    std::stringstream csv(specimens_csv(e));
    std::string line;
    std::getline(csv, line);  // the header
    std::getline(csv, line);  // the first specimen: number, id, size, distance, x1 y1 z1 ...
    std::vector<std::string> cells;
    for (std::stringstream ss(line); std::getline(ss, line, ',');) cells.push_back(line);
    ASSERT_EQ(cells.size(), 4u + 3 * kScallopLandmarks);
    for (Eigen::Index q = 0; q < 3 * kScallopLandmarks; ++q)
        EXPECT_NEAR(std::stod(cells[4 + static_cast<std::size_t>(q)]), aligned(0, q), 1e-14);
}
