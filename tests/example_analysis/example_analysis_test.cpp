// The example analysis reaches every front end from its row alone.
#include "batch/batch.hpp"
#include "support/fixtures.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

namespace quillan::test {
namespace {

// quillan-batch's main routine run in this process, standard output captured.
std::string batch_output(std::vector<std::string> args, int& status) {
    args.insert(args.begin(), "quillan-batch");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    std::ostringstream out;
    std::streambuf* old = std::cout.rdbuf(out.rdbuf());
    status = run_batch_written_together(static_cast<int>(argv.size()), argv.data());
    std::cout.rdbuf(old);
    return out.str();
}

TEST(ExampleAnalysis, RunsFromTheWindowAndTheCommandLineThroughItsRow) {
    Loaded h({.groups = "plethodon.species.groups.txt", .seed = 11, .perms = "99"});
    ASSERT_EQ(h.run("RunExplainedShare"), Outcome::Reported) << h.last_message();
    const std::string report = report_of(h);
    EXPECT_THAT(report, ::testing::HasSubstr("of 99 shuffled groupings explained more"));
    EXPECT_EQ(h.shell.last_record().run.statistics, find_action("RunExplainedShare")->statistics);

    int status = -1;
    const std::string batch = batch_output({"explained-share", "-l", data_file("plethodon.lm.txt"), "-g",
                                            data_file("plethodon.species.groups.txt"), "--perm", "99", "--seed", "11"},
                                           status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(batch, report + "\n");
    EXPECT_THAT(batch_output({"--list"}, status), ::testing::HasSubstr("RunExplainedShare, explained-share"));

    // The group-list rule of a one-way design, from its own code.
    Loaded two({.groups = "plethodon.groups.txt", .perms = "9"});
    EXPECT_EQ(two.run("RunExplainedShare"), Outcome::Refused);
}

}  // namespace
}  // namespace quillan::test
