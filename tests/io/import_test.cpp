#include "io/import.hpp"
#include "io/output.hpp"
#include "platform/error.hpp"
#include "shell/shell.hpp"
#include "shell/window_env.hpp"
#include "support/fixtures.hpp"
#include "support/imports.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

using namespace quillan;
using namespace quillan::io;
using quillan::test::data_file;
using quillan::test::import_refusal;
using quillan::test::import_text;
using ::testing::HasSubstr;

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
    ASSERT_EQ(d.warnings.size(), 3u);
    EXPECT_THAT(d.warnings[0], HasSubstr("1 of 2 specimens"));
    EXPECT_THAT(d.warnings[0], HasSubstr("two"));
    // Skipped outline points are always told, not only in the trace.
    EXPECT_THAT(d.warnings[1], HasSubstr("3 outline points"));
    EXPECT_THAT(d.warnings[2], HasSubstr("negative coordinates"));
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

TEST(ImportTps, DuplicateIdsAreKeptWithAWarning) {
    const ImportedData d = import_text("d.tps", "LM=2\n0 0\n1 0\nID=a\nLM=2\n0 0\n2 0\nID=a\n");
    EXPECT_EQ(d.landmarks.rows(), 2);
    ASSERT_EQ(d.warnings.size(), 1u);
    EXPECT_THAT(d.warnings[0], HasSubstr("\"a\" appears 2 times"));
    EXPECT_THAT(d.warnings[0], HasSubstr("lines 4, 8"));  // the ID= lines
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
    EXPECT_THAT(import_refusal("x.nts", "1 1 4 0\n0 0 1 1 5\n"), HasSubstr("more values"));
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

TEST(ImportTable, FactorTableIsMatchedById) {
    const auto table = text_from_bytes("ID,habitat,mass\nb,dry,2\na,wet,1.5\n", "/data/f.csv");
    const ImportedData d = import_text("s.tps", kSquareTps, choose_columns({"habitat"}, "mass"), &table);
    EXPECT_EQ(d.legend.factors[0].levels, (std::vector<std::string>{"wet", "dry"}));
    EXPECT_EQ(d.covariate(1, 0), 2.0);
    const auto partial = text_from_bytes("ID,habitat\na,wet\n", "/data/f.csv");
    EXPECT_THAT(import_refusal("s.tps", kSquareTps, {}, &partial), HasSubstr("specimen b: the factor table has no row"));
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
        "LM=3\n12 11\n21 10\n-1 -1\nID=c\n";
    const ImportedData d = import_text("t.tps", tps);
    ASSERT_EQ(d.warnings.size(), 1u);
    EXPECT_THAT(d.warnings[0], HasSubstr("2 of 3 specimens in t.tps have negative coordinates"));
    EXPECT_THAT(d.warnings[0], HasSubstr("b (line 6): landmark 2; c (line 11): landmark 3"));
    ImportOptions missing;
    missing.negative_missing = true;
    EXPECT_THAT(import_refusal("t.tps", tps, missing),
                HasSubstr("negative coordinates mark missing landmarks in 2 specimens: b (line 6): landmark 2; c (line 11): "
                          "landmark 3; estimate or remove them"));
    // Coordinates about an origin are negative in every specimen: no warning.
    EXPECT_TRUE(import_text("o.tps", "LM=3\n-1 0\n1 0\n0 1\nLM=3\n-1 0\n1 0\n0 -2\n").warnings.empty());
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
}

TEST(ImportHardening, EndlessFilesStopAtTheLineLimit) {
    const std::string message = quillan::test::error_of([] { import_file("/dev/zero"); });
    EXPECT_THAT(message, HasSubstr("line 1 is more than 64 MB long"));
    EXPECT_THAT(message, HasSubstr("Nothing was imported."));
}
