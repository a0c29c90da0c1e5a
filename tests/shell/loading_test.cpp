// Loading the three input files: what goes into the workspace, what the file
// box shows, and what happens to files that cannot be read.
#include "platform/format.hpp"
#include "support/fixtures.hpp"
#include "support/text.hpp"

#include <gtest/gtest.h>

using namespace quillan;
using namespace quillan::test;

namespace {

std::string landmark_lines(int rows, int values) {
    std::string s;
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < values; ++j) s += format_expand_reuse(j ? " %g" : "%g", {i + j * 0.5});
        s += "\n";
    }
    return s;
}

std::string code_lines(int rows) {
    std::string s;
    for (int i = 0; i < rows; ++i) s += std::to_string(1 + i % 2) + " " + std::to_string(1 + i % 3) + "\n";
    return s;
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

}  // namespace

TEST(Loading, LandmarkGroupAndCovariateDescriptionsFillTheFileBoxInOrder) {
    TempDir dir;
    Harness h;
    ASSERT_EQ(h.load("Load", dir.write("skulls.txt", landmark_lines(20, 25))), Outcome::Done);
    EXPECT_EQ(h.shell.workspace().landmarks.rows(), 20);
    EXPECT_EQ(h.shell.workspace().landmarks.cols(), 25);
    EXPECT_EQ(h.box(kFileBox), "Data File: skulls.txt with 20 specimens, 12 LM\n");

    ASSERT_EQ(h.load("LoadGlist", dir.write("groups.txt", code_lines(20))), Outcome::Done);
    EXPECT_EQ(h.shell.workspace().groups_info, "\nGroup File: groups.txt with 20 specimens,  2 group variables\n");
    EXPECT_EQ(h.box(kFileBox),
              "Data File: skulls.txt with 20 specimens, 12 LM\n\nGroup File: groups.txt with 20 specimens,  2 group variables\n");
    EXPECT_THAT(h.console_text.str(), HasSubstr("md = 20\nm = 20\n"));

    ASSERT_EQ(h.load("LoadClist", dir.write("size.txt", repeat("3\n", 20))), Outcome::Done);
    EXPECT_EQ(h.box(kFileBox), h.shell.workspace().landmarks_info + h.shell.workspace().groups_info +
                                   "\nCovariate File: size.txt with 20 specimens");
    EXPECT_TRUE(h.gui.messages().empty());

    // Loading the landmark file again keeps the others, which still match, and the box says so.
    ASSERT_EQ(h.load("Load", dir.write("skulls.txt", landmark_lines(20, 25))), Outcome::Done);
    EXPECT_EQ(h.box(kFileBox), h.shell.workspace().landmarks_info + h.shell.workspace().groups_info +
                                   h.shell.workspace().covariate_info +
                                   "\n(Kept from before, as they match the 20 specimens: groups.txt and size.txt)");
    EXPECT_EQ(h.shell.workspace().groups.rows(), 20);
    EXPECT_FALSE(h.shell.workspace().covariate_info.empty());
}

TEST(Loading, EvenWidthShowsItsLandmarkCountInExponentForm) {
    TempDir dir;
    Harness h;
    ASSERT_EQ(h.load("Load", dir.write("even.txt", landmark_lines(3, 12))), Outcome::Done);
    EXPECT_EQ(h.box(kFileBox), "Data File: even.txt with 3 specimens, 5.500000e+00 LM\n");
}

TEST(Loading, CountMismatchWarnsButKeepsTheList) {
    TempDir dir;
    Harness h;
    ASSERT_EQ(h.load("LoadGlist", dir.write("g.txt", code_lines(20))), Outcome::Done);
    ASSERT_EQ(h.gui.messages().size(), 1u);
    EXPECT_EQ(h.gui.messages()[0].text, "Your data set has 0 specimens, but the group coding file has 20");
    EXPECT_EQ(h.gui.messages()[0].title, "Possible error");
    EXPECT_EQ(h.shell.workspace().groups.rows(), 20);

    ASSERT_EQ(h.load("Load", dir.write("d.txt", landmark_lines(19, 5))), Outcome::Done);
    ASSERT_EQ(h.load("LoadClist", dir.write("c.txt", "1\n2\n")), Outcome::Done);
    EXPECT_EQ(h.last_message(), "Your data set has 19 specimens, but the covariate file has 2");
}

TEST(Loading, ALastLineIsReadWithoutItsLineFeedAndAnEmptyLineEndsTheTable) {
    TempDir dir;
    Harness h;
    // A last line without its line feed is read however short.
    ASSERT_EQ(h.load("LoadClist", dir.write("c.txt", "2.5\n3.5\n7")), Outcome::Done);
    ASSERT_EQ(h.shell.workspace().covariate.rows(), 3);
    EXPECT_EQ(h.shell.workspace().covariate(2, 0), 7);
    h.gui.clear_messages();
    // Bare line feeds.
    ASSERT_EQ(h.load("LoadClist", dir.write("c.txt", "1\n2\n\n3\n4\n")), Outcome::Done);
    EXPECT_EQ(h.shell.workspace().covariate.rows(), 2);
    ASSERT_FALSE(h.gui.messages().empty());
    EXPECT_THAT(h.gui.messages()[0].text, HasSubstr("the 2 lines with numbers after it were ignored"));
    EXPECT_THAT(h.gui.messages()[0].text, HasSubstr("line 3"));

    // A Windows file: CR LF line ends convert like LF ones, and an empty CR LF
    // line ends the table the same way.  Trailing empty lines say nothing.
    h.gui.clear_messages();
    ASSERT_EQ(h.load("LoadGlist", dir.write("g.txt", "1 2\r\n2 1\r\n\r\n\r\n")), Outcome::Done);
    EXPECT_EQ(h.shell.workspace().groups.rows(), 2);
    EXPECT_EQ(h.shell.workspace().groups(1, 0), 2);
    for (const auto& m : h.gui.messages()) EXPECT_THAT(m.text, Not(HasSubstr("ignored")));
}

TEST(Loading, UnreadableFilesChangeNothingAndSayWhy) {
    TempDir dir;
    Harness h;
    ASSERT_EQ(h.load("Load", dir.write("good.txt", landmark_lines(4, 7))), Outcome::Done);
    const Matrix before = h.shell.workspace().landmarks;
    const std::string box = h.box(kFileBox);
    const std::string cwd = h.gui.pwd();

    struct Case {
        std::string file, content, expect;
    };
    const Case cases[] = {
        {"ragged.txt", "1 2 3\n4 5\n", "line 2 has 2 values, but line 1 has 3"},
        // A single value is not spread across the row.
        {"single.txt", "1 2\n3\n", "line 2 has 1 value, but line 1 has 2"},
        {"text.txt", "1 2 3\n4 five 6\n", "line 2 is not a list of numbers"},
        {"blank.txt", "1 2 3\n   \n4 5 6\n", "line 2 holds no numbers"},
        {"header.txt", "x1 y1 x2\n1 2 3\n", "line 1 is not a list of numbers"},
        {"empty.txt", "", "is empty"},
        // The first line is always read, even when it is empty: a file that
        // starts with an empty line is refused, not loaded as an empty table.
        {"leading_empty.txt", "\n1 2 3\n4 5 6\n", "line 1 holds no numbers"},
        {"leading_crlf.txt", "\r\n1 2 3\r\n", "line 1 holds no numbers"},
    };
    for (const auto& c : cases) {
        h.gui.clear_messages();
        const std::string path = dir.write(c.file, c.content);
        EXPECT_EQ(h.load("Load", path), Outcome::Failed) << c.file;
        ASSERT_EQ(h.gui.messages().size(), 1u) << c.file;
        EXPECT_THAT(h.last_message(), HasSubstr(c.expect)) << h.last_message();
        EXPECT_THAT(h.last_message(), HasSubstr(path)) << h.last_message();
        EXPECT_THAT(h.console_text.str(), HasSubstr(c.expect));
    }
    h.gui.clear_messages();
    EXPECT_EQ(h.load("Load", dir.file("missing.txt")), Outcome::Failed);
    EXPECT_THAT(h.last_message(), HasSubstr("Cannot open the file " + dir.file("missing.txt")));

    EXPECT_EQ(h.shell.workspace().landmarks, before);
    EXPECT_EQ(h.box(kFileBox), box);
    EXPECT_EQ(h.gui.pwd(), cwd);
}

TEST(Loading, CancelledDialogChangesNothingAndAChosenFolderBecomesCurrent) {
    TempDir dir;
    Harness h;
    const std::string cwd = h.gui.pwd();
    h.gui.queue_open_answer(std::nullopt);
    EXPECT_EQ(h.run("Load"), Outcome::Done);
    EXPECT_EQ(h.shell.workspace().landmarks.size(), 0);
    EXPECT_EQ(h.gui.pwd(), cwd);
    EXPECT_TRUE(h.gui.messages().empty());

    ASSERT_EQ(h.load("Load", dir.write("d.txt", landmark_lines(3, 7))), Outcome::Done);
    EXPECT_EQ(h.gui.pwd(), dir.folder());
    EXPECT_EQ(h.gui.dialog_titles().back(), "Enter file to Load?");
    EXPECT_EQ(h.gui.dialog_filters().back(), "*.*");
}

TEST(Loading, RealExampleDataLoadsWithItsCounts) {
    Harness h;
    ASSERT_EQ(h.load("Load", data_file("plethodon.lm.txt")), Outcome::Done);
    ASSERT_EQ(h.load("LoadGlist", data_file("plethodon.groups.txt")), Outcome::Done);
    ASSERT_EQ(h.load("LoadClist", data_file("plethodon.cov.txt")), Outcome::Done);
    EXPECT_EQ(h.shell.workspace().landmarks.rows(), 40);
    EXPECT_EQ(h.shell.workspace().landmarks.cols(), 25);
    // Coordinates are read back bit for bit.
    EXPECT_EQ(h.shell.workspace().landmarks(0, 2), 9.2684000000000015);
    EXPECT_TRUE(h.gui.messages().empty());
    EXPECT_EQ(
        h.box(kFileBox),
        "Data File: plethodon.lm.txt with 40 specimens, 12 LM\n\nGroup File: plethodon.groups.txt with 40 specimens,  2 group "
        "variables\n\nCovariate File: plethodon.cov.txt with 40 specimens");
}
