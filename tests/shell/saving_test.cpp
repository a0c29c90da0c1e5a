// Saving the results box and clearing the workspace.
#include "support/fixtures.hpp"
#include "support/text.hpp"

#include <gtest/gtest.h>

using namespace quillan;
using namespace quillan::test;

TEST(Saving, EachLineIsWrittenAfterALineFeedAndABlank) {
    TempDir dir;
    Harness h;
    h.set_box(kResultsBox, Value("A\nB\nC"));
    ASSERT_EQ(h.save(dir.file("out.txt")), Outcome::Done);
    EXPECT_EQ(read_bytes(dir.file("out.txt")), "\n A\n B\n C");
    EXPECT_EQ(h.gui.dialog_titles().back(), "Please Select an Output file");
    EXPECT_EQ(h.gui.dialog_filters().back(), "*.txt");
    EXPECT_EQ(h.gui.pwd(), dir.folder());

    // Percent signs and backslashes are written as they stand.
    h.set_box(kResultsBox, Value("100% \\n done"));
    ASSERT_EQ(h.save(dir.file("pct.txt")), Outcome::Done);
    EXPECT_EQ(read_bytes(dir.file("pct.txt")), "\n 100% \\n done");
}

TEST(Saving, ReplacesAnExistingFileEntirelyAndAnEmptyBoxGivesAnEmptyFile) {
    TempDir dir;
    Harness h;
    dir.write("out.txt", std::string(5000, 'x'));
    h.set_box(kResultsBox, Value("short"));
    ASSERT_EQ(h.save(dir.file("out.txt")), Outcome::Done);
    EXPECT_EQ(read_bytes(dir.file("out.txt")), "\n short");
    h.set_box(kResultsBox, Value(""));
    ASSERT_EQ(h.save(dir.file("out.txt")), Outcome::Done);
    EXPECT_EQ(read_bytes(dir.file("out.txt")), "");
}

TEST(Saving, AFailedSaveLeavesWhatWasThereAndSaysSo) {
    TempDir dir;
    Harness h;
    h.set_box(kResultsBox, Value("report"));
    // The target is a folder holding a file: renaming over it cannot succeed.
    std::filesystem::create_directory(dir.file("taken.txt"));
    dir.write("taken.txt/keep", "precious");
    EXPECT_EQ(h.save(dir.file("taken.txt")), Outcome::Failed);
    EXPECT_THAT(h.last_message(), HasSubstr("Cannot write the file"));
    EXPECT_EQ(read_bytes(dir.file("taken.txt/keep")), "precious");
    // No half-written file is left beside it.
    EXPECT_EQ(dir.entries(), 1);

    // A folder that does not exist.
    EXPECT_EQ(h.save(dir.file("nowhere/out.txt")), Outcome::Failed);
    EXPECT_FALSE(std::filesystem::exists(dir.file("nowhere")));
}

TEST(Saving, CancelledDialogWritesNothing) {
    Harness h;
    const std::string cwd = h.gui.pwd();
    h.gui.queue_save_answer(std::nullopt);
    EXPECT_EQ(h.run("SaveOut"), Outcome::Done);
    EXPECT_EQ(h.gui.pwd(), cwd);
}

TEST(Clearing, EmptiesTheWorkspaceAndBlanksBothBoxes) {
    TempDir dir;
    Harness h;
    ASSERT_EQ(h.load("Load", data_file("plethodon.lm.txt")), Outcome::Done);
    ASSERT_EQ(h.load("LoadGlist", data_file("plethodon.groups.txt")), Outcome::Done);
    h.set_box(kResultsBox, Value("old report"));
    h.set_box(kPermBox, Value("123"));
    ASSERT_EQ(h.run("Clear"), Outcome::Done);
    const Workspace& ws = h.shell.workspace();
    EXPECT_EQ(ws.landmarks.size() + ws.groups.size() + ws.covariate.size(), 0);
    EXPECT_TRUE(ws.landmarks_info.empty() && ws.groups_info.empty() && ws.covariate_info.empty());
    EXPECT_EQ(h.box(kResultsBox), "   ");
    EXPECT_EQ(h.box(kFileBox), "   ");
    EXPECT_EQ(h.box(kPermBox), "123");

    ASSERT_EQ(h.save(dir.file("cleared.txt")), Outcome::Done);
    EXPECT_EQ(read_bytes(dir.file("cleared.txt")), "\n    ");
}
