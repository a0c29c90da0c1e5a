// Phenotypic trajectories against RRPP's trajectory.analysis on the bundled
// sets (tests/expected/trajectory, written by make_expected.R there), and
// what they refuse; the allometry scores against geomorph's plotAllometry
// (tests/expected/allometry).
#include "support/batch_runner.hpp"
#include "support/expected_values.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <iterator>
#include <sstream>

namespace quillan::test {
namespace {

using ::testing::HasSubstr;

// The numbers of a run's record, by "model name: key".
std::map<std::string, double> recorded(const std::vector<std::string>& args) {
    TempDir dir;
    const std::string json = (dir.path() / "run.json").string();
    std::vector<std::string> all = args;
    all.insert(all.end(), {"--perm", "9999", "--seed", "3", "--json", json});
    const BatchResult r = run_batch(all);
    EXPECT_EQ(r.status, 0) << r.err;
    std::map<std::string, double> out;
    if (r.status != 0) return out;
    const auto record = nlohmann::json::parse(read_bytes(json));
    for (const auto& m : record["models"])
        for (const auto& [key, v] : m["values"].items())
            if (v.is_number()) out[m["name"].get<std::string>() + ": " + key] = v.get<double>();
    return out;
}

double at(const std::map<std::string, double>& numbers, const std::string& key) {
    const auto it = numbers.find(key);
    EXPECT_NE(it, numbers.end()) << key;
    return it == numbers.end() ? std::nan("") : it->second;
}

// The cells of the simulated group x stage design, superimposed, and RRPP's
// motion paths taken as loaded, each point two of a path's variables: the
// model's table, the path lengths, their differences, the angles between
// axes pointed from first to last point, and the shape differences (in a
// basis of the trajectories' rows for the first set, whose 16 variables
// outnumber its 12 points; in the variables themselves for the second) to
// 1e-8 of RRPP, Z and p within Monte-Carlo error.
TEST(Trajectory, AgreesWithRrpp) {
    std::map<std::string, std::map<std::string, double>> runs;
    // The peers' shapes are the export's, whose superimposition stops where its own steps stop.
    runs["stages"] = recorded({"trajectory", "--import", data_file("trajectories.csv"), "--group", "group", "--level", "stage",
                               "--gpa-steps", "gpagen"});
    runs["motion"] = recorded({"trajectory", "--import", data_file("motionpaths.csv"), "--factor", "path", "--group", "path",
                               "--points", "5", "--coordinates", "as-loaded"});
    int compared = 0;
    const auto tables = expected_csv("trajectory/rrpp_trajectory_tables.csv");  // case, term, Df, SS, MS, Rsq, F, Z, P
    for (auto c = tables.begin() + 1; c != tables.end(); ++c) {
        const std::string what = (*c)[0] + " " + (*c)[1];
        const auto& got = runs.at((*c)[0]);
        const std::string model = "ANOVA " + (*c)[1] + ": ";
        const char* keys[] = {"df", "ss", "ms", "rsq", "F"};
        for (std::size_t k = 0; k < 5; ++k)
            if ((*c)[2 + k] != "NA") expect_relative(at(got, model + keys[k]), std::stod((*c)[2 + k]), what + " " + keys[k]);
        if ((*c)[7] != "NA") {
            expect_z(at(got, model + "Z"), std::stod((*c)[7]), what + " Z");
            expect_p(at(got, model + "p"), std::stod((*c)[8]), what + " p");
        }
        ++compared;
    }
    const auto pairs = expected_csv("trajectory/rrpp_trajectory.csv");  // case, first, second, statistic, value, Z, P
    for (auto c = pairs.begin() + 1; c != pairs.end(); ++c) {
        const std::string what = ::testing::PrintToString(*c);
        const auto& got = runs.at((*c)[0]);
        if ((*c)[2].empty()) {
            expect_relative(at(got, "Trajectory " + (*c)[1] + ": " + (*c)[3]), std::stod((*c)[4]), what);
        } else {
            const std::string key = "Trajectories " + (*c)[1] + " - " + (*c)[2] + ": " + (*c)[3];
            expect_relative(at(got, key), std::stod((*c)[4]), what);
            expect_z(at(got, key + "_Z"), std::stod((*c)[5]), what);
            expect_p(at(got, key + "_p"), std::stod((*c)[6]), what);
        }
        ++compared;
    }
    EXPECT_EQ(compared, (3 + 2) + (1 + 2) + (3 + 3 * 3) + (4 + 6 * 3));
}

// Refused with a message naming what is wrong, before any permutation: a
// point of a single specimen, a group without a level, points that do not
// divide the variables, one factor for both roles, a factor the data lack.
TEST(Trajectory, RefusesLayoutsWithoutComparableTrajectories) {
    TempDir dir;
    const std::string single = dir.write("single.csv",
                                         "ID,g,l,x1,y1,x2,y2,x3,y3\n"
                                         "a1,A,x,0,0,1,0,0,1\na2,A,x,0,0,1.1,0,0,1\na3,A,y,0,0,1,0.2,0,1\n"
                                         "b1,B,x,0,0,1,0,0.1,1\nb2,B,x,0,0,1.2,0,0,1\nb3,B,y,0,0,1,0.1,0,1.3\n"
                                         "b4,B,y,0,0,1,0,0.1,1.1\na4,A,y,0,0,1,0.3,0,1.1\na5,A,z,0,0,1,0,0,1\n"
                                         "b5,B,z,0,0,1,0,0.2,1\nb6,B,z,0.1,0,1,0,0,1\n");
    const std::vector<std::string> plethodon{"trajectory", "-l", data_file("plethodon.lm.txt"), "-g",
                                             data_file("plethodon.groups.txt")};
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--points", "5"}, "do not split into 5 points"},
        {{"--points", "1"}, "2 or more"},
        {{"--group", "G1", "--level", "G1"}, "name two factors"},
        {{"--level", "stage"}, "The level factor \"stage\" is no factor of the loaded data"},
        {{"--points", "2", "--group", "G2"}, ""},
    };
    for (const auto& [more, message] : cases) {
        std::vector<std::string> args = plethodon;
        args.insert(args.end(), more.begin(), more.end());
        args.insert(args.end(), {"--perm", "9"});
        const BatchResult r = run_batch(args);
        EXPECT_EQ(r.status == 0, message.empty()) << ::testing::PrintToString(more) << r.err;
        if (!message.empty()) EXPECT_THAT(r.err, HasSubstr(message));
    }
    const BatchResult r = run_batch({"trajectory", "--import", single, "--group", "g", "--level", "l", "--perm", "9"});
    EXPECT_NE(r.status, 0);
    EXPECT_THAT(r.err, HasSubstr("The trajectory point \"A.z\" has a single specimen"));
    const std::string missing =
        dir.write("missing.csv", read_bytes(single).substr(0, read_bytes(single).find("a5,")) + "b7,B,z,0,0,1,0,0,1\n");
    const BatchResult m = run_batch({"trajectory", "--import", missing, "--group", "g", "--level", "l", "--perm", "9"});
    EXPECT_NE(m.status, 0);
    EXPECT_THAT(m.err, HasSubstr("The group \"A\" of g has no specimen at the level \"z\" of l"));
}

// The CAC, RSC1, regression score and predicted line of shape ~ log(CS) *
// species on plethodon to 1e-8 of geomorph's, and the within-group CAC of
// base R; RSC1 and the predicted line up to the sign of the whole column,
// which R leaves to LAPACK.
TEST(Allometry, AgreesWithGeomorph) {
    const std::vector<std::string> args{
        "allometry",   "-l",    data_file("plethodon.lm.txt"), "-g", data_file("plethodon.species.groups.txt"), "--group", "G1",
        "--gpa-steps", "gpagen"};
    auto got = recorded(args);
    std::vector<std::string> within = args;
    within.insert(within.end(), {"--cac-centre", "groups"});
    for (const auto& [key, v] : recorded(within))
        if (key.ends_with(": CAC")) got[key + "_groups"] = v;
    const auto csv = expected_csv("allometry/geomorph_allometry.csv");  // specimen, size, CAC, RSC1, RegScore, PredLine
    ASSERT_EQ(csv.size(), 41u);
    std::map<std::string, double> sign;
    for (auto c = csv.begin() + 1; c != csv.end(); ++c)
        for (std::size_t k = 1; k < c->size(); ++k) {
            const std::string& key = csv[0][k];
            const double ours = at(got, "Specimen specimen " + (*c)[0] + ": " + key), want = std::stod((*c)[k]);
            if (!sign.count(key)) sign[key] = key == "RSC1" || key == "PredLine" ? (ours * want < 0 ? -1 : 1) : 1;
            expect_relative(sign[key] * ours, want, "specimen " + (*c)[0] + " " + key);
        }
    const BatchResult r = run_batch({"allometry", "-l", data_file("plethodon.lm.txt"), "--cac-centre", "groups"});
    EXPECT_NE(r.status, 0);
    EXPECT_THAT(r.err, HasSubstr("needs the groups"));
}

// The scores table is read by scripts that split its lines on blanks: a
// number as wide as its column (a tiny negative size) and a long specimen
// name still leave each line its six fields, and each field is the record's
// number.
TEST(Allometry, TheScoresTableKeepsEveryNumberApart) {
    TempDir dir;
    std::istringstream in(read_bytes(data_file("plethodon.csv")));
    std::ofstream out(dir.path() / "sizes.csv");
    std::string line;
    for (int row = 0; std::getline(in, line); ++row) {
        if (row == 3) {  // the ID, and logCS in the fourth column
            std::size_t at = 0;
            for (int comma = 0; comma < 3; ++comma) at = line.find(',', at) + 1;
            line = "a_specimen_of_a_long_name" + line.substr(line.find(','), at - line.find(',')) + "-0.0000123456" +
                   line.substr(line.find(',', at));
        }
        out << line << "\n";
    }
    out.close();
    const BatchResult r = run_batch({"allometry", "-i", (dir.path() / "sizes.csv").string(), "--factor", "species", "--size",
                                     "logCS", "--logsz", "false", "--group", "species"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream report(r.out.substr(r.out.find("\nspecimen ") + 1));
    std::getline(report, line);
    int rows = 0;
    while (std::getline(report, line) && !line.empty()) {
        std::istringstream fields(line);
        std::vector<std::string> words{std::istream_iterator<std::string>(fields), {}};
        ASSERT_EQ(words.size(), 6u) << line;
        for (std::size_t k = 1; k < words.size(); ++k) EXPECT_NO_THROW((void)std::stod(words[k])) << line;
        ++rows;
    }
    EXPECT_EQ(rows, 40);
    EXPECT_THAT(r.out, HasSubstr("a_specimen_of_a_long_name -1.23456e-05 "));
}

// The export's size-corrected columns against `expected` (specimen, sc_x1, ...).
void expect_corrected_export(const std::vector<std::string>& args, const std::string& expected) {
    TempDir dir;
    const std::string out = (dir.path() / "specimens.csv").string();
    std::vector<std::string> all = args;
    all.insert(all.end(), {"--size-corrected", "--out", out});
    const BatchResult e = run_batch(all);
    ASSERT_EQ(e.status, 0) << e.err;
    std::vector<std::vector<std::string>> table;
    std::stringstream lines(read_bytes(out));
    for (std::string line; std::getline(lines, line);) {
        std::stringstream cells(line);
        table.emplace_back();
        for (std::string cell; std::getline(cells, cell, ',');) table.back().push_back(cell);
    }
    const auto want = expected_csv(expected);
    ASSERT_EQ(table.size(), want.size());
    for (std::size_t k = 1; k < want[0].size(); ++k) {
        const auto column = std::find(table[0].begin(), table[0].end(), want[0][k]);
        ASSERT_NE(column, table[0].end()) << want[0][k];
        for (std::size_t i = 1; i < want.size(); ++i)
            expect_relative(std::stod(table[i][static_cast<std::size_t>(column - table[0].begin())]), std::stod(want[i][k]),
                            expected + ": specimen " + want[i][0] + " " + want[0][k]);
    }
}

// A model's table on size-corrected shapes against `expected` (term, df, ss, rsq, F).
void expect_corrected_table(const std::vector<std::string>& model, const std::string& expected) {
    const auto got = recorded(model);
    for (const auto& row : expected_csv(expected))
        for (std::size_t k = 2; row[0] != "term" && k < row.size(); ++k)
            if (row[k] != "NA")
                expect_relative(at(got, row[0] + ": " +
                                            (k == 2   ? "ss"
                                             : k == 3 ? "rsq"
                                                      : "F")),
                                std::stod(row[k]), expected + ": " + row[0]);
}

// The size-corrected shapes of plethodon, as --export-specimens writes them,
// to 1e-8 of RRPP's residuals of procD.lm(Y ~ log(size)) plus the mean; a
// model on them to procD.lm's table of those shapes on species, its report
// and record saying so; and a test that reads the landmarks themselves
// refusing the option, naming itself.
TEST(Allometry, SizeCorrectedShapesAgreeWithRRPP) {
    expect_corrected_export({"export-specimens", "-l", data_file("plethodon.lm.txt")}, "allometry/size_corrected.csv");
    const std::vector<std::string> model{"model",
                                         "-l",
                                         data_file("plethodon.lm.txt"),
                                         "-g",
                                         data_file("plethodon.species.groups.txt"),
                                         "--formula",
                                         "G1",
                                         "--gpa-steps",
                                         "gpagen",
                                         "--size-corrected"};
    expect_corrected_table(model, "allometry/size_corrected_model.csv");
    const BatchResult r = run_batch(model);
    EXPECT_THAT(r.out, HasSubstr("Size-corrected: the residuals of shape ~ log(C_size) plus the mean shape"));
    const BatchResult one_way = run_batch(
        {"one-way", "-l", data_file("plethodon.lm.txt"), "-g", data_file("plethodon.species.groups.txt"), "--size-corrected"});
    EXPECT_NE(one_way.status, 0);
    EXPECT_THAT(one_way.err, HasSubstr("not to one-way"));
}

// The size model chosen as allometry's: a column of the data taken as it
// is, one slope a species; the export and a model's table to lm's residuals
// plus the mean, the report and the record naming the model, and the
// model's options refused alone or naming what the data lack.
TEST(Allometry, SizeCorrectionFollowsTheChosenModel) {
    const std::vector<std::string> data{"--import", data_file("plethodon.csv")};
    const std::vector<std::string> chosen{"--size", "logCS", "--logsz", "false", "--size-group", "species"};
    std::vector<std::string> exported{"export-specimens"};
    exported.insert(exported.end(), data.begin(), data.end());
    exported.insert(exported.end(), chosen.begin(), chosen.end());
    expect_corrected_export(exported, "allometry/size_corrected_species.csv");
    std::vector<std::string> model{"model", "--formula", "site", "--gpa-steps", "gpagen", "--size-corrected"};
    model.insert(model.end(), data.begin(), data.end());
    model.insert(model.end(), chosen.begin(), chosen.end());
    expect_corrected_table(model, "allometry/size_corrected_species_model.csv");
    TempDir dir;
    const std::string json = (dir.path() / "run.json").string();
    model.insert(model.end(), {"--json", json});
    const BatchResult r = run_batch(model);
    EXPECT_THAT(r.out, HasSubstr("Size-corrected: the residuals of shape ~ logCS * species plus the mean shape"));
    const auto run = nlohmann::json::parse(read_bytes(json))["run"]["size_corrected"];
    EXPECT_EQ(run, nlohmann::json::parse(
                       R"({"size": "logCS", "logged": false, "group": "species", "model": "shape ~ logCS * species"})"));

    const auto refused = [&](std::vector<std::string> extra, const std::string& why) {
        std::vector<std::string> args{"outliers"};
        args.insert(args.end(), data.begin(), data.end());
        args.insert(args.end(), extra.begin(), extra.end());
        const BatchResult b = run_batch(args);
        EXPECT_NE(b.status, 0) << why;
        EXPECT_THAT(b.err, HasSubstr(why));
    };
    refused({"--size-group", "species"}, "--size-group chooses the model of --size-corrected; give --size-corrected too");
    refused({"--size-corrected", "--size", "weight"}, "The size \"weight\" is no column of the loaded data");
    refused({"--size-corrected", "--size-group", "habitat"}, "The size group \"habitat\" is no factor of the loaded data");
    refused({"--size-corrected", "--size", "species"}, "The size \"species\" is a factor");
}

}  // namespace
}  // namespace quillan::test
