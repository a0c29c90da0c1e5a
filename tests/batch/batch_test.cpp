// The batch front end, run as a separate program the way scripts use it.
#include "support/batch_runner.hpp"
#include "support/fixtures.hpp"
#include "support/text.hpp"

#include <gtest/gtest.h>

using namespace quillan::test;

TEST(Batch, LoadsTheGivenFilesAndWritesTheFileBox) {
    auto r = run_batch(
        {"Load", "--landmarks", data_file("plethodon.lm.txt"), "--groups", data_file("plethodon.groups.txt"), "--trace"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        r.out,
        "Data File: plethodon.lm.txt with 40 specimens, 12 LM\n\nGroup File: plethodon.groups.txt with 40 specimens,  2 group "
        "variables\n\n");
    EXPECT_THAT(r.err, HasSubstr("md = 40"));

    // Aliases name the same actions.
    auto a = run_batch({"load", "-l", data_file("plethodon.lm.txt")});
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(a.out, "Data File: plethodon.lm.txt with 40 specimens, 12 LM\n\n");
}

TEST(Batch, ExitStatusAndOneLineReasonTellWhatWentWrong) {
    TempDir dir;
    auto missing = run_batch({"Load", "--landmarks", dir.file("nope.txt")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.out.empty());
    EXPECT_THAT(missing.err, HasSubstr("quillan-batch: Error: Cannot open the file " + dir.file("nope.txt")));

    auto unknown = run_batch({"RunSomething"});
    EXPECT_EQ(unknown.status, 64);
    EXPECT_THAT(unknown.err, HasSubstr("unknown action \"RunSomething\""));

    auto bad_model = run_batch({"Load", "--model", "7"});
    EXPECT_EQ(bad_model.status, 64);

    auto help = run_batch({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("--landmarks"));
    EXPECT_THAT(help.out, HasSubstr("two-way-f"));
    // The action list comes from the action table, with what each needs.
    EXPECT_THAT(help.out, HasSubstr("F tests of G1, G2 and their interaction (landmarks, groups)"));
    // and the options each owns.
    EXPECT_THAT(help.out, HasSubstr("its own options: --alignment --partition --no-rotation-search\n"));
}

TEST(Batch, ClearWritesTheBlankedFileBoxAndSaveOutWritesTheFile) {
    TempDir dir;
    auto c = run_batch({"Clear", "--landmarks", data_file("plethodon.lm.txt")});
    EXPECT_EQ(c.status, 0);
    EXPECT_EQ(c.out, "   \n");
    auto s = run_batch({"SaveOut", "--out", dir.file("box.txt")});
    EXPECT_EQ(s.status, 0) << s.err;
    EXPECT_EQ(read_bytes(dir.file("box.txt")), "");
}
