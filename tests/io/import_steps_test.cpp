// Gaps and curves on import: what is refused and how, what is estimated and
// slid, and where the user reads what was done (report, JSON, exports).
#include "io/import_steps.hpp"
#include "io/import.hpp"
#include "platform/error.hpp"
#include "support/batch_runner.hpp"
#include "support/fixtures.hpp"
#include "support/imports.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>

using namespace quillan;
using namespace quillan::io;
using quillan::test::batch_args;
using quillan::test::data_file;
using quillan::test::error_of;
using quillan::test::import_refusal;
using quillan::test::import_text;
using quillan::test::read_bytes;
using quillan::test::run_batch;
using quillan::test::TempDir;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// Six triangles with a fourth point, two of them with gaps.
const char* kGapped =
    "LM=4\n0 0\n2 0\n1 2\n1 1\nID=a\n"
    "LM=4\n0 0\n2.1 0\n1 2.1\n1.1 1\nID=b\n"
    "LM=4\n0 0.1\n2 0\n1 1.9\nNA NA\nID=c\n"
    "LM=4\n0 0\n1.9 0.1\n1.1 2\n0.9 1\nID=d\n"
    "LM=4\n0.1 0\n2 0\n-99 -99\n1 0.9\nID=e\n"
    "LM=4\n0 0\n2 0.1\n0.9 2\n1 1.1\nID=f\n";

// A triangle of landmarks and one curve: an arc whose height and spacing
// differ a little between specimens.
std::string curve_block(const std::string& id, int i, int points = 5) {
    std::string s = "LM=3\n0 0\n10 0\n5 8\nCURVES=1\nPOINTS=" + std::to_string(points) + "\n";
    for (int j = 0; j < points; ++j) {
        const double t = (j + 1) / 6.0 + 0.1 * std::sin(1.3 * i + 2.1 * j) / 6;
        s += std::to_string(1 + 8 * t) + " " + std::to_string(2 + (0.5 + 0.2 * i) * std::sin(3.141592653589793 * t)) + "\n";
    }
    return s + "ID=" + id + "\n";
}

std::string curves_file(int specimens = 6) {
    std::string s;
    for (int i = 0; i < specimens; ++i) {
        std::string id = "s";  // appended, not "s" + ...: GCC 12 warns falsely of overlap there
        id += std::to_string(i + 1);
        s += curve_block(id, i);
    }
    return s;
}

}  // namespace

TEST(ImportGaps, RefusedByDefaultNamingEverySpecimenAndLandmark) {
    const std::string message = import_refusal("g.tps", kGapped);
    EXPECT_THAT(message, HasSubstr("line 17, specimen c: landmark 4 is missing (\"NA\")"));
    EXPECT_THAT(message,
                HasSubstr("in all 2 landmarks are missing in 2 specimens: c (line 13): landmark 4; e (line 25): landmark 3"));
    EXPECT_THAT(message, HasSubstr("estimate them on import"));
    // Negative coordinates taken as missing join the others.
    ImportOptions negative;
    negative.negative_missing = true;
    const std::string both = import_refusal("g.tps", std::string(kGapped) + "LM=4\n0 0\n2 0\n1 2\n-1 -1\nID=g\n", negative);
    EXPECT_THAT(both, HasSubstr("in all 3 landmarks are missing in 3 specimens"));
    EXPECT_THAT(both, HasSubstr("g (line 37): landmark 4"));
}

TEST(ImportGaps, EstimatedOnRequestAndSaidSo) {
    for (const std::string method : {"tps", "reg"}) {
        ImportOptions o;
        o.estimate_missing = method;
        const ImportedData d = import_text("g.tps", kGapped, o);
        ASSERT_EQ(d.landmarks.rows(), 6);
        EXPECT_TRUE(d.landmarks.allFinite());
        EXPECT_EQ(d.legend.steps.estimated, (std::vector<std::pair<int, int>>{{3, 4}, {5, 3}}));
        EXPECT_EQ(d.legend.steps.estimated_in(2), std::vector<int>{4});
        EXPECT_NEAR(d.landmarks(2, 6), 1, 0.25);  // the fourth point sits near (1, 1) in every other triangle
        EXPECT_NEAR(d.landmarks(2, 7), 1, 0.25);
        EXPECT_EQ(d.landmarks(0, 6), 1);  // a specimen without gaps stays as read
        ASSERT_FALSE(d.legend.steps.notes.empty());
        EXPECT_THAT(d.legend.steps.notes[0], HasSubstr("2 missing landmarks of 2 specimens were estimated (" + method));
        EXPECT_THAT(d.legend.steps.notes[0], HasSubstr("rests on these estimates"));
        EXPECT_EQ(d.legend.steps.description(d.legend.ids), "2 landmarks estimated (" + method + "): c 4; e 3");
    }
    // An NTS file's own missing value is a gap like the others.
    ImportOptions tps;
    tps.estimate_missing = "tps";
    const ImportedData nts = import_text(
        "g.nts", "1 4 8 1 -9 DIM=2\n0 0 2 0 1 2 1 1\n0 0 2.1 0 1 2.2 1 0.9\n0 0.1 2 0 -9 -9 1 1\n0.1 0 2 0.1 1 1.9 1.1 1\n", tps);
    EXPECT_EQ(nts.legend.steps.estimated, (std::vector<std::pair<int, int>>{{3, 3}}));
}

// Landmarks missing only by a choice (one made for an earlier file, say):
// the refusal names the choices, the file alone would not explain it.
TEST(ImportGaps, RefusalsNameTheChoicesBehindThem) {
    const std::string aligned =
        "id,x1,y1,x2,y2,x3,y3\na,-0.4,-0.2,0.4,-0.2,0,0.4\nb,-0.41,-0.2,0.4,-0.19,0.01,0.39\n"
        "c,-0.39,-0.21,0.41,-0.2,0,0.41\n";
    const std::string negatives =
        "6 of the 6 landmarks are missing only by the choice \"Negatives: missing\" "
        "(--negative-missing), which takes negative coordinates as missing";
    ImportOptions o;
    o.negative_missing = true;
    o.estimate_missing = "tps";
    const std::string estimated = import_refusal("aligned.csv", aligned, o);
    EXPECT_THAT(estimated, HasSubstr("the missing landmarks cannot be estimated by tps: "));
    EXPECT_THAT(estimated,
                HasSubstr("; the choice \"Gaps: estimate tps\" (--estimate-missing tps) asked for the estimate; " + negatives));
    o.estimate_missing.clear();
    EXPECT_THAT(import_refusal("aligned.csv", aligned, o), HasSubstr("by the choice \"Negatives: missing\", --negative-missing"));
    EXPECT_THAT(import_refusal("g.tps", std::string(kGapped) + "LM=4\n0 0\n2 0\n1 2\n-1 -1\nID=g\n", o),
                HasSubstr("1 of the 3 landmarks are missing only by the choice \"Negatives: missing\""));
    EXPECT_THAT(import_refusal("g.tps", kGapped, o), Not(HasSubstr("choice")));  // the file's own NA
}

TEST(ImportGaps, RefusedWhenTooFewSpecimensAreCompleteOrTooFewLandmarksPresent) {
    ImportOptions reg;
    reg.estimate_missing = "reg";
    const std::string few = "LM=4\n0 0\n2 0\n1 2\n1 1\nLM=4\n0 0\n2 0\n1 2.1\n1 1\nLM=4\n0 0\n2 0\n1 2\nNA NA\n";
    EXPECT_THAT(import_refusal("f.tps", few, reg),
                HasSubstr("the missing landmarks cannot be estimated by reg: specimen number 3: estimating its 1 missing "
                          "landmarks needs at least 3 complete specimens, and there are 2"));
    ImportOptions tps;
    tps.estimate_missing = "tps";
    EXPECT_THAT(import_refusal("f.tps", std::string(kGapped) + "LM=4\n0 0\nNA NA\nNA NA\n1 1\nID=h\n", tps),
                HasSubstr("specimen h has 2 landmarks present; estimating needs at least 3"));
}

TEST(ImportCurves, KeptAsSemilandmarksThatSlideBetweenTheirNeighbours) {
    const std::string file = curves_file();
    const ImportedData skipped = import_text("c.tps", file);
    EXPECT_EQ(skipped.landmarks.cols(), 7);  // without the choice, curves are skipped
    ImportOptions o;
    o.semilandmarks = true;
    const ImportedData d = import_text("c.tps", file, o);
    EXPECT_EQ(d.landmarks.cols(), 17);  // 3 landmarks and 5 curve points
    const auto& steps = d.legend.steps;
    EXPECT_EQ(steps.semilandmarks, (std::vector<int>{5, 6, 7}));
    EXPECT_EQ(steps.sliders, (std::vector<std::array<int, 3>>{{4, 5, 6}, {5, 6, 7}, {6, 7, 8}}));
    EXPECT_EQ(steps.slide_criterion, "be");
    EXPECT_GE(steps.iterations, 2);
    EXPECT_EQ(steps.partial.rows(), 6);
    ASSERT_FALSE(steps.notes.empty());
    EXPECT_THAT(steps.notes[0], HasSubstr("3 semilandmarks slid by bending energy: "));
    EXPECT_THAT(
        steps.notes[0],
        HasSubstr(" iterations as gpagen counts them (its limit of 10 allows 11); the last moved no point by more than "));
    // The fixed landmarks and the curve's ends stay where they were read.
    const SpecimenTable read = read_tps(text_from_bytes(file, "/data/c.tps"), true);
    for (Eigen::Index j : {0, 1, 2, 3, 4, 5, 6, 7, 14, 15})
        EXPECT_NEAR(d.landmarks(1, j), read.coords[1][static_cast<std::size_t>(j)], 1e-9);
    EXPECT_GT(std::abs(d.landmarks(1, 10) - read.coords[1][10]), 1e-4);  // the middle point slid
}

TEST(ImportCurves, FaultsOfCurvesAndSlidersAreRefusedWithTheirLine) {
    ImportOptions o;
    o.semilandmarks = true;
    EXPECT_THAT(import_refusal("c.tps", curve_block("a", 0, 2) + curve_block("b", 1, 2), o),
                HasSubstr("line 6, specimen a: POINTS=2: a curve of semilandmarks needs at least 3 points"));
    EXPECT_THAT(import_refusal("c.tps", curve_block("a", 0) + curve_block("b", 1, 4), o),
                HasSubstr("specimen b: its curves differ from the first specimen's (curves of 4 points against 5)"));
    TempDir dir;
    auto sliders_refusal = [&](const std::string& text) { return error_of([&] { read_sliders(dir.write("s.csv", text), 8); }); };
    EXPECT_EQ(sliders_refusal("before,slide,after\n4,5,6\n5,6,7\n"), "(no error)");  // geomorph's layout, with its header
    EXPECT_THAT(sliders_refusal("4 5 6\n5 6 9\n"),
                HasSubstr("line 2, landmark 9 is out of range: the specimens have landmarks 1 to 8"));
    EXPECT_THAT(sliders_refusal("4 5 6\n\n6 6 7\n"), HasSubstr("line 3, landmark 6 is its own neighbour"));
    EXPECT_THAT(sliders_refusal("4 5\n"), HasSubstr("line 1, a slider is three landmark numbers"));
    EXPECT_THAT(sliders_refusal("4 5 6\n3 5 7\n"), HasSubstr("line 2, landmark 5 slides on an earlier line already"));
    EXPECT_THAT(sliders_refusal("4 5 4\n"), HasSubstr("both neighbours of landmark 5 are landmark 4"));
    EXPECT_THAT(sliders_refusal("4 2.5 6\n"), HasSubstr("line 1, landmark 2.5 is not a whole number"));
    // Coordinates whose squares overflow are refused before any sliding.
    std::string huge = curves_file();
    huge.replace(huge.find("10 0"), 4, "1e154 0");
    EXPECT_THAT(import_refusal("c.tps", huge, o),
                HasSubstr("specimen s1: landmark 2 has the coordinate 1e+154, too large to slide"));
    // A sliders file works for any format and replaces the curves' own.
    o.sliders_file = dir.write("s.txt", "4 5 6\n");
    EXPECT_EQ(import_text("c.tps", curves_file(), o).legend.steps.semilandmarks, std::vector<int>{5});
}

// Sliding stopped at its limit unsettled gives gpagen's coordinates there,
// with a warning; the strict choice refuses it.
TEST(ImportCurves, SlidingUnsettledAtItsLimitIsUsedWithAWarningUnlessStrict) {
    ImportOptions o;
    o.semilandmarks = true;
    o.negative_missing = true;
    o.estimate_missing = "tps";
    o.slide_iterations = 3;
    const ImportedData d = import_file(data_file("plethodon_curves.tps"), o);
    EXPECT_FALSE(d.legend.steps.converged);
    EXPECT_EQ(d.legend.steps.iterations, 4);
    const std::string warnings = ::testing::PrintToString(d.warnings);
    EXPECT_THAT(warnings, HasSubstr("sliding the semilandmarks by bending energy did not settle within the limit of 3 "
                                    "iterations (the last changed the fit by "));
    EXPECT_THAT(warnings, HasSubstr(" and moved a point by as much as "));
    EXPECT_THAT(warnings, HasSubstr("the coordinates at the limit were used"));
    EXPECT_THAT(d.legend.steps.description(d.legend.ids),
                HasSubstr("12 semilandmarks slid by bending energy (not settled within the limit of 3 iterations)"));
    o.strict_sliding = true;
    EXPECT_THAT(error_of([&] { import_file(data_file("plethodon_curves.tps"), o); }),
                HasSubstr("did not settle within the limit of 3 iterations"));
    o.slide_iterations = 10;  // settles: strict or not, nothing to warn of
    const ImportedData settled = import_file(data_file("plethodon_curves.tps"), o);
    EXPECT_TRUE(settled.legend.steps.converged);
    EXPECT_THAT(::testing::PrintToString(settled.warnings), Not(HasSubstr("settle")));
}

// The bundled file with curves and gaps, through the batch program: a
// one-way test on the slid and estimated table, with what was done in the
// report's data line, the JSON and the per-specimen export.
TEST(ImportSteps, ReachTheReportTheRecordAndTheExports) {
    TempDir dir;
    const auto r = run_batch(
        batch_args("one-way", "-i", data_file("plethodon_curves.tps"), "--negative-missing", "--estimate-missing", "tps",
                   "--semilandmarks", "-g", data_file("plethodon.species.groups.txt"), "-p", "99", "-s", "1", "--json",
                   dir.file("r.json"), "--export-specimens", dir.file("s.csv"), "--alignment", "partial", "--trace"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("Data File: plethodon_curves.tps with 40 specimens, 28 LM"));
    EXPECT_THAT(r.out,
                HasSubstr("12 semilandmarks slid by bending energy; 4 landmarks estimated (tps): P05 3; P17 7, 8; P30 12"));
    EXPECT_THAT(r.err, HasSubstr("These results rest on 4 estimated landmarks (tps)"));
    const auto json = nlohmann::json::parse(read_bytes(dir.file("r.json")));
    const auto& run = json["run"];
    EXPECT_EQ(run["estimate_method"], "tps");
    ASSERT_EQ(run["estimated"].size(), 4u);
    EXPECT_EQ(run["estimated"][1]["id"], "P17");
    EXPECT_EQ(run["estimated"][1]["landmark"], 7);
    EXPECT_EQ(run["slide_criterion"], "be");
    EXPECT_EQ(run["slide_converged"], true);
    EXPECT_EQ(run["semilandmarks"].size(), 12u);
    EXPECT_EQ(run["sliders"][0], (std::vector<int>{13, 14, 15}));
    const std::string csv = read_bytes(dir.file("s.csv"));
    EXPECT_THAT(csv, HasSubstr(",estimated,centroid_size,"));
    EXPECT_THAT(csv, HasSubstr("\n17,P17,"));
    EXPECT_THAT(csv.substr(csv.find("\n17,P17,")), HasSubstr(",7 8,"));
}

// Procrustes distance does not settle within the default limit on the
// bundled file: the report, the JSON and the console say so; strict refuses.
TEST(ImportSteps, SlidingUnsettledAtTheLimitReachesTheReportAndTheRecord) {
    TempDir dir;
    std::vector<std::string> args = batch_args(
        "one-way", "-i", data_file("plethodon_curves.tps"), "--negative-missing", "--estimate-missing", "tps", "--semilandmarks",
        "--slide", "procd", "-g", data_file("plethodon.species.groups.txt"), "-p", "9", "--json", dir.file("r.json"));
    const auto r = run_batch(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("12 semilandmarks slid by Procrustes distance (not settled within the limit of 10 iterations)"));
    EXPECT_THAT(r.err, HasSubstr("did not settle within the limit of 10 iterations"));
    const auto json = nlohmann::json::parse(read_bytes(dir.file("r.json")));
    EXPECT_EQ(json["run"]["slide_converged"], false);
    EXPECT_EQ(json["run"]["slide_iterations"], 11);
    args.push_back("--slide-strict");
    const auto strict = run_batch(args);
    EXPECT_NE(strict.status, 0);
    EXPECT_THAT(strict.err, HasSubstr("with strict sliding the slid coordinates were not used"));
}

// A factor table with NA cells: NA is no group of its own; the specimens
// are refused, or left out with the count in the data line and the IDs in
// the JSON.
TEST(ImportSteps, SpecimensWithoutAFactorValueAreRefusedOrLeftOut) {
    TempDir dir;
    std::string table = "ID,species\n";
    for (int i = 1; i <= 40; ++i) {
        const std::string id = (i < 10 ? "P0" : "P") + std::to_string(i);
        table += id + "," + (i == 3 || i == 27 ? "NA" : i <= 20 ? "Jord" : "Teyah") + "\n";
    }
    std::vector<std::string> args{
        "one-way", "-i",     data_file("plethodon.tps"), "--factors", dir.write("f.csv", table), "--factor", "species", "-p",
        "9",       "--json", dir.file("r.json")};
    const auto refused = run_batch(args);
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.err, HasSubstr("the factor \"species\" has no value (an empty cell or NA) for 2 specimens, P03 "
                                       "(line 4), P27 (line 28)"));
    args.push_back("--leave-out-missing");
    const auto r = run_batch(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("with 38 specimens"));
    EXPECT_THAT(r.out, HasSubstr("2 specimens left out, having no value of \"species\""));
    EXPECT_THAT(r.out, HasSubstr("A single classifying variable with 2 groups"));
    const auto json = nlohmann::json::parse(read_bytes(dir.file("r.json")));
    EXPECT_EQ(json["run"]["left_out"], (std::vector<std::string>{"P03", "P27"}));
}

TEST(ImportSteps, AskedForWithoutAnImportAreAUsageError) {
    const auto r = run_batch({"one-way", "-l", data_file("plethodon.lm.txt"), "-g", data_file("plethodon.species.groups.txt"),
                              "--estimate-missing", "tps"});
    EXPECT_EQ(r.status, 64);
    EXPECT_THAT(r.err, HasSubstr("act on an imported file"));
}
