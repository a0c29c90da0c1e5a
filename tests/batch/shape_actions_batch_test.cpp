// The shape analyses as a script runs them: each action on a bundled set
// gives the same numbers whatever the number of threads, its options are
// refused by the actions that do not read them, and a faulty partition or
// second block is refused naming its file.
#include "support/batch_runner.hpp"
#include "support/fixtures.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace quillan;
using namespace quillan::test;
using ::testing::HasSubstr;

namespace {

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

std::vector<std::string> plethodon(const std::string& action) {
    return {action, "-l", data_file("plethodon.lm.txt"), "-g", data_file("plethodon.groups.txt"), "--seed", "11"};
}

std::string written(const std::string& text, const std::string& name) {
    const std::string path = (std::filesystem::temp_directory_path() / name).string();
    std::ofstream(path) << text;
    return path;
}

}  // namespace

TEST(ShapeActionsBatch, EachReportsTheSameNumbersOnOneThreadAndOnTwo) {
    const std::string partition = data_file("plethodon.partition.txt");
    const std::vector<std::pair<std::string, std::vector<std::string>>> runs = {
        {"outliers", {"--within-groups"}},
        {"disparity", {"--formula", "~ G1"}},
        {"cva", {}},
        {"integration", {"--partition", partition}},
        {"pls", {"--block2", data_file("plethodon.cov.txt")}},
        {"modularity", {"--partition", partition, "--alignment", "partial"}},
        {"symmetry", {"--land-pairs", written("1 5\n2 4\n", "quillan_pairs.txt")}},
    };
    for (const auto& [action, options] : runs) {
        const auto one = run_batch(with(with(plethodon(action), options), {"--perm", "99", "--threads", "1"}));
        const auto two = run_batch(with(with(plethodon(action), options), {"--perm", "99", "--threads", "2"}));
        ASSERT_EQ(one.status, 0) << action << ": " << one.err;
        ASSERT_EQ(two.status, 0) << action << ": " << two.err;
        EXPECT_EQ(one.out, two.out) << action;
        EXPECT_THAT(one.out, HasSubstr("Data File: plethodon.lm.txt with 40 specimens, 12 LM")) << action;
    }
}

TEST(ShapeActionsBatch, OptionsAreRefusedByTheActionsThatDoNotReadThem) {
    const std::string partition = data_file("plethodon.partition.txt");
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {with(plethodon("cva"), {"--within-groups"}), "--within-groups belongs to the action outliers, not to cva"},
        {with(plethodon("pls"), {"--partition", partition}),
         "--partition belongs to the actions integration and modularity, not to pls"},
        {with(plethodon("model"), {"--block2", partition}), "--block2 belongs to the action pls, not to model"},
        {with(plethodon("one-way"), {"--alignment", "partial"}), "--alignment belongs to the actions model, outliers"},
        {with(plethodon("outliers"), {"--ss-type", "II"}), "--ss-type belongs to the action model, not to outliers"},
        {with(plethodon("integration"), {"--no-rotation-search"}),
         "--no-rotation-search belongs to the action modularity, not to integration"},
        {with(plethodon("model"), {"--side", "G2"}), "--side belongs to the action symmetry, not to model"},
    };
    for (const auto& [args, text] : refused) {
        const auto r = run_batch(args);
        EXPECT_EQ(r.status, 64) << args[0];
        EXPECT_THAT(r.err, HasSubstr(text)) << args[0];
    }
}

TEST(ShapeActionsBatch, AFaultyPartitionOrSecondBlockIsRefusedNamingItsFile) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {plethodon("integration"), "needs a partition of the landmarks into modules"},
        {with(plethodon("modularity"), {"--partition", written("A B A B\n", "quillan_short_partition.txt")}),
         "quillan_short_partition.txt gives 4 labels, but the specimens have 12"},
        {with(plethodon("integration"), {"--partition", written("A A A A A A A A A A A A\n", "quillan_one_module.txt")}),
         "puts every landmark into one module"},
        {with(plethodon("modularity"), {"--partition", written("A A A A A A A A A A A B\n", "quillan_lone.txt")}),
         "gives module \"B\" a single landmark"},
        {plethodon("pls"), "A PLS of shape needs a second block"},
        {with(plethodon("pls"), {"--block2", written("1\n2\n3\n", "quillan_short_block.txt")}),
         "quillan_short_block.txt has 3 rows of numbers, but"},
        {with(plethodon("pls"), {"--block2", written("1\nx\n", "quillan_text_block.txt")}), "not a number: \"x\""},
        {with(plethodon("symmetry"), {"--land-pairs", written("1 13\n", "quillan_far_pair.txt")}),
         "name landmark 13, but the specimens have 12"},
        {with(plethodon("symmetry"), {"--land-pairs", written("1 x\n", "quillan_text_pair.txt")}),
         "quillan_text_pair.txt, line 1: give two different landmark numbers"},
        {with(plethodon("symmetry"), {"--side", "species"}), "\"species\" is no factor of the loaded data"},
        {with(plethodon("symmetry"), {"--mirror-side", "3"}), "\"3\", is no level of \"G2\""},
    };
    for (const auto& [args, text] : refused) {
        const auto r = run_batch(with(args, {"--perm", "9"}));
        EXPECT_EQ(r.status, 2) << text;
        EXPECT_THAT(r.err, HasSubstr(text));
    }
}
