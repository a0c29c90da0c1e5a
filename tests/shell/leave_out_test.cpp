// Leaving the specimens an outlier screening flagged out of the analyses
// that follow: every table with a row per specimen loses the same rows, the
// file box and later records name them, and a refusal changes nothing.
#include "io/text.hpp"
#include "support/fixtures.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quillan;
using namespace quillan::test;
using ::testing::HasSubstr;

namespace {

// The bundled table with specimen `id`'s first landmark moved far off, so
// that the screening flags it (beside P14, the farthest of the published
// specimens, which the moved one pushes over the limit).
std::string with_misplaced_landmark(const TempDir& dir, const std::string& id) {
    std::string out;
    for (std::string line : io::read_text_file(data_file("plethodon.csv")).lines) {
        if (line.rfind(id + ",", 0) == 0) {
            // ID, species, site, logCS, then x1: put x1 four units away.
            std::size_t at = 0;
            for (int comma = 0; comma < 4; ++comma) at = line.find(',', at) + 1;
            const std::size_t end = line.find(',', at);
            line.replace(at, end - at, std::to_string(std::stod(line.substr(at, end - at)) + 4));
        }
        out += line + "\n";
    }
    return dir.write("misplaced.csv", out);
}

}  // namespace

TEST(LeaveOutOutliers, TheFlaggedSpecimensLeaveEveryTableAndAreNamedAfterwards) {
    TempDir dir;
    Harness h;
    ASSERT_EQ(h.load("Import", with_misplaced_landmark(dir, "P05")), Outcome::Done) << h.last_message();
    const Workspace before = h.shell.workspace();
    const io::Legend legend_before = h.shell.legend();

    // Nothing screened yet: refused, nothing changed.
    EXPECT_EQ(h.run("LeaveOutOutliers"), Outcome::Refused);
    EXPECT_THAT(h.last_message(), HasSubstr("run Outliers first"));
    EXPECT_EQ(h.shell.workspace().landmarks.rows(), before.landmarks.rows());

    ASSERT_EQ(h.run("RunOutliers"), Outcome::Reported) << h.last_message();
    ASSERT_EQ(h.run("LeaveOutOutliers"), Outcome::Done) << h.last_message();
    const Workspace& ws = h.shell.workspace();
    const Eigen::Index n = before.landmarks.rows();
    // Rows 5 and 14 (P05, P14) went from the landmarks, the groups and the IDs alike.
    ASSERT_EQ(ws.landmarks.rows(), n - 2);
    EXPECT_TRUE(ws.landmarks.topRows(4) == before.landmarks.topRows(4));
    EXPECT_TRUE(ws.landmarks.row(4) == before.landmarks.row(5));
    EXPECT_TRUE(ws.landmarks.bottomRows(n - 14) == before.landmarks.bottomRows(n - 14));
    ASSERT_EQ(ws.groups.rows(), n - 2);
    EXPECT_TRUE(ws.groups.bottomRows(n - 14) == before.groups.bottomRows(n - 14));
    ASSERT_EQ(h.shell.legend().ids.size(), static_cast<std::size_t>(n - 2));
    EXPECT_EQ(h.shell.legend().ids[4], legend_before.ids[5]);
    EXPECT_EQ(h.shell.legend().ids[12], legend_before.ids[14]);
    for (const auto& column : h.shell.legend().numbers) EXPECT_EQ(column.values.size(), static_cast<std::size_t>(n - 2));
    EXPECT_THAT(h.shell.file_box_text(), HasSubstr("with 38 specimens, 12 LM\n2 specimens left out as outliers: P05, P14"));
    EXPECT_THAT(h.shell.file_box_text(), HasSubstr("Group File: misplaced.csv with 38 specimens"));

    // The flags were of rows that are gone: a second click is refused.
    EXPECT_EQ(h.run("LeaveOutOutliers"), Outcome::Refused);

    // The next analysis runs on the rest and its record names who was left out.
    h.set_box(kPermBox, Value("99"));
    ASSERT_EQ(h.run("RunTwoWay"), Outcome::Reported) << h.last_message();
    EXPECT_THAT(h.shell.results_export(false), HasSubstr("\"left_out_as_outliers\""));
    EXPECT_THAT(h.shell.results_export(false), HasSubstr("\"P14\""));

    // A new import brings every specimen back.
    ASSERT_EQ(h.load("Import", data_file("plethodon.csv")), Outcome::Done) << h.last_message();
    EXPECT_EQ(h.shell.workspace().landmarks.rows(), n);
    ASSERT_EQ(h.run("RunOutliers"), Outcome::Reported);
    EXPECT_EQ(h.run("LeaveOutOutliers"), Outcome::Refused);  // none flagged in the published data
    EXPECT_THAT(h.last_message(), HasSubstr("flagged no specimen"));
}
