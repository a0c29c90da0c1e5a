#include "io/import.hpp"
#include "geometry/geometry.hpp"
#include "io/import_steps.hpp"
#include "io/output.hpp"
#include "io/results.hpp"
#include "io/specimens.hpp"
#include "io/text.hpp"
#include "platform/error.hpp"
#include "platform/format.hpp"
#include "platform/sha256.hpp"
#include "support/batch_runner.hpp"
#include "support/fixtures.hpp"
#include "support/imports.hpp"
#include "support/shapes.hpp"
#include "window/shell.hpp"
#include "window/window_env.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <nlohmann/json.hpp>

using namespace quillan::io;
using namespace quillan::test;
using namespace quillan;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const char* kSquareTps =
    "LM=3\n0 0\n2 0\n1 1\nID=a\n"
    "LM=3\n1 1\n3 1\n2 3\nID=b\n";

}  // namespace

TEST(ImportTps, BundledExampleScalesBackToTheLandmarkTableExactly) {
    const ImportedData d = import_file(data_file("plethodon.tps"));
    const Matrix lm = dload(data_file("plethodon.lm.txt"));
    ASSERT_EQ(d.landmarks.rows(), lm.rows());
    ASSERT_EQ(d.landmarks.cols(), lm.cols());
    // SCALE=0.5 of twice the coordinates is the coordinates, to the bit.
    EXPECT_TRUE((d.landmarks.leftCols(lm.cols() - 1).array() == lm.leftCols(lm.cols() - 1).array()).all());
    // No size in the file: the centroid size of the scaled coordinates, as the bundled table has.
    for (Eigen::Index i = 0; i < lm.rows(); ++i)
        EXPECT_NEAR(d.landmarks(i, lm.cols() - 1), lm(i, lm.cols() - 1), 1e-12 * lm(i, lm.cols() - 1));
    ASSERT_EQ(d.legend.ids.size(), 40u);
    EXPECT_EQ(d.legend.ids.front(), "P01");
    EXPECT_EQ(d.legend.ids.back(), "P40");
    EXPECT_TRUE(d.warnings.empty());
    EXPECT_EQ(d.groups.size(), 0);  // image names are not groupings
}

TEST(ImportTps, ScaleCurvesVariablesAndOddLineEnds) {
    // A byte-order mark, CR-only line ends, a scaled and an unscaled specimen, outline curves.
    const std::string tps =
        "\xEF\xBB\xBFLM=2\r0 0\r4 0\rCURVES=1\rPOINTS=3\r1 1\r2 2\r3 3\rVARIABLES=mass\r12.5\rID=one\rSCALE=0.25\r"
        "LM=2\r-1.5 2\r-3 -7\rID=two\rVARIABLES=mass\r7\r";
    const ImportedData d = import_text("mixed.tps", tps, choose_columns({}, "mass"));
    ASSERT_EQ(d.landmarks.rows(), 2);
    EXPECT_EQ(d.landmarks(0, 2), 1.0);             // 4 * 0.25
    EXPECT_EQ(d.landmarks(0, 4), std::sqrt(0.5));  // centroid size of (0,0),(1,0)
    EXPECT_EQ(d.landmarks(1, 0), -1.5);            // negative coordinates are imported as points, with a warning
    EXPECT_EQ(d.covariate(0, 0), 12.5);
    EXPECT_EQ(d.covariate(1, 0), 7.0);
    // Negatives in one of two specimens are not the exception: no warning of them.
    ASSERT_EQ(d.warnings.size(), 2u);
    // Skipped outline points are always told, not only in the trace.
    EXPECT_THAT(d.warnings[1], HasSubstr("3 outline points"));
}

TEST(ImportTps, MalformedFilesAreRefusedNamingLineAndSpecimen) {
    // Truncated at the end of the file, and an LM= count larger than the lines that follow.
    EXPECT_THAT(import_refusal("t.tps", "LM=3\n0 0\n1 0\n1 1\nLM=3\n0 0\n1 1\n"),
                HasSubstr("line 5, specimen number 2: LM=3 announces 3 landmarks but only 2"));
    EXPECT_THAT(import_refusal("t.tps", "LM=4\n0 0\n1 0\n1 1\nID=x\n"), HasSubstr("only 3 coordinate lines"));
    // More lines than announced.
    EXPECT_THAT(import_refusal("t.tps", "LM=2\n0 0\n1 0\n1 1\nID=x\n"), HasSubstr("line 4"));
    EXPECT_THAT(import_refusal("t.tps", "LM=2\n0 0\n1 0\nID=a\nLM=2\n0 0\n1 O\nID=b\n"),
                HasSubstr("line 7, specimen b: landmark 2 has text where a coordinate belongs (\"O\")"));
    const std::string counts = import_refusal("t.tps", std::string(kSquareTps) + "LM=2\n0 0\n1 0\nID=c\n");
    EXPECT_THAT(counts, HasSubstr("line 11, specimen c"));
    EXPECT_THAT(counts, HasSubstr("has 2 landmarks, but the first specimen has 3"));
    EXPECT_THAT(import_refusal("t.tps", "LM=2\n0 0\n1 0\nID=a\nLM=2\n0 0\n-99 5\nID=b\n"),
                HasSubstr("line 7, specimen b: landmark 2 is missing (\"-99\")"));
    EXPECT_THAT(import_refusal("t.tps", "LM=2\n0 0\nNA 1\n"), HasSubstr("landmark 2 is missing (\"NA\")"));
    EXPECT_THAT(import_refusal("t.tps", "LM=2\n0 -999\n1 1\n"), HasSubstr("landmark 1 is missing"));
    EXPECT_EQ(import_refusal("t.tps", "LM=2\n0 -99.5\n1 -999.25\n"), "");
    EXPECT_THAT(import_refusal("t.tps", "ID=a\nLM=2\n0 0\n1 1\n"), HasSubstr("before the first LM="));
    // A SCALE= without its value names the specimen instead of emptying the table.
    EXPECT_THAT(import_refusal("t.tps", "LM=2\n0 0\n1 1\nID=s1\nSCALE=\n"),
                HasSubstr("line 5, specimen s1: SCALE= needs a positive number"));
    // Every message names the file and says nothing was imported.
    EXPECT_THAT(import_refusal("t.tps", "LM=2\n0 0\n"), HasSubstr("The file /data/t.tps could not be imported"));
    EXPECT_THAT(import_refusal("t.tps", "LM=2\n0 0\n"), HasSubstr("Nothing was imported."));
}

TEST(ImportNts, LabelsCommentsAndMissingValues) {
    const std::string nts = "\" a comment\n1 2L 4 0 DIM=2\nfirst second\n\" another\n0 0 3 4\n1 1\n2 2\n";
    const ImportedData d = import_text("x.nts", nts);
    ASSERT_EQ(d.landmarks.rows(), 2);
    EXPECT_EQ(d.landmarks(0, 4), std::sqrt(12.5));  // centroid size of (0,0),(3,4)
    EXPECT_EQ(d.landmarks(1, 3), 2.0);
    EXPECT_EQ(d.legend.ids, (std::vector<std::string>{"first", "second"}));
    EXPECT_THAT(import_refusal("x.nts", "1 2L 4 1 -9\na b\n0 0 1 1\n0 -9 1 1\n"),
                HasSubstr("line 4, specimen b: landmark 1 is missing"));
    EXPECT_THAT(import_refusal("x.nts", "1 2 4 0\n0 0 1 1\n0 0\n"),
                HasSubstr("specimen number 2: the file ends within this specimen"));
    EXPECT_THAT(import_refusal("x.nts", "1 1 4 0\n0 0 1 1 5\n"), HasSubstr("line 2, specimen number 1: the row holds 5 values"));
}

TEST(ImportTable, WordFactorsBecomeCodesInOrderOfFirstAppearance) {
    const ImportedData d = import_file(data_file("plethodon.csv"), choose_columns({"site", "species"}, "logCS"));
    const Matrix groups = dload(data_file("plethodon.groups.txt"));
    const Matrix cov = dload(data_file("plethodon.cov.txt"));
    const Matrix lm = dload(data_file("plethodon.lm.txt"));
    ASSERT_EQ(d.groups.cols(), 2);
    // Site comes first here; the file's first specimen is from "Symp", so Symp is code 1.
    const Factor& site = d.legend.factors[static_cast<std::size_t>(d.legend.chosen[0])];
    EXPECT_EQ(site.levels, (std::vector<std::string>{"Symp", "Allo"}));
    for (Eigen::Index i = 0; i < 40; ++i) {
        EXPECT_EQ(d.groups(i, 0), groups(i, 1) == 2 ? 1 : 2);
        EXPECT_EQ(d.groups(i, 1), groups(i, 0));
        EXPECT_EQ(d.covariate(i, 0), cov(i, 0));
    }
    EXPECT_TRUE((d.landmarks.leftCols(24).array() == lm.leftCols(24).array()).all());
    EXPECT_EQ(d.legend.covariate, "logCS");
    EXPECT_EQ(d.legend.ids[3], "P04");

    // With no factor named, the columns of words are G1 and G2 in file order.
    const ImportedData plain = import_file(data_file("plethodon.csv"));
    ASSERT_EQ(plain.groups.cols(), 2);
    EXPECT_EQ(plain.legend.factors[0].name, "species");
    EXPECT_EQ(plain.covariate.size(), 0);
}

TEST(ImportTable, MorphoJExportWithTabsAndNamedPairs) {
    const std::string tsv =
        "ID\tLM1 x\tLM1 y\tLM2 x\tLM2 y\tCentroid Size\tsex\n"
        "f1\t0\t0\t3\t4\t9\tF\n"
        "m1\t1\t1\t1\t2\t8\tM\n"
        "f2\t2\t2\t2\t5\t7\tF\n";
    const ImportedData d = import_text("morphoj.txt", tsv);
    ASSERT_EQ(d.landmarks.cols(), 5);
    EXPECT_EQ(d.landmarks(0, 2), 3.0);
    EXPECT_EQ(d.landmarks(1, 4), 8.0);  // the file's size is kept
    EXPECT_EQ(d.legend.ids, (std::vector<std::string>{"f1", "m1", "f2"}));
    ASSERT_EQ(d.groups.cols(), 1);
    EXPECT_EQ(d.groups(2, 0), 1.0);
    EXPECT_EQ(d.groups(1, 0), 2.0);
}

TEST(ImportTable, SizeColumnIsKnownByItsCommonNames) {
    for (const char* name : {"CS", "Centroid Size", "Csize", "C_size", "centroid_size", "CENTROID_SIZE", "c_Size"}) {
        const std::string csv = std::string("id,x1,y1,x2,y2,") + name + ",sex\na,0,0,3,4,9,F\nb,1,1,1,2,8,M\n";
        const ImportedData d = import_text("sizes.csv", csv);
        ASSERT_EQ(d.landmarks.cols(), 5) << name;
        EXPECT_EQ(d.landmarks(0, 4), 9.0) << name;  // the file's size, not one computed
        EXPECT_EQ(d.landmarks(1, 4), 8.0) << name;
    }
}

TEST(ImportTable, MalformedTablesAreRefusedNamingLineAndSpecimen) {
    const std::string head = "id,g,z,x1,y1,x2,y2\n";
    EXPECT_THAT(import_refusal("t.csv", head + "a,u,1,0,0,1,1\nb,v,2,0,0,1\n"),
                HasSubstr("line 3, specimen b: the row has 6 cells but the header names 7"));
    EXPECT_THAT(import_refusal("t.csv", head + "a,u,1,0,0,1,1\nb,,2,0,0,1,2\n", choose_columns({"g"})),
                HasSubstr("line 3, specimen b: the factor \"g\" has no value (an empty cell or NA)"));
    EXPECT_THAT(import_refusal("t.csv", head + "a,u,1,0,0,1,1\nb,v,two,0,0,1,2\n", choose_columns({}, "z")),
                HasSubstr("line 3, specimen b: the covariate \"z\" is not a number (\"two\")"));
    EXPECT_THAT(import_refusal("t.csv", head + "a,u,1,0,0,1,x\n"), HasSubstr("line 2, specimen a: landmark 2 has text"));
    EXPECT_THAT(import_refusal("t.csv", head + "a,u,1,0,0,1,1\n", choose_columns({"colour"})),
                HasSubstr("no factor column \"colour\" (columns: \"g\", \"z\")"));
    EXPECT_THAT(import_refusal("t.csv", "id,g,a,b\n1,2,3,4\n"), HasSubstr("fewer than two landmarks"));
    // Quoted cells keep their commas.
    const ImportedData q = import_text("q.csv", head + "\"a, left\",\"u,1\",1,0,0,1,1\n", choose_columns({"g"}));
    EXPECT_EQ(q.legend.ids[0], "a, left");
    EXPECT_EQ(q.legend.factors[0].levels[0], "u,1");
}

TEST(ImportTable, PlainCoordinatesGetTheirCentroidSize) {
    const ImportedData d = import_text("plain.txt", "0 0 3 4\r\n1,1,1,2\r\n");
    ASSERT_EQ(d.landmarks.cols(), 5);
    EXPECT_EQ(d.landmarks(0, 4), std::sqrt(12.5));
    EXPECT_EQ(d.landmarks(1, 4), std::sqrt(0.5));
    EXPECT_THAT(import_refusal("plain.txt", "0 0 3 4\n1 1 1\n"), HasSubstr("line 2, specimen number 2: the row has 3 values"));
}

// NA (as R writes it) and empty cells have no value: never a level of
// their own; refused naming the specimens, or those specimens left out.
TEST(ImportTable, FactorAndCovariateCellsWithoutAValue) {
    std::string tps;
    for (int i = 0; i < 6; ++i)
        tps += "LM=3\n0 0\n" + std::to_string(2 + i % 3) + " 0\n1 " + std::to_string(1 + i % 2) + "\nID=s" +
               std::to_string(i + 1) + "\n";
    const auto table = text_from_bytes(
        "ID,epoch,site,mass,h\ns1,A,u,1,x\ns2,NA,u,2,x\ns3,B,,3,y\ns4,B,v,NA,y\ns5, NA ,v,5,x\ns6,A,v,6,y\n", "/data/f.csv");
    auto take = [&](std::vector<std::string> factors, const std::string& cov, bool leave_out) {
        ImportOptions o = choose_columns(std::move(factors), cov);
        o.leave_out_missing = leave_out;
        return o;
    };
    auto refused = [&](std::vector<std::string> factors, const std::string& cov) {
        return import_refusal("s.tps", tps, take(std::move(factors), cov, false), &table);
    };
    EXPECT_THAT(refused({"epoch"}, ""), HasSubstr("The file /data/f.csv could not be imported: the factor \"epoch\" has no "
                                                  "value (an empty cell or NA) for 2 specimens, s2 (line 3), s5 (line 6): give "
                                                  "every specimen a value, or leave out the specimens without one"));
    EXPECT_THAT(refused({"site"}, ""), HasSubstr("line 4, specimen s3: the factor \"site\" has no value"));
    EXPECT_THAT(refused({"h"}, "mass"), HasSubstr("line 5, specimen s4: the covariate \"mass\" has no value"));
    EXPECT_THAT(refused({}, ""), HasSubstr("the factor \"epoch\" has no value"));  // the first column of words, by default

    const ImportedData d = import_text("s.tps", tps, take({"epoch"}, "mass", true), &table);
    EXPECT_EQ(d.legend.ids, (std::vector<std::string>{"s1", "s3", "s6"}));
    EXPECT_EQ(d.landmarks.rows(), 3);
    EXPECT_EQ(d.landmarks(2, 5), 2.0);  // s6's own coordinates follow it
    EXPECT_EQ(d.landmarks(1, 5), 1.0);
    EXPECT_EQ(d.legend.factors[0].levels, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(d.covariate(2, 0), 6.0);
    EXPECT_EQ(d.legend.steps.left_out, (std::vector<std::string>{"s2", "s4", "s5"}));
    EXPECT_EQ(d.legend.steps.description(d.legend.ids), "3 specimens left out, having no value of \"epoch\" or \"mass\"");
    // A column with cells without a value is not on offer; nor is a column of numbers as a factor.
    const ImportedData only = import_text("s.tps", tps, take({"epoch"}, "", true), &table);
    ASSERT_EQ(only.legend.factors.size(), 2u);
    EXPECT_EQ(only.legend.factors[1].name, "h");
    EXPECT_EQ(only.legend.steps.left_out.size(), 2u);
    // Leaving out all but one specimen is refused.
    const auto sparse = text_from_bytes("ID,g\ns1,A\ns2,NA\ns3,\ns4,NA\ns5,NA\ns6,NA\n", "/data/f.csv");
    EXPECT_NE(import_refusal("s.tps", tps, take({"g"}, "", true), &sparse), "");
}

// Specimens left out before the gaps are estimated: the gaps of those kept
// stay with their specimens.
TEST(ImportTable, LeavingOutKeepsTheGapsOfTheOthers) {
    std::string tps;
    for (int i = 0; i < 6; ++i)
        tps += "LM=4\n0 0\n" + std::to_string(2 + i % 3) + " 0\n1 " + std::to_string(1 + i % 2) + "\n" +
               (i == 3 ? "NA NA" : "1 0.5") + "\nID=s" + std::to_string(i + 1) + "\n";
    const auto table = text_from_bytes("ID,g\ns1,x\ns2,NA\ns3,y\ns4,x\ns5,y\ns6,y\n", "/data/f.csv");
    ImportOptions o = choose_columns({"g"});
    o.leave_out_missing = true;
    o.estimate_missing = "tps";
    const ImportedData d = import_text("s.tps", tps, o, &table);
    EXPECT_EQ(d.legend.steps.estimated, (std::vector<std::pair<int, int>>{{3, 4}}));  // s4, now the third
    EXPECT_EQ(d.legend.ids[2], "s4");
}

TEST(Convert, WrittenTablesLoadBackToTheImportedNumbers) {
    quillan::test::TempDir dir;
    const ImportedData d = import_file(data_file("plethodon.csv"), choose_columns({}, "logCS"));
    SaveSet set;
    const auto files = write_converted(d, dir.file("pleth"), set);
    ASSERT_EQ(files.size(), 4u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("pleth.lm.txt")));  // staged until the commit
    set.commit();
    EXPECT_TRUE((dload(dir.file("pleth.lm.txt")).array() == d.landmarks.array()).all());
    EXPECT_TRUE((dload(dir.file("pleth.groups.txt")).array() == d.groups.array()).all());
    EXPECT_TRUE((dload(dir.file("pleth.cov.txt")).array() == d.covariate.array()).all());
    const std::string legend = quillan::test::read_bytes(dir.file("pleth.legend.csv"));
    EXPECT_THAT(legend, HasSubstr("factor G1,species,1,Jord\nfactor G1,species,2,Teyah\n"));
    EXPECT_THAT(legend, HasSubstr("what,name,code,label\nlandmarks,dimensions,2,\n"));
    EXPECT_THAT(legend, HasSubstr("covariate,logCS,,\n"));
    EXPECT_THAT(legend, HasSubstr("specimen,ID,40,P40\n"));
    // A failed write leaves an existing file as it was.
    EXPECT_THROW(write_output(dir.file("missing/x.txt"), "x"), QuillanError);
}

// Hostile and mistaken files: every one is refused (or warned about) with a
// message that names the right line and quotes the file safely.
TEST(ImportHardening, NegativeCoordinatesOfSomeSpecimensAreWarnedAboutOrTakenAsMissing) {
    const std::string tps =
        "LM=3\n10 10\n20 10\n15 20\nID=a\n"
        "LM=3\n11 10\n-1 -1\n16 21\nID=b\n"
        "LM=3\n12 11\n21 10\n-1 -1\nID=c\n"
        "LM=3\n10 11\n20 11\n15 21\nID=d\n"
        "LM=3\n10 12\n20 12\n15 22\nID=e\n";
    const ImportedData d = import_text("t.tps", tps);
    ASSERT_EQ(d.warnings.size(), 1u);
    EXPECT_THAT(d.warnings[0], HasSubstr("2 of 5 specimens in t.tps have negative coordinates"));
    EXPECT_THAT(d.warnings[0], HasSubstr("b (line 6): landmark 2; c (line 11): landmark 3"));
    ImportOptions missing;
    missing.negative_missing = true;
    EXPECT_THAT(import_refusal("t.tps", tps, missing),
                HasSubstr("negative coordinates mark missing landmarks in 2 specimens: b (line 6): landmark 2; c (line 11): "
                          "landmark 3; estimate or remove them"));
    // Coordinates about an origin are negative in every specimen, or nearly:
    // no warning.  Where negatives are the exception, the warning names the
    // first five and counts the rest.
    EXPECT_TRUE(import_text("o.tps", "LM=3\n-1 0\n1 0\n0 1\nLM=3\n-1 0\n1 0\n0 -2\n").warnings.empty());
    const std::string many = repeated("LM=3\n-1 0\n1 0\n0 1\n", 8) + repeated("LM=3\n1 0\n2 0\n1 1\n", 12);
    EXPECT_THAT(import_text("m.tps", many).warnings.at(0), HasSubstr("8 of 20 specimens in m.tps have negative coordinates"));
    EXPECT_THAT(import_text("m.tps", many).warnings.at(0), HasSubstr("number 5 (line 17): landmark 1; and 3 more specimens."));
    EXPECT_TRUE(import_text("m.tps", repeated("LM=3\n-1 0\n1 0\n0 1\n", 11) + "LM=3\n1 0\n2 0\n1 1\n").warnings.empty());
    // Tables are not image coordinates.
    EXPECT_TRUE(import_text("p.txt", "0 0 1 0 0 1\n0 0 1 0 0 -1\n").warnings.empty());
}

TEST(ImportHardening, CountsAndScalesOutOfRangeAreRefusedOnTheirLine) {
    EXPECT_THAT(import_refusal("t.tps", "LM=1e300\n0 0\n1 1\n"),
                HasSubstr("line 1, specimen number 1: LM=1e300 announces more landmarks than the file has lines (3)"));
    EXPECT_THAT(import_refusal("t.tps", "LM=2\n0 0\n1 1\nPOINTS=1e300\n1 1\n"), HasSubstr("POINTS=1e300 announces more points"));
    EXPECT_THAT(import_refusal("t.tps", "LM=2\n0 0\n2 2\nID=s\nSCALE=1e308\n"),
                HasSubstr("line 5, specimen s: landmark 2 is not a finite number once scaled"));
    // An NTS header announcing more values than the file could hold is
    // refused on the header line, before anything is set aside for them.
    for (const char* rows : {"300000000", "2000000000", "1e300"}) {
        SCOPED_TRACE(rows);
        const std::string message = import_refusal("x.nts", std::string("1 ") + rows + " 4 0\n0 0 1 1\n");
        EXPECT_THAT(message, HasSubstr("line 1"));
        EXPECT_THAT(message, ::testing::AnyOf(HasSubstr("more values than a file of"), HasSubstr("more than any file")));
    }
    EXPECT_THAT(import_refusal("x.nts", "1 1 4 0 DIM=1e300\n0 0 1 1\n"), HasSubstr("DIM= must be 2"));
    for (const char* curves : {"CURVES=abc\n", "CURVES=-5\n"})
        EXPECT_THAT(import_refusal("t.tps", kSquareTps + std::string(curves)), HasSubstr("CURVES= needs a whole count"));
    EXPECT_THAT(import_refusal("t.tps", kSquareTps + std::string("CURVES=1000000\n")),
                HasSubstr("CURVES=1000000 announces more curves than the file has lines"));
    // The layout of one specimen, a landmark per row, says so.
    EXPECT_THAT(import_refusal("x.nts", "1 15 2 0 dim=2\n" + std::string(15 * 4, ' ')),
                HasSubstr("the layout of a single specimen"));
}

TEST(ImportHardening, MessagesQuoteTheFileSafely) {
    // Control bytes of an ID cannot reach the terminal.
    const std::string hostile = "LM=2\n0 0\n1 x\nID=\x1b[2J\x1b]0;owned\x07\n";
    const std::string m = import_refusal("t.tps", hostile);
    EXPECT_THAT(m, HasSubstr("specimen \\x1B[2J\\x1B]0;owned\\x07: landmark 2 has text"));
    EXPECT_EQ(m.find('\x1b'), std::string::npos);
    // Nor can they through a report that lists the specimens by ID.
    TempDir dir;
    std::string tps = read_bytes(data_file("plethodon.tps"));
    tps.replace(tps.find("ID=P01"), 6, "ID=\x1b[2J\x1b]0;owned\x07");
    const auto report = test::run_batch({"outliers", "--import", dir.write("c.tps", tps)});
    ASSERT_EQ(report.status, 0) << report.err;
    EXPECT_THAT(report.out, HasSubstr("\\x1B[2J\\x1B]0;owned\\x07"));
    EXPECT_EQ(report.out.find('\x1b'), std::string::npos);
    // A NUL does not cut the message short.
    const std::string nul = import_refusal("t.tps", std::string("LM=2\n0 0\n1 \0\n", 13));
    EXPECT_THAT(nul, HasSubstr("(\"\\x00\")"));
    EXPECT_THAT(nul, HasSubstr("Nothing was imported."));
    // A huge token is shortened.
    EXPECT_LT(import_refusal("t.tps", "LM=2\n0 0\n1 " + std::string(5 << 20, 'x') + "\n").size(), 400u);
    // UTF-16 says what it is.
    EXPECT_THAT(import_refusal("t.tps", std::string("\xFF\xFEL\0M\0=\0", 8)), HasSubstr("UTF-16 text: save it as UTF-8"));
}

TEST(ImportHardening, RefusalsAndWarningsNameTheLineTheyAreAbout) {
    // A specimen whose landmarks are all at one point: the line where its block starts.
    EXPECT_THAT(import_refusal("t.tps", std::string(kSquareTps) + "\nLM=3\n5 5\n5 5\n5 5\nID=c\n"),
                HasSubstr("line 12, specimen c: all its landmarks are at one point"));
    // An empty cell of a factor table: that table and its line.
    const auto table = text_from_bytes("ID,habitat\na,wet\nb,\n", "/data/f.csv");
    EXPECT_THAT(import_refusal("s.tps", kSquareTps, choose_columns({"habitat"}), &table),
                HasSubstr("The file /data/f.csv could not be imported: line 3, specimen b: the factor"));
    // An ID column the factor table does not have is refused, not replaced by its first column.
    ImportOptions o;
    o.id_column = "nosuch";
    const auto keyed = text_from_bytes("ID,habitat\na,wet\nb,dry\n", "/data/f.csv");
    EXPECT_THAT(import_refusal("s.tps", kSquareTps, o, &keyed), HasSubstr("no ID column \"nosuch\" in the factor table"));
    const auto twice = text_from_bytes("ID,species,Species\na,x,x\nb,y,y\n", "/data/f.csv");
    EXPECT_THAT(import_refusal("s.tps", kSquareTps, {}, &twice),
                HasSubstr("line 1, the column \"Species\" is named twice (columns 2 and 3)"));
    const auto control = text_from_bytes(std::string("ID,g\na,x\0y\nb,z\n", 15), "/data/f.csv");
    EXPECT_THAT(import_refusal("s.tps", kSquareTps, choose_columns({"g"}), &control),
                HasSubstr("line 2, specimen a: the factor \"g\" has the level \"x\\x00y\", which holds a control character"));
}

TEST(ImportHardening, EndlessFilesStopAtTheLineLimit) {
    const std::string message = quillan::test::error_of([] { import_file("/dev/zero"); });
    EXPECT_THAT(message, HasSubstr("line 1 is more than 64 MB long"));
    EXPECT_THAT(message, HasSubstr("Nothing was imported."));
}

// Gaps and curves on import: what is refused and how, what is estimated and
// slid, and where the user reads what was done (report, JSON, exports).

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
        // A specimen without gaps, and the present landmarks of one with them, stay as read.
        EXPECT_EQ(Matrix(d.landmarks.block(0, 0, 1, 8)), matrix_from_rows({{0, 0, 2, 0, 1, 2, 1, 1}}));
        EXPECT_EQ(Matrix(d.landmarks.block(2, 0, 1, 6)), matrix_from_rows({{0, 0.1, 2, 0, 1, 1.9}}));
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

// A factor table with NA cells: the specimens left out, with the count in
// the data line and the IDs in the JSON.
TEST(ImportSteps, SpecimensWithoutAFactorValueAreLeftOutOnRequest) {
    TempDir dir;
    std::string table = "ID,species\n";
    for (int i = 1; i <= 40; ++i) {
        const std::string id = (i < 10 ? "P0" : "P") + std::to_string(i);
        table += id + "," + (i == 3 || i == 27 ? "NA" : i <= 20 ? "Jord" : "Teyah") + "\n";
    }
    const auto r = run_batch({"one-way", "-i", data_file("plethodon.tps"), "--factors", dir.write("f.csv", table), "--factor",
                              "species", "-p", "9", "--json", dir.file("r.json"), "--leave-out-missing"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("with 38 specimens"));
    EXPECT_THAT(r.out, HasSubstr("2 specimens left out, having no value of \"species\""));
    EXPECT_THAT(r.out, HasSubstr("A single classifying variable with 2 groups"));
    const auto json = nlohmann::json::parse(read_bytes(dir.file("r.json")));
    EXPECT_EQ(json["run"]["left_out"], (std::vector<std::string>{"P03", "P27"}));
}

// Import and convert as users run them: in the window (through the
// dispatcher) and with quillan-batch.  Converted tables must give the same
// reports as the import itself, and a refused import must change nothing.

namespace {

// A report without the lines that name its input files.
std::string without_file_lines(const std::string& report) {
    std::string out;
    for (const auto& line : split_lines(report))
        if (line.find("File: ") == std::string::npos) out += line + "\n";
    return out;
}

// A factor table keyed by the IDs of the bundled TPS file.
std::string species_table() {
    const Matrix g = dload(data_file("plethodon.groups.txt"));
    std::string t = "ID,species,site\n";
    for (Eigen::Index i = 0; i < g.rows(); ++i) {
        char id[8];
        std::snprintf(id, sizeof id, "P%02d", static_cast<int>(i + 1));
        t += std::string(id) + (g(i, 0) == 1 ? ",Jord" : ",Teyah") + (g(i, 1) == 1 ? ",Allo\n" : ",Symp\n");
    }
    return t;
}

// A choice of the window's import controls, on the harness's window.
Handle popup(Harness& h, const char* tag, List entries = {Value("")}, double chosen = 1) {
    return h.gui.create(
        "uicontrol", h.window,
        {{"tag", Value(tag)}, {"style", Value("popupmenu")}, {"String", Value(entries)}, {"Value", Value(chosen)}});
}

}  // namespace

TEST(ImportAction, FillsTheThreeTablesWithTheLoadsDescriptions) {
    Harness h;
    h.shell.import_options() = io::choose_columns({"species", "site"}, "logCS");
    ASSERT_EQ(h.load("Import", data_file("plethodon.csv")), Outcome::Done) << h.last_message();
    EXPECT_EQ(
        h.box(kFileBox),
        "Data File: plethodon.csv with 40 specimens, 12 LM\n\nGroup File: plethodon.csv with 40 specimens,  2 group variables\n"
        "\nCovariate File: plethodon.csv with 40 specimens");
    const Workspace& ws = h.shell.workspace();
    EXPECT_EQ(ws.groups.cols(), 2);
    // Codes in order of first appearance: the first specimen's site, Symp, is site 1 here.
    const Matrix groups = dload(data_file("plethodon.groups.txt"));
    EXPECT_TRUE((ws.groups.col(0).array() == groups.col(0).array()).all());
    EXPECT_TRUE((ws.groups.col(1).array() == 3 - groups.col(1).array()).all());
    EXPECT_TRUE((ws.covariate.array() == dload(data_file("plethodon.cov.txt")).array()).all());
    EXPECT_EQ(h.shell.legend().ids.at(0), "P01");

    // A refused import leaves the workspace and the file box as they were.
    TempDir dir;
    const std::string bad = dir.write("bad.csv", "id,g,x1,y1,x2,y2\na,u,0,0,1,1\nb,,0,0,1,2\n");
    h.shell.import_options() = io::choose_columns({"g"});
    const std::string box = h.box(kFileBox);
    EXPECT_EQ(h.load("Import", bad), Outcome::Failed);
    EXPECT_THAT(h.last_message(), HasSubstr("line 3, specimen b"));
    EXPECT_EQ(h.box(kFileBox), box);
    EXPECT_EQ(h.shell.workspace().landmarks.rows(), 40);
    EXPECT_EQ(h.shell.legend().ids.at(0), "P01");

    // "Clear" forgets the legend with the tables.
    EXPECT_EQ(h.run("Clear"), Outcome::Done);
    EXPECT_TRUE(h.shell.legend().empty());
}

TEST(ImportAction, TheWindowChoosesWhichFactorIsG1AndG2) {
    Harness h;
    const Handle g1 = popup(h, "G1Choice"), g2 = popup(h, "G2Choice"), cov = popup(h, "CovariateChoice");
    h.gui.create("uicontrol", h.window, {{"tag", Value("LegendBox")}, {"style", Value("text")}, {"String", Value("")}});
    ASSERT_EQ(h.load("Import", data_file("plethodon.csv")), Outcome::Done) << h.last_message();
    EXPECT_EQ(string_lines(h.gui.get(g1, "String")), (std::vector<std::string>{"(none)", "species", "site"}));
    EXPECT_EQ(h.gui.get(g2, "Value").scalar(), 3.0);
    // The import's centroid sizes are a covariate too.
    EXPECT_EQ(string_lines(h.gui.get(cov, "String")), (std::vector<std::string>{"(none)", "logCS", "C_size"}));
    EXPECT_THAT(h.box("LegendBox"), HasSubstr("G1 = species: 1 Jord 2 Teyah"));

    // Site as G1, no G2, the covariate taken.
    h.gui.set(g1, "Value", Value(3.0));
    h.gui.set(g2, "Value", Value(1.0));
    h.gui.set(cov, "Value", Value(2.0));
    ASSERT_EQ(h.run("ChooseGroups"), Outcome::Done) << h.last_message();
    const Workspace& ws = h.shell.workspace();
    ASSERT_EQ(ws.groups.cols(), 1);
    EXPECT_EQ(ws.groups(0, 0), 1.0);  // the first specimen's site, Symp, is the first level met
    EXPECT_EQ(ws.covariate.rows(), 40);
    EXPECT_THAT(h.box(kFileBox), HasSubstr("with 40 specimens,  1 group variables\n\nCovariate File: plethodon.csv"));
    EXPECT_THAT(h.box("LegendBox"), HasSubstr("G1 = site: 1 Symp 2 Allo"));
    h.gui.set(cov, "Value", Value(3.0));
    ASSERT_EQ(h.run("ChooseGroups"), Outcome::Done) << h.last_message();
    EXPECT_EQ(ws.covariate(5, 0), ws.landmarks(5, ws.landmarks.cols() - 1));
    h.shell.given_options()["formula"] = "log(C_size) + site";
    h.set_box(kPermBox, Value("19"));
    EXPECT_EQ(h.run("RunModel"), Outcome::Reported) << h.last_message();
    // Landmarks loaded afterwards have sizes of their own.
    ASSERT_EQ(h.load("Load", data_file("plethodon.lm.txt")), Outcome::Done);
    for (const auto& n : h.shell.legend().numbers) EXPECT_NE(n.name, "C_size");

    // G2 without G1 is refused and changes nothing.
    h.gui.set(g1, "Value", Value(1.0));
    h.gui.set(g2, "Value", Value(2.0));
    EXPECT_EQ(h.run("ChooseGroups"), Outcome::Failed);
    EXPECT_EQ(h.shell.workspace().groups.cols(), 1);

    // "Clear" leaves no factor on offer or shown as chosen.
    ASSERT_EQ(h.run("Clear"), Outcome::Done);
    for (const Handle box : {g1, g2, cov}) {
        EXPECT_EQ(string_lines(h.gui.get(box, "String")), (std::vector<std::string>{"(none)"}));
        EXPECT_EQ(h.gui.get(box, "Value").scalar(), 1.0);
    }
}

// The centroid sizes, asked for by name, are the covariate in batch as in
// the window's box: the same test as with a file of them.
TEST(ImportAction, TheCentroidSizesAreACovariateByName) {
    TempDir dir;
    const Matrix lm = dload(data_file("plethodon.lm.txt"));
    std::string sizes;
    for (Eigen::Index i = 0; i < lm.rows(); ++i) sizes += format_expand_reuse("%.17g\n", {lm(i, lm.cols() - 1)});
    const std::string cov = dir.write("sizes.txt", sizes);
    const auto by_name = test::run_batch({"one-way-cov", "--import", data_file("plethodon.csv"), "--factor", "species",
                                          "--covariate-column", "c_size", "--perm", "19", "--seed", "4"});
    const auto by_file = test::run_batch({"one-way-cov", "-l", data_file("plethodon.lm.txt"), "-g",
                                          data_file("plethodon.species.groups.txt"), "-c", cov, "--perm", "19", "--seed", "4"});
    ASSERT_EQ(by_name.status, 0) << by_name.err;
    ASSERT_EQ(by_file.status, 0) << by_file.err;
    const auto numbers = [](const std::string& report) { return report.substr(report.find("Mean square distance")); };
    EXPECT_EQ(numbers(by_name.out), numbers(by_file.out));
    // Any other name the file lacks is refused as before.
    const auto other = test::run_batch({"one-way-cov", "--import", data_file("plethodon.csv"), "--covariate-column", "sizes"});
    EXPECT_THAT(other.err, HasSubstr("no covariate column \"sizes\""));
}

// A group file with a header is a table of factors: matched to the
// imported specimens by ID, whatever its order, its columns then on offer.
TEST(ImportAction, AHeadedGroupFileIsAFactorTableMatchedById) {
    Harness h;
    const Handle g1 = popup(h, "G1Choice"), cov = popup(h, "CovariateChoice");
    TempDir dir;
    std::vector<std::string> rows = split_lines(species_table());
    if (rows.back().empty()) rows.pop_back();
    std::reverse(rows.begin() + 1, rows.end());
    std::string reversed;
    for (std::size_t i = 0; i < rows.size(); ++i) reversed += rows[i] + (i ? ",1." + std::to_string(i) : ",size") + "\n";
    const std::string table = dir.write("factors.csv", reversed);
    ASSERT_EQ(h.load("Import", data_file("plethodon.tps")), Outcome::Done) << h.last_message();
    ASSERT_EQ(h.load("LoadGlist", table), Outcome::Done) << h.last_message();
    const Matrix groups = dload(data_file("plethodon.groups.txt"));
    const Workspace& ws = h.shell.workspace();
    ASSERT_EQ(ws.groups.rows(), 40);
    EXPECT_TRUE((ws.groups.col(0).array() == groups.col(0).array()).all());
    EXPECT_TRUE((ws.groups.col(1).array() == 3 - groups.col(1).array()).all());
    EXPECT_THAT(h.box(kFileBox), HasSubstr("Group File: factors.csv with 40 specimens,  2 group variables\n"
                                           "Matched by specimen ID to the specimens of plethodon.tps"));
    EXPECT_EQ(string_lines(h.gui.get(g1, "String")), (std::vector<std::string>{"(none)", "species", "site"}));
    EXPECT_EQ(string_lines(h.gui.get(cov, "String")), (std::vector<std::string>{"(none)", "C_size", "size"}));
    h.gui.set(cov, "Value", Value(3.0));
    ASSERT_EQ(h.run("ChooseGroups"), Outcome::Done) << h.last_message();
    EXPECT_DOUBLE_EQ(ws.covariate(0, 0), 1.4);  // P01, the table's last row
    ASSERT_EQ(h.run("RunOneWay"), Outcome::Reported) << h.last_message();
    EXPECT_EQ(h.shell.last_record().run.groups.at(0).name, "species");

    // Refused, changing nothing: a specimen the table lacks, and landmarks
    // without IDs to match by.
    struct Case {
        std::string landmarks, table, message;
    };
    const std::string short_table = dir.write("short.csv", "ID,sex\nP01,f\nP02,m\n");
    const Case cases[] = {
        {data_file("plethodon.tps"), short_table, "P03: the factor table has no row for this specimen of plethodon.tps"},
        {data_file("plethodon.lm.txt"), table, "the specimens of plethodon.lm.txt carry no IDs"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(h.load(c.landmarks.find(".tps") != std::string::npos ? "Import" : "Load", c.landmarks), Outcome::Done);
        const std::string box = h.box(kFileBox);
        const Matrix before = ws.groups;
        EXPECT_EQ(h.load("LoadGlist", c.table), Outcome::Failed);
        EXPECT_THAT(h.last_message(), HasSubstr(c.message));
        EXPECT_EQ(h.box(kFileBox), box);
        EXPECT_EQ(ws.groups, before);
    }
}

TEST(ImportBatch, ScaledTpsWithAFactorTableMatchesTheBundledTables) {
    TempDir dir;
    const std::string table = dir.write("factors.csv", species_table());
    const std::string links = dir.write("wing.links.txt", "1 2\n2 3\n");
    const auto imported =
        run_batch(batch_args("one-way-f", "--import", data_file("plethodon.tps"), "--factors", table, "--factor", "species", "-p",
                             "49", "-s", "3", "--json", dir.file("r.json"), "--csv", dir.file("r.csv"), "--export-specimens",
                             dir.file("s.csv"), "--plots", dir.file("pictures"), "--links", links));
    const auto loaded = run_batch({"one-way-f", "-l", data_file("plethodon.lm.txt"), "-g",
                                   data_file("plethodon.species.groups.txt"), "-p", "49", "-s", "3"});
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(without_file_lines(imported.out), without_file_lines(loaded.out));
    EXPECT_THAT(read_bytes(dir.file("r.json")), HasSubstr("\"name\": \"plethodon.tps\""));
    EXPECT_THAT(read_bytes(dir.file("r.json")), HasSubstr("\"levels\": [\n          \"Jord\",\n          \"Teyah\"\n        ]"));
    EXPECT_THAT(read_bytes(dir.file("r.csv")), HasSubstr("\nRunOneWayF,G1,"));
    EXPECT_THAT(read_bytes(dir.file("s.csv")), HasSubstr("\n1,P01,Jord,1,"));
    // The groups came from the table: the report and every export say so,
    // with the table's own checksum, and the pictures' wireframe is listed too.
    EXPECT_THAT(imported.out, HasSubstr("Group File: factors.csv with 40 specimens,  1 group variables"));
    EXPECT_THAT(read_bytes(dir.file("r.json")), HasSubstr("\"role\": \"groups\",\n        \"name\": \"factors.csv\",\n        "
                                                          "\"sha256\": \"" +
                                                          sha256_of_file(table) + "\""));
    EXPECT_THAT(read_bytes(dir.file("r.json")), HasSubstr("\"role\": \"links\",\n        \"name\": \"wing.links.txt\""));
    const std::string csv = read_bytes(dir.file("r.csv"));
    EXPECT_THAT(csv, HasSubstr(",other,inputs\n"));
    EXPECT_THAT(csv, HasSubstr("landmarks=plethodon.tps " + sha256_of_file(data_file("plethodon.tps")) + ";groups=factors.csv " +
                               sha256_of_file(table) + ";links=wing.links.txt " + sha256_of_file(links)));
}

TEST(ImportBatch, RefusedFilesAndUsageErrorsSayWhy) {
    TempDir dir;
    const std::string ragged = dir.write("ragged.csv", "id,x1,y1,x2,y2\na,0,0,1,1\nb,0,0,1\n");
    const auto r = run_batch({"one-way", "--import", ragged});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("ragged.csv could not be imported: line 3, specimen b: the row has 4 cells"));
    const auto c = run_batch({"convert", ragged, "--out-prefix", dir.file("out")});
    EXPECT_EQ(c.status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.lm.txt")));
    EXPECT_EQ(run_batch({"convert", ragged}).status, 64);
    EXPECT_EQ(run_batch({"one-way", "--import", ragged, "--factor", "a", "--factor", "b", "--factor", "c"}).status, 64);
    const auto dup = run_batch({"import", "--import", dir.write("d.tps", "LM=2\n0 0\n1 0\nID=a\nLM=2\n0 0\n2 1\nID=a\n")});
    EXPECT_EQ(dup.status, 0);
    EXPECT_THAT(dup.err, HasSubstr("quillan-batch: Possible error: The specimen ID \"a\" appears 2 times in d.tps (lines 4, 8)"));
    EXPECT_EQ(dup.out, "Data File: d.tps with 2 specimens, 2 LM\n\n");
}

TEST(ImportAction, TheWindowChoosesHowGapsAndCurvesAreTaken) {
    Harness h;
    const Handle negative = popup(h, "NegativeChoice", {Value("points"), Value("missing")});
    const Handle gaps = popup(h, "GapsChoice", {Value("refuse"), Value("tps"), Value("reg")});
    const Handle curves = popup(h, "CurvesChoice", {Value("skip"), Value("be"), Value("procd")});
    const std::string file = data_file("plethodon_curves.tps");
    // By default the gaps are refused and nothing changes.
    EXPECT_EQ(h.load("Import", file), Outcome::Failed);
    EXPECT_THAT(h.last_message(), HasSubstr("P17 (line 561): landmarks 7, 8"));
    EXPECT_EQ(h.shell.workspace().landmarks.size(), 0);
    // Estimated and slid: the file box and the console say so.
    h.gui.set(negative, "Value", Value(2.0));
    h.gui.set(gaps, "Value", Value(2.0));
    h.gui.set(curves, "Value", Value(2.0));
    ASSERT_EQ(h.load("Import", file), Outcome::Done);
    EXPECT_EQ(h.shell.workspace().landmarks.cols(), 57);
    EXPECT_THAT(h.shell.workspace().landmarks_info,
                HasSubstr("12 semilandmarks slid by bending energy; 4 landmarks estimated (tps): P05 3; P17 7, 8; P30 12"));
    EXPECT_THAT(h.console_text.str(), HasSubstr("semilandmarks slid by bending energy: 11 iterations"));
}

// A refusal the Curves choice brought about names it, in the window and in
// quillan-batch, with the choice that imports the file instead; others do not.
TEST(ImportAction, RefusalsCausedByTheCurvesChoiceNameIt) {
    TempDir dir;
    const std::string uneven = dir.write("uneven.tps",
                                         "LM=2\n0 0\n4 0\nCURVES=1\nPOINTS=3\n0 0\n2 1\n4 0\nID=a\n"
                                         "LM=2\n0 0\n4 1\nCURVES=1\nPOINTS=4\n0 0\n1 1\n3 1\n4 1\nID=b\n");
    const std::string curves = data_file("plethodon_curves.tps");
    const std::string keeps =
        "the choice \"Curves: slide be\" (--semilandmarks) keeps the curve points as semilandmarks: "
        "\"Curves: skip\" (without --semilandmarks) imports the LM= landmarks alone. Nothing was imported.";
    struct Case {
        std::vector<std::string> args;
        std::string said;  // empty: no choice named
    };
    const Case cases[] = {
        {{"--import", uneven, "--semilandmarks"}, keeps},
        {{"--import", curves, "--negative-missing", "--estimate-missing", "tps", "--semilandmarks", "--slide-strict",
          "--slide-iterations", "2"},
         "the choice \"Curves: slide be, strict\" (--semilandmarks --slide-strict) refuses sliding that has not settled: "
         "\"Curves: slide be\" (without --slide-strict) uses the coordinates at the limit"},
        {{"--import", curves, "--semilandmarks"}, ""},  // its gaps, whatever the curves
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"import"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = run_batch(args);
        EXPECT_EQ(r.status, 1) << r.err;
        if (c.said.empty()) EXPECT_THAT(r.err, Not(HasSubstr("Curves"))) << r.err;
        else EXPECT_THAT(r.err, HasSubstr(c.said)) << r.err;
    }
    Harness h;
    popup(h, "CurvesChoice", {Value("skip"), Value("be"), Value("procd")}, 2);
    EXPECT_EQ(h.load("Import", uneven), Outcome::Failed);
    EXPECT_THAT(h.last_message(), HasSubstr(keeps));
}

// The record of a report: every number the report prints is in it, at full
// precision, and the ties-included counts sit beside the report's counts.

namespace {

// A number as the report prints it, with its digits after the point.
struct Printed {
    double value;
    int decimals;
};

// Numbers standing on their own in a text ("F=6.6275," but not the 1 of "df1").
std::vector<Printed> printed_numbers(const std::string& text) {
    std::vector<Printed> out;
    for (std::size_t i = 0; i < text.size();) {
        const bool starts = std::isdigit(static_cast<unsigned char>(text[i])) &&
                            (i == 0 || (!std::isalnum(static_cast<unsigned char>(text[i - 1])) && text[i - 1] != '.'));
        if (!starts) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
        int decimals = 0;
        if (j + 1 < text.size() && text[j] == '.' && std::isdigit(static_cast<unsigned char>(text[j + 1]))) {
            const std::size_t d = ++j;
            while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
            decimals = static_cast<int>(j - d);
        }
        if (j == text.size() || !std::isalpha(static_cast<unsigned char>(text[j])))
            out.push_back({std::stod(text.substr(i, j - i)), decimals});
        i = j;
    }
    return out;
}

bool same_to_printed_digits(double v, const Printed& p) {
    return std::abs(v - p.value) <= 0.5 * std::pow(10.0, -p.decimals) * (1 + 1e-9);
}

std::vector<double> recorded_numbers(const ResultRecord& rec) {
    std::vector<double> all;
    for (const auto& [k, v] : rec.values) all.push_back(v);
    for (const auto& m : rec.models) {
        for (const auto& [k, v] : m.values) all.push_back(v);
        for (const auto& t : m.tests) {
            all.push_back(t.p);
            all.push_back(static_cast<double>(t.count));
        }
    }
    all.push_back(static_cast<double>(rec.run.permutations));
    return all;
}

struct Case {
    const char* action;
    const char* landmarks;
    const char* groups;
    const char* covariate;
    int model;
};

// Runs an action on bundled data with a fixed seed.
struct AnalysisRun : Loaded {
    explicit AnalysisRun(const Case& c, const char* perms = "99")
        : Loaded({.landmarks = c.landmarks,
                  .groups = c.groups,
                  .covariate = c.covariate ? c.covariate : "",
                  .seed = 7,
                  .perms = perms}) {
        shell.options().threads = 2;
        gui.set(gui.findobj_tag(kCovBox).front(), "Value", Value(static_cast<double>(c.model)));
        EXPECT_EQ(run(c.action), Outcome::Reported) << c.action << ": " << last_message();
    }
};

const Case kCases[] = {
    {"RunOneWay", "plethodon.lm.txt", "plethodon.species.groups.txt", nullptr, 1},
    {"RunOneWayF", "plethodon.lm.txt", "plethodon.species.groups.txt", nullptr, 1},
    {"RunTwoWay", "plethodon.lm.txt", "plethodon.groups.txt", nullptr, 1},
    {"RunTwoWayF", "plethodon.lm.txt", "plethodon.groups.txt", nullptr, 1},
    {"RunTwoWayNest", "larvalHead.lm.txt", "larvalMorph.groups.txt", nullptr, 1},
    {"RunOneStand", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt", 2},
    {"RunTwoStand", "plethodon.lm.txt", "plethodon.groups.txt", "plethodon.cov.txt", 3},
    {"RunOneStandF", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt", 3},
    {"RunTwoStandF", "plethodon.lm.txt", "plethodon.groups.txt", "plethodon.cov.txt", 5},
    {"RunOneCov", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt", 1},
    {"RunTwoCov", "plethodon.lm.txt", "plethodon.groups.txt", "plethodon.cov.txt", 1},
};

}  // namespace

TEST(ResultRecord, HoldsEveryNumberOfEveryReportToThePrintedDigits) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.action);
        AnalysisRun h(c);
        const std::string report = h.box(kResultsBox);
        const ResultRecord& rec = h.shell.last_record();
        ASSERT_EQ(rec.run.action, c.action);
        ASSERT_FALSE(rec.models.empty());
        const auto printed = printed_numbers(report);
        const auto recorded = recorded_numbers(rec);
        // Each recorded number is printed somewhere in the report, rounded as printed ...
        for (const auto& m : rec.models) {
            for (const auto& [key, v] : m.values) {
                if (key == "groups") continue;  // not every report prints its number of groups
                const bool found = std::any_of(printed.begin(), printed.end(),
                                               [&, value = v](const Printed& p) { return same_to_printed_digits(value, p); });
                EXPECT_TRUE(found) << m.name << " " << key << " = " << v;
            }
            for (const auto& t : m.tests) {
                const bool found = std::any_of(printed.begin(), printed.end(), [&](const Printed& p) {
                    return p.decimals > 0 && same_to_printed_digits(t.p, p);
                });
                EXPECT_TRUE(found) << m.name << " p = " << t.p;
                EXPECT_EQ(t.nperm, 99);
                EXPECT_GE(t.count_ge, t.count);
                // A p is a bound where no permutation reached the observed value, and then printed "p<".
                EXPECT_EQ(t.p_bound, t.count == 0) << m.name << " count " << t.count;
                if (t.p_bound) {
                    EXPECT_NE(report.find("p<"), std::string::npos) << m.name;
                }
            }
        }
        // ... and every number with decimals in the report is in the record.
        for (const Printed& p : printed) {
            if (p.decimals == 0) continue;
            const bool found =
                std::any_of(recorded.begin(), recorded.end(), [&](double v) { return same_to_printed_digits(v, p); });
            EXPECT_TRUE(found) << "the report's " << p.value << " (" << p.decimals << " decimals) is not recorded";
        }
        EXPECT_EQ(rec.run.specimens, std::string(c.landmarks) == "plethodon.lm.txt" ? 40 : 114);
        EXPECT_EQ(rec.run.seeds.size() >= 1, true);
        EXPECT_TRUE(rec.run.seeded);
        ASSERT_GE(rec.run.inputs.size(), 2u);
        EXPECT_EQ(rec.run.inputs[0].sha256.size(), 64u);
    }
}

TEST(ResultRecord, TiesAreCountedBesideTheReportsCount) {
    // Four specimens in two groups of two: a third of all shuffles give back
    // the observed partition, whose explained sum then ties exactly.
    Harness h;
    const Matrix data = make_shapes({1, 1, 2, 2}, 4, 11, 0.05);
    Matrix g(4, 1);
    g << 1, 1, 2, 2;
    put_tables(h.shell, data, g);
    h.shell.options().seed = 3;
    h.set_box(kPermBox, Value("300"));
    ASSERT_EQ(h.run("RunOneWay"), Outcome::Reported);
    const RecordedTest& t = h.shell.last_record().models.at(0).tests.at(0);
    EXPECT_GT(t.count_ge, t.count + 50);
    EXPECT_DOUBLE_EQ(t.p_ge(), (t.count_ge + 1.0) / 301.0);

    // Real data with a continuous statistic: no ties, the two counts agree.
    AnalysisRun r(kCases[0], "199");
    const RecordedTest& u = r.shell.last_record().models.at(0).tests.at(0);
    EXPECT_EQ(u.count_ge, u.count);
}

TEST(ResultRecord, JsonAndCsvCarryTheRunAndOneRowPerModel) {
    AnalysisRun h(kCases[2]);
    TempDir dir;
    h.shell.write_results(dir.file("r.json"), false);
    h.shell.write_results(dir.file("r.csv"), true);
    const auto j = nlohmann::json::parse(read_bytes(dir.file("r.json")));
    EXPECT_EQ(j["run"]["action"], "RunTwoWay");
    EXPECT_EQ(j["run"]["permutations"], 99);
    EXPECT_EQ(j["run"]["inputs"][0]["name"], "plethodon.lm.txt");
    EXPECT_EQ(j["run"]["inputs"][0]["sha256"].get<std::string>().size(), 64u);
    EXPECT_EQ(j["run"]["groups"][0]["levels"], nlohmann::json({"1", "2"}));
    // What each permutation loop compared, named as the histograms are.
    ASSERT_EQ(j["run"]["statistics"].size(), 1u);
    ASSERT_EQ(j["run"]["statistics"][0].size(), 5u);
    EXPECT_EQ(j["run"]["statistics"][0][0], "Two-way test: explained SS, G1 x G2 cells");
    EXPECT_EQ(j["run"]["statistics"][0][4], "Two-way test: explained SS, G1 x G2 cells with G1 shuffled");
    ASSERT_EQ(j["models"].size(), 5u);
    const auto& cells = j["models"][0];
    EXPECT_EQ(cells["name"], "G1 x G2 cells");
    const RecordedModel& m = h.shell.last_record().models[0];
    EXPECT_EQ(cells["values"]["explained_ss"].get<double>(), *m.value("explained_ss"));  // written without loss
    EXPECT_EQ(cells["tests"][0]["count_ge"], m.tests[0].count_ge);

    const std::string csv = read_bytes(dir.file("r.csv"));
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 6);
    EXPECT_THAT(csv,
                HasSubstr("action,model,total_ss,explained_ss,unexplained_ss,percent_explained,ss,F,df1,df2,statistic,observed,"
                          "permutations,count,p,p_is_bound,count_ge,p_ge,other,inputs\n"));
    EXPECT_THAT(csv, HasSubstr("\nRunTwoWay,G1 x G2 cells against G1 with G2 shuffled,"));

    // Nothing to export before a report, and a failed export leaves the old file.
    Harness fresh;
    EXPECT_THROW(fresh.shell.write_results(dir.file("r.json"), false), QuillanError);
    EXPECT_EQ(nlohmann::json::parse(read_bytes(dir.file("r.json")))["run"]["action"], "RunTwoWay");
}

TEST(SpecimenExport, AlignedCoordinatesDistancesAndStandardisedShapes) {
    AnalysisRun h(kCases[5]);  // covariate model 2
    TempDir dir;
    h.shell.write_specimens(dir.file("s.csv"), CovariateChoice::SameSlope);
    const std::string csv = read_bytes(dir.file("s.csv"));
    const auto lines = split_lines(csv);
    ASSERT_EQ(std::count(csv.begin(), csv.end(), '\n'), 41);
    EXPECT_THAT(lines[0], HasSubstr("specimen,id,G1,G1_code,covariate,centroid_size,procrustes_distance,x1,y1,"));
    EXPECT_THAT(lines[0], HasSubstr(",x12,y12,std_x1,std_y1,"));
    const Matrix data = h.shell.workspace().landmarks;
    const Consensus c = full_procrustes_consensus(data);
    const Matrix d = full_procrustes_distances(c.y, data);
    const auto row = io::split_delimited(lines[3], ',');  // the third specimen
    ASSERT_EQ(row.size(), 7u + 24u + 24u);
    EXPECT_EQ(std::stod(row[5]), centroid_sizes(data)(2));
    EXPECT_EQ(std::stod(row[6]), d(2, 0));
    EXPECT_EQ(std::stod(row[7]), c.xpt(2, 0));
    EXPECT_EQ(std::stod(row[30]), c.xpt(2, 23));
    EXPECT_NE(row[31], row[7]);  // the standardised shape differs from the raw one

    h.shell.write_specimens(dir.file("plain.csv"), CovariateChoice::None);
    EXPECT_EQ(split_lines(read_bytes(dir.file("plain.csv")))[0].find("std_x1"), std::string::npos);
}

// Names come from the user's files in any encoding: a byte that is not UTF-8
// becomes U+FFFD in the JSON instead of stopping the export.
TEST(ResultRecord, JsonReplacesBytesThatAreNotUtf8) {
    ResultRecord rec;
    rec.run.action = "RunOneWay";
    rec.run.inputs.push_back({"landmarks", "lm\xe9.txt", "", ""});
    rec.run.groups.push_back({"G1", {"J\xf6rd", "ok"}});
    const auto j = nlohmann::json::parse(io::results_json(rec));
    EXPECT_EQ(j["run"]["inputs"][0]["name"], "lm\xef\xbf\xbd.txt");
    EXPECT_EQ(j["run"]["groups"][0]["levels"][0], "J\xef\xbf\xbdrd");
}
