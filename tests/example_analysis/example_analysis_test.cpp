// The example analysis reaches every front end from its row alone.
#include "batch/batch.hpp"
#include "quillan_api.hpp"
#include "shell/action_table.hpp"
#include "support/fixtures.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>

namespace quillan::test {
namespace {

namespace api = quillan::api;

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

    // Its options, one of each kind, from the row alone: the same report
    // from the window's settings and from the command line, refused on
    // another action, checked by kind, the side file guarded and recorded.
    TempDir dir;
    const std::string names = dir.file("names.txt");
    std::ofstream(names) << "albi\njord\n";
    GivenOptions& o = h.shell.given_options();
    o = {{"share-as", "fraction"}, {"decimals", "3"}, {"at-least", "0.5"},
         {"title", "Share"},       {"sizes", "true"}, {"names", names}};
    ASSERT_EQ(h.run("RunExplainedShare"), Outcome::Reported) << h.last_message();
    EXPECT_THAT(report_of(h),
                ::testing::ContainsRegex("^Share\n(.|\n)*explain 0\\.[0-9]{3} as a fraction(.|\n)*Less than the share"
                                         "(.|\n)*Group sizes given.\nGroups: albi jord"));
    ASSERT_FALSE(h.shell.last_record().run.inputs.empty());
    EXPECT_EQ(h.shell.last_record().run.inputs.back().role, "names");
    const std::vector<std::string> run = {"explained-share",
                                          "-l",
                                          data_file("plethodon.lm.txt"),
                                          "-g",
                                          data_file("plethodon.species.groups.txt"),
                                          "--perm",
                                          "99",
                                          "--seed",
                                          "11",
                                          "--share-as",
                                          "fraction",
                                          "--decimals",
                                          "3",
                                          "--at-least",
                                          "0.5",
                                          "--title",
                                          "Share",
                                          "--sizes",
                                          "--names",
                                          names};
    EXPECT_EQ(batch_output(run, status), report_of(h) + "\n");
    EXPECT_EQ(status, 0);
    const auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> args = run;
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    for (const auto& bad : {with({"--decimals", "two"}), with({"--share-as", "ratio"}), with({"--json", names}),
                            std::vector<std::string>{"one-way", "-l", data_file("plethodon.lm.txt"), "--decimals", "2"}}) {
        batch_output(bad, status);
        EXPECT_EQ(status, 64) << bad.back();
    }
    EXPECT_THAT(batch_output({"--help"}, status), ::testing::HasSubstr("--share-as WORD:{percent,fraction}"));
    EXPECT_THAT(option_tables_markdown(), ::testing::HasSubstr("| `--names` | FILE |  | File naming the groups of G1 |"));

    // The group-list rule of a one-way design, from its own code.
    Loaded two({.groups = "plethodon.groups.txt", .perms = "9"});
    EXPECT_EQ(two.run("RunExplainedShare"), Outcome::Refused);
}

// The library entry offers it from its row alone, with its options.
TEST(ExampleAnalysis, RunsThroughTheLibraryEntry) {
    const auto actions = api::actions();
    const auto row = std::find_if(actions.begin(), actions.end(), [](const auto& a) { return a.alias == "explained-share"; });
    ASSERT_NE(row, actions.end());
    EXPECT_EQ(row->options.size(), 6u);
    const std::vector<std::string> files = {"-l", data_file("plethodon.lm.txt"), "-g", data_file("plethodon.species.groups.txt")};
    std::vector<std::string> args = {"explained-share", files[0], files[1],     files[2], files[3], "--perm", "99",
                                     "--seed",          "11",     "--decimals", "3",      "--sizes"};
    int status = -1;
    const std::string batch = batch_output(args, status);
    const api::Result r = api::run(
        {"explained-share",
         nullptr,
         {{"landmarks", files[1]}, {"groups", files[3]}, {"perm", "99"}, {"seed", "11"}, {"decimals", "3"}, {"sizes", "true"}}});
    EXPECT_EQ(r.report, batch);
    EXPECT_THAT(r.record_json, ::testing::HasSubstr("RunExplainedShare"));
    EXPECT_THROW(api::run({"explained-share", nullptr, {{"decimals", "two"}}}), api::Error);
}

}  // namespace
}  // namespace quillan::test
