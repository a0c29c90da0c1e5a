// The group tests and the linear models on landmarks in space, on the 3-D
// sets of R's shapes package (data/macaques.*, data/brains.*): their sums are
// the sums of squared full Procrustes distances that shapes gives
// (tests/expected/shapes3d), and their reports say the data are 3-D.
#include "analyses/linear_models/model_request.hpp"
#include "support/fixtures.hpp"
#include "support/text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

using namespace quillan;
using namespace quillan::test;

namespace {

// shapes' sums of squares by set, grouping and group (0: the whole set).
std::map<std::string, double> r_sums() {
    const auto rows = expected_csv("shapes3d/group_ss.csv");  // set, grouping, group, n, value
    std::map<std::string, double> out;
    for (auto r = rows.begin() + 1; r != rows.end(); ++r) out[(*r)[0] + "/" + (*r)[1] + "/" + (*r)[2]] = std::stod((*r)[4]);
    return out;
}

const double* value_of(const RecordedModel& m, const std::string& key) { return m.value(key); }

double relative(double a, double b) { return std::fabs(a - b) / std::fabs(b); }

}  // namespace

TEST(SpaceAnalyses, EveryGroupTestRunsAndSaysTheDataAre3D) {
    struct Row {
        const char* action;
        const char* set;
        const char* groups;
        const char* covariate;
    };
    const Row rows[] = {
        {"RunOneWay", "macaques", "macaques.groups.txt", ""},
        {"RunOneWayF", "macaques", "macaques.groups.txt", ""},
        {"RunTwoWay", "brains", "brains.groups.txt", ""},
        {"RunTwoWayF", "brains", "brains.groups.txt", ""},
        {"RunTwoWayNest", "brains", "brains.groups.txt", ""},
        {"RunOneStand", "brains", "brains.sex.groups.txt", "brains.cov.txt"},
        {"RunOneStandF", "brains", "brains.sex.groups.txt", "brains.cov.txt"},
        {"RunTwoStand", "brains", "brains.groups.txt", "brains.cov.txt"},
        {"RunTwoStandF", "brains", "brains.groups.txt", "brains.cov.txt"},
        {"RunOneCov", "brains", "brains.sex.groups.txt", "brains.cov.txt"},
        {"RunTwoCov", "brains", "brains.groups.txt", "brains.cov.txt"},
        {"RunModel", "macaques", "macaques.groups.txt", ""},
    };
    const auto sums = r_sums();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.action);
        Loaded h({.landmarks = std::string(r.set) + ".lm.txt",
                  .groups = r.groups,
                  .covariate = r.covariate,
                  .perms = "99",
                  .dimensions = 3});
        ASSERT_EQ(h.run(r.action), Outcome::Reported) << h.last_message();
        EXPECT_THAT(report_of(h),
                    HasSubstr("specimens, " + std::string(r.set == std::string("macaques") ? "7" : "24") + " LM, 3-D"));
        // Where the report gives the total, it is shapes' sum for the set.
        for (const RecordedModel& m : h.shell.last_record().models)
            if (const double* total = value_of(m, "total_ss"))
                EXPECT_LT(relative(*total, sums.at(std::string(r.set) + "/all/0")), 1e-8) << m.name;
    }
}

TEST(SpaceAnalyses, OneWaySumsAndDegreesOfFreedomAreThoseOfSpace) {
    const auto sums = r_sums();
    Loaded h({.landmarks = "macaques.lm.txt", .groups = "macaques.groups.txt", .perms = "99", .dimensions = 3});
    ASSERT_EQ(h.run("RunOneWayF"), Outcome::Reported) << h.last_message();
    const RecordedModel& m = h.shell.last_record().models.front();
    EXPECT_LT(relative(*m.value("unexplained_ss"), sums.at("macaques/sex/1") + sums.at("macaques/sex/2")), 1e-8);
    // Seven landmarks in space have 3 * 7 - 7 = 14 shape dimensions.
    EXPECT_EQ(*m.value("df1"), 14);
    EXPECT_EQ(*m.value("df2"), 16 * 14);

    // A file whose lines do not hold 3k + 1 numbers is refused at the load.
    Harness bad;
    bad.shell.landmark_dimensions() = 3;
    EXPECT_EQ(bad.load("Load", data_file("pupfish.lm.txt")), Outcome::Failed);
    EXPECT_THAT(bad.last_message(), HasSubstr("pupfish.lm.txt: line 1 has 113 numbers"));
    EXPECT_EQ(bad.shell.workspace().landmarks.size(), 0);
}

// The shape analyses superimpose landmarks in space too: a 3-D table is
// neither refused for an even count of numbers nor read as landmarks in the
// plane (the brains' 73 numbers a line would make 36 landmarks).
TEST(SpaceAnalyses, TheShapeAnalysesSuperimposeInSpace) {
    const std::string halves = std::filesystem::temp_directory_path() / "quillan_space_halves.txt";
    {
        std::ofstream out(halves);
        for (int j = 0; j < 24; ++j) out << (j < 12 ? "front\n" : "back\n");
    }
    struct Row {
        const char* action;
        const char* set;
        const char* expected;
    };
    const Row rows[] = {
        {"RunOutliers", "macaques", "Distances from the mean"},
        {"RunDisparity", "macaques", "variance"},
        {"RunCva", "macaques", "the 14 principal components"},  // 3k - 7 of them, not 2k - 4
        {"RunCva", "macaques", "(x, y and z of each landmark)"},
        {"RunIntegration", "brains", "2 modules"},
        {"RunModularity", "brains", "2 modules"},
        {"RunPls", "brains", "r-PLS"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.action);
        const bool brains = r.set == std::string("brains");
        Loaded h({.landmarks = std::string(r.set) + ".lm.txt",
                  .groups = brains ? "brains.sex.groups.txt" : "macaques.groups.txt",
                  .perms = "9",
                  .dimensions = 3});
        h.shell.model_request().shape.partition = halves;
        h.shell.model_request().shape.block2 = data_file("brains.cov.txt");
        ASSERT_EQ(h.run(r.action), Outcome::Reported) << h.last_message();
        EXPECT_THAT(report_of(h), HasSubstr(brains ? "24 LM, 3-D" : "7 LM, 3-D"));
        EXPECT_THAT(report_of(h), HasSubstr(r.expected));
    }
    std::filesystem::remove(halves);
}
