// Landmarks in space from the files other programs write: the bundled
// macaques (data/macaques.lm.txt, read in its 3-D layout) written out as
// TPS, NTS, morphologika, a headed table and Slicer markups read back to
// the same numbers, and the faults of each format refused with their place.
#include "io/import.hpp"
#include "io/text.hpp"
#include "platform/error.hpp"
#include "support/batch_runner.hpp"
#include "support/fixtures.hpp"
#include "support/imports.hpp"
#include "window/shell.hpp"
#include "window/window_env.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace quillan;
using namespace quillan::io;
using quillan::test::data_file;
using quillan::test::error_of;
using quillan::test::import_text;
using quillan::test::TempDir;
using ::testing::HasSubstr;

namespace {

constexpr int kLandmarks = 7;  // of each macaque

Matrix macaques() { return dload(data_file("macaques.lm.txt")); }

std::string point(const Matrix& lm, Eigen::Index s, int j, const char* sep = " ") {
    return number_text(lm(s, 3 * j)) + sep + number_text(lm(s, 3 * j + 1)) + sep + number_text(lm(s, 3 * j + 2));
}

std::string as_tps(const Matrix& lm) {
    std::string out;
    for (Eigen::Index s = 0; s < lm.rows(); ++s) {
        out += "LM3=" + std::to_string(kLandmarks) + "\n";
        for (int j = 0; j < kLandmarks; ++j) out += point(lm, s, j) + "\n";
        out += "ID=m" + std::to_string(s + 1) + "\n";
    }
    return out;
}

// With each specimen's size after its landmarks.
std::string as_nts(const Matrix& lm) {
    std::string out = "\" the macaques\n1 " + std::to_string(lm.rows()) + "L " + std::to_string(lm.cols()) + " 0 DIM=3\n";
    for (Eigen::Index s = 0; s < lm.rows(); ++s) out += "m" + std::to_string(s + 1) + (s + 1 < lm.rows() ? " " : "\n");
    for (Eigen::Index s = 0; s < lm.rows(); ++s) {
        for (int j = 0; j < kLandmarks; ++j) out += point(lm, s, j) + " ";
        out += number_text(lm(s, lm.cols() - 1)) + "\n";
    }
    return out;
}

// `unseparated`: the specimen (from 1) whose separator line is left out.
std::string as_morphologika(const Matrix& lm, Eigen::Index unseparated = 0) {
    std::string out = "'macaques\n[individuals]\n" + std::to_string(lm.rows()) + "\n[landmarks]\n7\n[Dimensions]\n3\n[names]\n";
    for (Eigen::Index s = 0; s < lm.rows(); ++s) out += "m" + std::to_string(s + 1) + "\n";
    out += "[rawpoints]\n";
    for (Eigen::Index s = 0; s < lm.rows(); ++s) {
        if (s + 1 != unseparated) out += "'#" + std::to_string(s + 1) + "\n";
        for (int j = 0; j < kLandmarks; ++j) out += point(lm, s, j) + "\n";
    }
    return out + "[wireframe]\n1 2\n2 3\n";
}

// `reversed`: each landmark's columns in the order z, y, x.
std::string as_table(const Matrix& lm, bool reversed = false) {
    std::string out = "id";
    for (int j = 1; j <= kLandmarks; ++j)
        for (int a = 0; a < 3; ++a) out += "," + std::string(1, "xyz"[reversed ? 2 - a : a]) + std::to_string(j);
    out += "\n";
    for (Eigen::Index s = 0; s < lm.rows(); ++s) {
        out += "m" + std::to_string(s + 1);
        for (int j = 0; j < kLandmarks; ++j)
            for (int a = 0; a < 3; ++a) out += "," + number_text(lm(s, 3 * j + (reversed ? 2 - a : a)));
        out += "\n";
    }
    return out;
}

// Without `columns`, the file leaves its columns to Slicer's default order.
std::string as_fcsv(const Matrix& lm, Eigen::Index s, bool columns = true) {
    std::string out = "# Markups fiducial file version = 4.11\n# CoordinateSystem = LPS\n";
    if (columns) out += "# columns = id,x,y,z,ow,ox,oy,oz,vis,sel,lock,label,desc,associatedNodeID\n";
    for (int j = 0; j < kLandmarks; ++j)
        out += "vtkMRMLMarkupsFiducialNode_" + std::to_string(j) + "," + point(lm, s, j, ",") + ",0,0,0,1,1,1,0,F-" +
               std::to_string(j + 1) + ",,\n";
    return out;
}

std::string as_mrk_json(const Matrix& lm, Eigen::Index s) {
    std::string out =
        "{\"@schema\": \"markups-schema-v1.0.3.json#\",\n \"markups\": [{\"type\": \"Fiducial\", \"controlPoints\": [\n";
    for (int j = 0; j < kLandmarks; ++j)
        out += std::string(j ? ",\n" : "") + "  {\"id\": \"" + std::to_string(j + 1) + "\", \"label\": \"F-" +
               std::to_string(j + 1) + "\", \"position\": [" + point(lm, s, j, ", ") + "], \"positionStatus\": \"defined\"}";
    return out + "\n]}]}\n";
}

// A folder of markups, one file a specimen, named so that their order is the table's.
std::string markups_folder(const TempDir& dir, const Matrix& lm, bool json, bool columns = true) {
    std::filesystem::create_directories(dir.path() / "markups");
    for (Eigen::Index s = 0; s < lm.rows(); ++s) {
        char name[32];
        std::snprintf(name, sizeof name, "markups/m%02d%s", static_cast<int>(s + 1), json ? ".mrk.json" : ".fcsv");
        dir.write(name, json ? as_mrk_json(lm, s) : as_fcsv(lm, s, columns));
    }
    return dir.file("markups");
}

// The report without its data line, which names the file.
std::string report_body(const std::string& report) {
    const auto at = report.find("Data File:");
    return at == std::string::npos ? report : report.substr(report.find('\n', at));
}

}  // namespace

TEST(ImportSpace, EveryFormatReadsTheMacaquesToTheirNumbers) {
    const Matrix lm = macaques();
    ASSERT_EQ(lm.cols(), 3 * kLandmarks + 1);
    TempDir dir;
    struct Row {
        const char* format;
        std::function<ImportedData()> import;
        bool sizes;  // the file gives the sizes; otherwise they are the centroid sizes
    };
    const Row rows[] = {
        {"tps", [&] { return import_text("m.tps", as_tps(lm)); }, false},
        {"nts", [&] { return import_text("m.nts", as_nts(lm)); }, true},
        {"morphologika", [&] { return import_text("m.txt", as_morphologika(lm)); }, false},
        {"morphologika, a separator left out", [&] { return import_text("m.txt", as_morphologika(lm, 4)); }, false},
        {"table", [&] { return import_text("m.csv", as_table(lm)); }, false},
        {"table z, y, x", [&] { return import_text("m.csv", as_table(lm, true)); }, false},
        {"fcsv folder", [&] { return import_file(markups_folder(dir, lm, false)); }, false},
        {"fcsv folder, Slicer's default columns", [&] { return import_file(markups_folder(dir, lm, false, false)); }, false},
        {"mrk.json folder", [&] { return import_file(markups_folder(dir, lm, true)); }, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.format);
        const ImportedData d = r.import();
        std::filesystem::remove_all(dir.path() / "markups");
        EXPECT_EQ(d.dimensions, 3);
        ASSERT_EQ(d.landmarks.rows(), lm.rows());
        ASSERT_EQ(d.landmarks.cols(), lm.cols());
        EXPECT_TRUE((d.landmarks.leftCols(3 * kLandmarks).array() == lm.leftCols(3 * kLandmarks).array()).all());
        for (Eigen::Index s = 0; s < lm.rows(); ++s) {
            const Eigen::MatrixXd p = lm.row(s).head(3 * kLandmarks).reshaped(3, kLandmarks).transpose();
            const double centroid = std::sqrt((p.rowwise() - p.colwise().mean()).squaredNorm());
            EXPECT_NEAR(d.landmarks(s, 3 * kLandmarks), r.sizes ? lm(s, 3 * kLandmarks) : centroid, 1e-12 * centroid);
        }
        ASSERT_EQ(d.legend.ids.size(), 18u);
        EXPECT_EQ(d.legend.ids[9].substr(d.legend.ids[9].size() - 2), "10");  // in order, markups files by name
    }
}

TEST(ImportSpace, OneWayOnImportedFilesReportsAsOnTheNativeLayout) {
    const Matrix lm = macaques();
    TempDir dir;
    const std::string groups = data_file("macaques.groups.txt");
    const auto native = test::run_batch(
        {"one-way", "--dimensions", "3", "-l", data_file("macaques.lm.txt"), "-g", groups, "-p", "99", "-s", "7"});
    ASSERT_EQ(native.status, 0) << native.err;
    for (const std::string& imported : {dir.write("m.txt", as_morphologika(lm)), markups_folder(dir, lm, false)}) {
        SCOPED_TRACE(imported);
        const auto r = test::run_batch({"one-way", "--import", imported, "-g", groups, "-p", "99", "-s", "7"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_THAT(r.out, HasSubstr("with 18 specimens, 7 LM, 3-D"));
        EXPECT_EQ(report_body(r.out), report_body(native.out));
    }
}

TEST(ImportSpace, MorphologikaLabelsAndWireframe) {
    const std::string file =
        "[individuals]\n2\n[landmarks]\n3\n[dimensions]\n2\n[names]\nleft one\nright\n[rawpoints]\n'#1\n0 0\n4 0\n0 3\n"
        "'#2\n1 1\n2 1\nNA 5\n[labels]\nsex age\n[labelvalues]\nF 3\nM 4\n[wireframe]\n1 2\n";
    ImportOptions o = choose_columns({"sex"}, "age");
    EXPECT_THAT(error_of([&] { import_text("p.txt", file, o); }),
                HasSubstr("line 18, specimen right: landmark 3 is missing (\"NA\")"));
    const ImportedData e = import_text("p.txt", std::string(file).replace(file.find("NA 5"), 4, "0 3"), o);
    EXPECT_EQ(e.dimensions, 2);
    EXPECT_EQ(e.landmarks.cols(), 7);
    // (0,0), (4,0), (0,3): centroid (4/3, 1), squared distances 16/9+1 + 64/9+1 + 16/9+4.
    EXPECT_NEAR(e.landmarks(0, 6), std::sqrt(96.0 / 9 + 6), 1e-14);
    EXPECT_EQ(e.legend.ids, (std::vector<std::string>{"left one", "right"}));
    EXPECT_EQ(e.groups(1, 0), 2.0);
    EXPECT_EQ(e.covariate(1, 0), 4.0);
    EXPECT_EQ(e.legend.wireframe, (Links{{0, 1}}));
    EXPECT_TRUE(e.notices.empty());
    // Curves in space are skipped with a warning that offers sliding them.
    const ImportedData c = import_text("c.tps", "LM3=2\n0 0 0\n1 1 1\nCURVES=1\nPOINTS=3\n0 0 1\n0 1 1\n1 1 2\n");
    ASSERT_EQ(c.warnings.size(), 1u);
    EXPECT_THAT(c.warnings[0], HasSubstr("3 outline points (CURVES=/POINTS= blocks) in c.tps were skipped: only the LM3="));
    EXPECT_THAT(c.warnings[0], HasSubstr("--semilandmarks"));
}

TEST(ImportSpace, MalformedFilesAreRefusedNamingTheirPlace) {
    ImportOptions estimate, negative;
    estimate.estimate_missing = "tps";
    negative.negative_missing = true;
    const std::string morph = "[individuals]\n2\n[landmarks]\n2\n[dimensions]\n3\n[rawpoints]\n";
    const std::string head3 = "id,x1,y1,z1,x2,y2,z2\n";
    const std::string fcsv = "# columns = id,x,y,z,label\n";
    struct Row {
        const char* name;
        std::string bytes;
        const char* message;
        ImportOptions options = {};
    };
    const Row rows[] = {
        {"t.tps", "LM3=2\n0 0 0\n1 1 1\nID=a\nLM=2\n0 0\n1 1\n",
         "line 5, specimen number 2: an LM= block of 2-D landmarks, but the first specimen's are 3-D"},
        {"t.tps", "LM3=2\n0 0 0\n1 1\n", "line 3, specimen number 1: landmark 2 should be three numbers (x y z)"},
        {"t.tps", "LM3=2\n0 0 0\n1 1 z\n", "line 3, specimen number 1: landmark 2 has text where a coordinate belongs (\"z\")"},
        {"t.tps", "LM3=3\n0 0 0\n1 1 1\n", "LM3=3 announces 3 landmarks but only 2"},
        {"t.tps", "LM3=2\n0 0 0\n1 NA 1\nID=a\n", "line 3, specimen a: landmark 2 is missing (\"NA\")"},
        {"t.tps", "LM3=2\n0 0 0\n1 NA 1\nID=a\n", "specimen a has 1 landmarks present; estimating needs at least 4", estimate},
        {"t.tps", "LM3=2\n0 0 0\n1 1 -1\nLM3=2\n0 0 0\n1 1 1\n", "negative coordinates mark missing landmarks in 1 specimens",
         negative},
        {"x.nts", "1 1 8 0 DIM=3\n0 0 0 1 1 1 2 2\n", "8 values per specimen, which is not 3 coordinates per landmark"},
        {"x.nts", "1 2 6 0 DIM=3\n0 0 0 1 1 1\n0 0 0\n", "specimen number 2: the file ends within this specimen"},
        {"x.nts", "1 1 6 0 DIM=4\n0 0 0 1 1 1\n", "DIM= must be 2 or 3"},
        {"x.nts", "1 3 6 0 DIM=3\n0 0 0 1 1 1 2\n0 0 0 1 1\n0 0 0 1 1 1\n",
         "line 2, specimen number 1: the row holds 7 values, but the header announces 6 per specimen"},
        {"x.nts", "1 3 6 0 DIM=3\n0 0 0 1 1 1\n0 0 0 1 1\n0 0 0 1 1 1\n0 0 0 1 1 1\n",
         "line 3, specimen number 2: the row holds 5 values, but the header announces 6 per specimen; the specimen runs on "
         "into line 4"},
        {"t.csv", "id,x1,y1,z1,x2,y2,z2,x1\na,0,0,0,1,1,1,0\n", "the landmark \"1\" has two x columns (columns 2 and 8)"},
        {"t.csv", "id,x1,y1,X_1,x2,y2\na,0,0,0,1,1\n", "the landmark \"1\" has two x columns (columns 2 and 4)"},
        {"t.csv", "id,x1,y1,z1,x2,y2\na,0,0,0,1,1\n", "the landmark \"2\" has x and y columns but no z"},
        {"t.csv", head3 + "a,0,0,0,1,1,1\nb,0,0,0,1,1\n", "line 3, specimen b: the row has 6 cells but the header names 7"},
        {"t.csv", head3 + "a,0,0,0,1,1,one\n", "line 2, specimen a: landmark 2 has text where a coordinate belongs"},
        {"m.txt", morph + "0 0 0\n1 1 1\n0 0 0\n", "specimen number 2: [rawpoints] ends within this specimen: 1 of its 2"},
        {"m.txt", morph + "'#1\n0 0 0\n'#2\n1 1 1\n0 0 0\n2 2 2\n",
         "line 10, specimen number 1: the specimen has 1 points before"},
        {"m.txt", morph + "'#1\n0 0 0\n1 1 1\n2 2 2\n'#2\n0 0 0\n1 1 1\n",
         "line 11, specimen number 1: the specimen has more points than the 2 [landmarks] says"},
        {"m.txt", morph + "0 0 0\n1 1\n", "line 9, specimen number 1: landmark 2 should be 3 numbers but the line has 2"},
        {"m.txt", morph + "0 0 0\n1 1 1\n0 0 0\n1 1 1\n2 2 2\n", "line 12, more points than 2 individuals of 2 landmarks"},
        {"m.txt", "[individuals]\n2\n[landmarks]\n2\n[dimensions]\n4\n[rawpoints]\n", "[dimensions] must be 2 or 3"},
        {"m.txt", "[individuals]\ntwo\n", "line 2, [individuals] needs a whole number, not \"two\""},
        {"m.txt", "[individuals]\n2\n[landmarks]\n2\n[names]\na\n[rawpoints]\n", "[names] gives 1 names for 2 individuals"},
        {"m.txt", morph + "0 0 0\n1 1 1\n0 0 0\n1 1 1\n[labels]\nsex\n[labelvalues]\nF\nM x\n",
         "line 16, specimen number 2: the line has 2 values but [labels] names 1"},
        {"m.txt", "[names]\n\x1b]0;x\x07\n[names]\n", "the section \"[names]\" appears twice"},
        {"m.txt", morph + "0 0 0\n1 1 1\n0 0 0\n1 1 1\n[wireframe]\n1 2\n2 3\n",
         "line 14, [wireframe] names landmark 3, but the specimens have 2 landmarks"},
        {"m.txt", morph + "0 0 0\n1 1 1\n0 0 0\n1 1 1\n[wireframe]\n1 0\n", "line 13, [wireframe] names landmark 0"},
        {"m.txt", morph + "0 0 0\n1 1 1\n0 0 0\n1 1 1\n[wireframe]\n1 2 1\n",
         "line 13, a [wireframe] line should be two landmark numbers but has 3 values"},
        {"m.txt", morph + "0 0 0\n1 1 1\n0 0 0\n1 1 1\n[wireframe]\n1\n", "line 13, a [wireframe] line should be two"},
        {"m.txt", morph + "0 0 0\n1 1 1\n0 0 0\n1 1 1\n[wireframe]\n1 two\n",
         "line 13, [wireframe] has \"two\" where a landmark number belongs"},
        {"m.txt", morph + "0 0 0\n1 1 1\n0 0 0\n1 1 1\n[wireframe]\n1.5 2\n", "has \"1.5\" where a landmark number"},
        {"m.txt", morph + "0 0 0\n1 1 1\n0 0 0\n1 1 1\n[wireframe]\n2 2\n", "line 13, [wireframe] links landmark 2 to itself"},
        {"a.fcsv", fcsv + "1,0,0,0,a\n2,1,1,b,b\n", "line 3, specimen a: landmark 2 has text where a coordinate belongs (\"b\")"},
        {"a.fcsv", fcsv + "1,0,0\n", "line 2, specimen a: control point 1 has 3 cells, too few for its x, y and z"},
        {"a.fcsv", fcsv, "specimen a: it holds no control points"},
        {"a.fcsv", "# columns = id,x,x,x\n1,0,0,0\n", "line 1, specimen a: the columns line names the column x more than once"},
        {"a.fcsv", "# columns = id,x,y\n1,0,0,0\n", "the columns line names the column z nowhere"},
        {"a.mrk.json",
         "{\"markups\": [{\"controlPoints\": [\n{\"position\": [1e400, 2, 3]},\n{\"label\": \"F-2\", \"position\": [1, "
         "1e400, 2]}]}]}",
         "a.mrk.json could not be imported: line 2, specimen a: control point 1: the number \"1e400\" is beyond the range"},
        {"a.mrk.json",
         "{\"markups\": [{\"controlPoints\": [\n{\"position\": [1, 2, 3]},\n{\"label\": \"F-2\", \"position\": [1, 2]}]}]}",
         "specimen a: control point 2 (label \"F-2\") has no position of three numbers"},
        {"a.mrk.json",
         "{\"markups\": [{\"controlPoints\": [\n{\"position\": [1, 2, 3]},\n{\"label\": \"F-2\", \"position\": [1, "
         "-1e400, 2]}]}]}",
         "line 3, specimen a: control point 2 (label \"F-2\"): the number \"-1e400\" is beyond"},
        {"a.mrk.json", "{\"markups\": [\n{\"controlPoints\": [}\n]}", "line 2, it is not valid JSON"},
        {"a.mrk.json",
         "{\"markups\": [{\"controlPoints\": [{\"position\": [0, 0, 0], \"positionStatus\": \"undefined\"}, {\"position\": [1, "
         "0, 0]}]}]}",
         "specimen a: landmark 1 is missing (\"undefined\")"},
        {"a.mrk.json", std::string(100, '[') + std::string(100, ']'), "nested more than 64 levels deep"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.bytes);
        const std::string m = error_of([&] { import_text(r.name, r.bytes, r.options); });
        EXPECT_THAT(m, HasSubstr(r.message));
        EXPECT_THAT(m, HasSubstr("Nothing was imported."));
        EXPECT_EQ(m.find('\x1b'), std::string::npos);
    }
}

TEST(ImportSpace, FoldersOfMarkupsAreRefusedNamingTheFile) {
    TempDir dir;
    EXPECT_THAT(error_of([&] { import_file(dir.folder()); }), HasSubstr("holds no 3D Slicer markups files"));
    // Two landmarks in space span no shape, whatever the format.
    EXPECT_THAT(error_of([&] { import_file(dir.write("two.tps", "LM3=2\n0 0 0\n1 1 1\n")); }),
                HasSubstr("two.tps could not be imported: a specimen in 3-D needs at least three landmarks, and these have 2"));
    const Matrix lm = macaques();
    const std::string folder = markups_folder(dir, lm.topRows(3), false);
    dir.write("markups/m02.fcsv", "# columns = id,x,y,z\n1,0,0,0\n2,1,0,0\n");
    EXPECT_THAT(error_of([&] { import_file(folder); }),
                HasSubstr("markups/m02.fcsv could not be imported: specimen m02: has 2 landmarks, but the first specimen "
                          "(m01) has 7"));
}

TEST(ImportSpace, TheWindowImportsTheFolderOfAChosenMarkupsFile) {
    TempDir dir;
    const std::string folder = markups_folder(dir, macaques().topRows(4), true);
    test::Harness h;
    ASSERT_EQ(h.load("Import", folder + "/m03.mrk.json"), Outcome::Done) << h.last_message();
    EXPECT_EQ(h.shell.workspace().landmarks.rows(), 4);
    EXPECT_EQ(h.shell.workspace().dimensions, 3);
    EXPECT_THAT(h.gui.dialog_filters().back(), HasSubstr("*.fcsv *.mrk.json"));
}

// The bundled morphologika file: the macaques with their sexes and a
// wireframe, which the pictures draw as they draw the same pairs given as a
// links file; a links file given with it is drawn instead.
TEST(ImportSpace, AMorphologikaWireframeIsDrawnAsALinksFileIs) {
    const ImportedData d = import_file(data_file("macaques.morphologika.txt"), choose_columns({"sex"}));
    const Matrix lm = macaques();
    EXPECT_TRUE((d.landmarks.leftCols(3 * kLandmarks).array() == lm.leftCols(3 * kLandmarks).array()).all());
    const Matrix sexes = dload(data_file("macaques.groups.txt"));  // 1 f, 2 m
    const std::vector<std::string>& levels = d.legend.factors.at(0).levels;
    for (Eigen::Index i = 0; i < sexes.rows(); ++i)
        EXPECT_EQ(levels.at(static_cast<std::size_t>(d.groups(i, 0)) - 1), sexes(i, 0) == 1 ? "f" : "m") << i;
    ASSERT_EQ(d.legend.wireframe.size(), 10u);
    EXPECT_EQ(d.legend.wireframe[4], (std::pair<int, int>{1, 4}));
    TempDir dir;
    std::string pairs;
    for (const auto& [a, b] : d.legend.wireframe) pairs += std::to_string(a + 1) + " " + std::to_string(b + 1) + "\n";
    const std::string links = dir.write("links.txt", pairs), two = dir.write("two.txt", "1 2\n6 7\n");
    const auto svg = [&](const std::string& folder, std::vector<std::string> args) {
        args.insert(args.end(), {"--plots-group-by", "none", "--plots", dir.file(folder)});
        const auto r = test::run_batch(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return test::read_bytes(dir.file(folder + "/superimposition.svg"));
    };
    const std::vector<std::string> native = {"load", "-l", data_file("macaques.lm.txt"), "--dimensions", "3"};
    const std::vector<std::string> imported = {"load", "--import", data_file("macaques.morphologika.txt")};
    const std::string drawn = svg("imported", imported), bare = svg("bare", native);
    const auto with = [](std::vector<std::string> args, const std::string& file) {
        args.insert(args.end(), {"--links", file});
        return args;
    };
    EXPECT_EQ(drawn, svg("linked", with(native, links)));
    EXPECT_NE(drawn, bare);
    EXPECT_EQ(svg("imported_two", with(imported, two)), svg("linked_two", with(native, two)));
}
