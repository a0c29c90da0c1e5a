// One row per kind of malformed input: the files, the action, the exit
// status the batch front end must give and a phrase its message must hold.
// Every row must end with a clear message and no report; none may crash.
#include "support/batch_runner.hpp"
#include "support/fixtures.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

using namespace quillan::test;
using ::testing::HasSubstr;

namespace {

// Eight specimens of four landmarks that differ in shape; the last value is
// a size.
std::string shapes(int n = 8) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        const double d = 0.05 * ((i * 7) % 5) + 0.02 * i;
        s += std::to_string(0.0) + " 0 1 " + std::to_string(d) + " " + std::to_string(1 + d) + " 1 0 " + std::to_string(1 - d) +
             " " + std::to_string(10 + i) + "\n";
    }
    return s;
}

std::string lines_of(const std::string& line, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += line;
    return s;
}

struct Case {
    const char* name;
    std::string landmarks, groups, covariate;  // file contents; empty: not given
    std::vector<std::string> action;           // action and further options
    int status;
    std::string phrase;
};

const std::string kGroups = "1\n1\n1\n1\n2\n2\n2\n2\n";
const std::string kCov = "1\n2\n3\n4\n5\n6\n7\n8\n";

std::vector<Case> cases() {
    return {
        {"empty landmark file", "", "", "", {"Load"}, 1, "is empty"},
        {"ragged line", "1 2 3 4 5 6 7\n1 2 3\n", "", "", {"Load"}, 1, "line 2 has 3 values, but line 1 has 7"},
        {"text where a number belongs",
         "1 2 3 4 5 6 7\n1 2 three 4 5 6 7\n",
         "",
         "",
         {"Load"},
         1,
         "line 2 is not a list of numbers (\"1 2 three 4 5 6 7\")"},
        {"control bytes in a line", std::string("1 2 3\n4 \0 \x07 6\n", 14), "", "", {"Load"}, 1, "(\"4 \\x00 \\x07 6\")"},
        {"line of blanks", "1 2 3\n   \t \n", "", "", {"Load"}, 1, "line 2 holds no numbers"},
        {"one value in a two-column group file",
         shapes(),
         "1 1\n1\n1 2\n1 2\n2 1\n2 1\n2 2\n2 2\n",
         "",
         {"RunTwoWay"},
         1,
         "line 2 has 1 value, but line 1 has 2"},
        {"even number of values per line", lines_of("1 2 3 4 5 6\n", 8), kGroups, "", {"RunOneWay"}, 1, "an even number"},
        {"coordinate not finite",
         "0 0 1 0 1 1 0 1 5\n0 0 1 nan 1 1 0 1 5\n" + shapes(6),
         kGroups,
         "",
         {"RunOneWay"},
         1,
         "not a finite number"},
        {"all landmarks at one point",
         lines_of("2 2 2 2 2 2 2 2 5\n", 1) + shapes(7),
         kGroups,
         "",
         {"RunOneWay"},
         1,
         "all its landmarks at one point"},
        {"group file shorter than the landmark file",
         shapes(),
         "1\n2\n1\n",
         "",
         {"RunOneWay"},
         1,
         "The group file has 3 specimens, but the landmark file has 8"},
        {"group codes that cannot be told apart",
         shapes(),
         "1\n1e18\n1000000000000000001\n1\n2\n2\n2\n2\n",
         "",
         {"RunOneWay"},
         1,
         "Line 2 of the group file"},
        {"group code not a number", shapes(), "1\n1\ninf\n1\n2\n2\n2\n2\n", "", {"RunOneWay"}, 1, "Line 3 of the group file"},
        {"covariate too large to fit",
         shapes(),
         kGroups,
         "1\n2\n1e160\n4\n5\n6\n7\n8\n",
         {"RunOneStand", "-m", "3"},
         1,
         "Line 3 of the covariate file"},
        {"covariate not finite",
         shapes(),
         kGroups,
         "1\n2\nnan\n4\n5\n6\n7\n8\n",
         {"RunOneStand", "-m", "2"},
         1,
         "covariate of specimen 3 is not a finite number"},
        {"single group", shapes(), lines_of("4\n", 8), "", {"RunOneWay"}, 2, "in a single group"},
        {"every specimen its own group", shapes(), "1\n2\n3\n4\n5\n6\n7\n8\n", "", {"RunOneWayF"}, 2, "a group of its own"},
        {"identical specimens", lines_of("0 0 1 0 1 1 0 1 5\n", 8), kGroups, "", {"RunOneWay"}, 2, "have the same shape"},
        {"one shape at different sizes",
         "0 0 1 0 1 1 0 1 5\n0 0 2 0 2 2 0 2 5\n0 0 3 0 3 3 0 3 5\n0 0 4 0 4 4 0 4 5\n"
         "1 1 2 1 2 2 1 2 5\n0 0 5 0 5 5 0 5 5\n0 0 6 0 6 6 0 6 5\n0 0 7 0 7 7 0 7 5\n",
         kGroups,
         "",
         {"RunOneWay"},
         2,
         "have the same shape"},
        {"two landmarks",
         lines_of("0 0 1 0 5\n", 4) + lines_of("0 0 1 0.001 5\n", 4),
         kGroups,
         "",
         {"RunOneWay"},
         2,
         "a shape needs at least 3"},
        {"permutation count not a whole number",
         shapes(),
         kGroups,
         "",
         {"RunOneWay", "-p", "2.5"},
         2,
         "whole number of at least 1"},
        {"old Macintosh line ends load", "1 2 3 4 5 6 7\r8 9 10 11 12 13 14\r", "", "", {"Load"}, 0, "with 2 specimens, 3 LM"},
        {"byte-order mark loads",
         "\xEF\xBB\xBF"
         "1 2 3 4 5 6 7\n",
         "",
         "",
         {"Load"},
         0,
         "with 1 specimens, 3 LM"},
    };
}

}  // namespace

TEST(MalformedFiles, EachClassGetsItsStatusAndAClearMessage) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::vector<std::string> args = {c.action.front()};
        args.insert(args.end(), {"-l", dir.write("lm.txt", c.landmarks)});
        if (!c.groups.empty()) args.insert(args.end(), {"-g", dir.write("groups.txt", c.groups)});
        if (!c.covariate.empty()) args.insert(args.end(), {"-c", dir.write("cov.txt", c.covariate)});
        args.insert(args.end(), c.action.begin() + 1, c.action.end());
        if (std::find(args.begin(), args.end(), "-p") == args.end()) args.insert(args.end(), {"-p", "19", "-s", "3"});
        const BatchResult r = run_batch(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.status == 0) {
            EXPECT_THAT(r.out, HasSubstr(c.phrase));
        } else {
            EXPECT_THAT(r.err, HasSubstr(c.phrase));
            EXPECT_EQ(r.out, "");
        }
    }
}

TEST(MalformedFiles, MissingFilesAndFoldersAreNamed) {
    TempDir dir;
    auto missing = run_batch({"RunOneWay", "-l", dir.file("absent.txt")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(missing.err, HasSubstr("Cannot open the file " + dir.file("absent.txt")));
    auto folder = run_batch({"Load", "-l", dir.folder()});
    EXPECT_EQ(folder.status, 1);
    EXPECT_THAT(folder.err, HasSubstr("it is a folder"));
}
