// The record of a report: every number the report prints is in it, at full
// precision, and the ties-included counts sit beside the report's counts.
#include "io/results.hpp"
#include "geometry/geometry.hpp"
#include "io/specimens.hpp"
#include "io/text.hpp"
#include "platform/error.hpp"
#include "platform/format.hpp"
#include "support/fixtures.hpp"
#include "support/shapes.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cctype>
#include <cmath>

using namespace quillan;
using namespace quillan::test;
using ::testing::HasSubstr;

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
                const bool found =
                    std::any_of(printed.begin(), printed.end(), [&](const Printed& p) { return same_to_printed_digits(v, p); });
                EXPECT_TRUE(found) << m.name << " " << key << " = " << v;
            }
            for (const auto& t : m.tests) {
                const bool found = std::any_of(printed.begin(), printed.end(), [&](const Printed& p) {
                    return p.decimals > 0 && same_to_printed_digits(t.p, p);
                });
                EXPECT_TRUE(found) << m.name << " p = " << t.p;
                EXPECT_EQ(t.nperm, 99);
                EXPECT_GE(t.count_ge, t.count);
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

TEST(ResultRecord, ABoundIsRecordedOnlyWhereNoPermutationReachedTheObservedValue) {
    // The two-way slope report prints "p<" before some estimates; the record
    // says whether the p is a bound by the count alone.
    for (const Case& c : {kCases[9], kCases[10]}) {
        SCOPED_TRACE(c.action);
        AnalysisRun h(c);
        bool estimated = false;
        for (const auto& m : h.shell.last_record().models)
            for (const auto& t : m.tests) {
                EXPECT_EQ(t.p_bound, t.count == 0) << m.name << " count " << t.count;
                estimated = estimated || t.count > 0;
            }
        EXPECT_TRUE(estimated);
    }
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
