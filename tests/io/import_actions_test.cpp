// Import and convert as users run them: in the window (through the
// dispatcher) and with quillan-batch.  Converted tables must give the same
// reports as the import itself, and a refused import must change nothing.
#include "io/results.hpp"
#include "io/text.hpp"
#include "platform/format.hpp"
#include "platform/sha256.hpp"
#include "support/batch_runner.hpp"
#include "support/fixtures.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quillan;
using namespace quillan::test;
using ::testing::HasSubstr;

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
    h.shell.model_request().formula = "log(C_size) + site";
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
    EXPECT_THAT(dup.err, HasSubstr("quillan-batch: Possible error: The specimen ID \"a\" appears 2 times"));
    EXPECT_EQ(dup.out, "Data File: d.tps with 2 specimens, 2 LM\n\n");
}

TEST(ImportAction, TheWindowChoosesWhetherNegativeCoordinatesAreMissing) {
    TempDir dir;
    const std::string tps = dir.write("t.tps",
                                      "LM=3\n10 10\n20 10\n15 20\nID=a\nLM=3\n11 10\n21 11\n16 22\nID=b\n"
                                      "LM=3\n12 11\n-1 -1\n15 21\nID=c\n");
    Harness h;
    const Handle choice = popup(h, "NegativeChoice", {Value("points"), Value("missing")});
    // As points: imported, with a warning that names the specimen and landmark.
    ASSERT_EQ(h.load("Import", tps), Outcome::Done);
    EXPECT_EQ(h.shell.workspace().landmarks.rows(), 3);
    EXPECT_THAT(h.last_message(), HasSubstr("c (line 11): landmark 2"));
    // As missing: refused, and the workspace keeps what it held.
    h.gui.set(choice, "Value", Value(2.0));
    EXPECT_EQ(h.load("Import", tps), Outcome::Failed);
    EXPECT_THAT(h.last_message(), HasSubstr("negative coordinates mark missing landmarks in 1 specimens: c (line 11)"));
    EXPECT_EQ(h.shell.workspace().landmarks.rows(), 3);
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
