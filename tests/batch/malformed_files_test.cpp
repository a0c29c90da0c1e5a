// One row per kind of malformed input: the files, the action, the exit
// status the batch front end must give and a phrase its message must hold.
// Every row must end with a clear message and no report; none may crash.
#include "support/batch_runner.hpp"
#include "support/fixtures.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <sstream>

#include <sys/stat.h>

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
    std::string action;                        // action and further options, blank-separated
    int status;
    std::string phrase;
};

const std::string kGroups = "1\n1\n1\n1\n2\n2\n2\n2\n";
const std::string kCov = "1\n2\n3\n4\n5\n6\n7\n8\n";

std::vector<Case> cases() {
    return {
        {"control bytes in a line", std::string("1 2 3\n4 \0 \x07 6\n", 14), "", "", "Load", 1, "(\"4 \\x00 \\x07 6\")"},
        {"even number of values per line", lines_of("1 2 3 4 5 6\n", 8), kGroups, "", "RunOneWay", 1, "an even number"},
        {"coordinate not finite", "0 0 1 0 1 1 0 1 5\n0 0 1 nan 1 1 0 1 5\n" + shapes(6), kGroups, "", "RunOneWay", 1,
         "not a finite number"},
        {"all landmarks at one point", lines_of("2 2 2 2 2 2 2 2 5\n", 1) + shapes(7), kGroups, "", "RunOneWay", 1,
         "all its landmarks at one point"},
        {"group file shorter than the landmark file", shapes(), "1\n2\n1\n", "", "RunOneWay", 1,
         "The group file has 3 specimens, but the landmark file has 8"},
        {"group codes that cannot be told apart", shapes(), "1\n1e18\n1000000000000000001\n1\n2\n2\n2\n2\n", "", "RunOneWay", 1,
         "Line 2 of the group file"},
        {"group code not a number", shapes(), "1\n1\ninf\n1\n2\n2\n2\n2\n", "", "RunOneWay", 1, "Line 3 of the group file"},
        {"covariate not finite", shapes(), kGroups, "1\n2\nnan\n4\n5\n6\n7\n8\n", "RunOneStand -m 2", 1,
         "Line 3 of the covariate file cov.txt holds NaN, not a finite number"},
        {"size value not finite in a standardisation", shapes(7) + "0 0 1 0.1 1.1 1 0 0.9 nan\n", kGroups, kCov,
         "RunOneStand -m 2", 1, "Line 8 of the landmark file lm.txt holds NaN in column 9"},
        {"single group", shapes(), lines_of("4\n", 8), "", "RunOneWay", 2, "in a single group"},
        {"every specimen its own group", shapes(), "1\n2\n3\n4\n5\n6\n7\n8\n", "", "RunOneWayF", 2, "a group of its own"},
        {"identical specimens", lines_of("0 0 1 0 1 1 0 1 5\n", 8), kGroups, "", "RunOneWay", 2, "have the same shape"},
        {"two landmarks", lines_of("0 0 1 0 5\n", 4) + lines_of("0 0 1 0.001 5\n", 4), kGroups, "", "RunOneWay", 2,
         "a shape needs at least 3"},
        {"slope models of a single group", shapes(), lines_of("1\n", 8), kCov, "RunOneCov", 2, "in a single group"},
        {"surrogate slope models of a single group", shapes(), lines_of("1\n", 8), kCov, "TestCovariate", 2, "in a single group"},
        {"permutation count beyond the upper limit", shapes(), kGroups, "", "RunOneWay -p 1000000000001", 2,
         "at least 1 and at most 1000000000000"},
        {"group code that is not a whole number", shapes(), "1\n1\n1.5\n1\n2\n2\n2\n2\n", "", "LoadGlist", 0,
         "Line 3 of the group file"},
        {"group file of three columns", shapes(), lines_of("1 1 3\n", 4) + lines_of("2 2 3\n", 4), "", "LoadGlist", 0,
         "the third and later columns are ignored"},
    };
}

}  // namespace

TEST(MalformedFiles, EachClassGetsItsStatusAndAClearMessage) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::istringstream action(c.action);
        std::vector<std::string> args(std::istream_iterator<std::string>(action), {});
        args.insert(args.begin() + 1, {"-l", dir.write("lm.txt", c.landmarks)});
        if (!c.groups.empty()) args.insert(args.begin() + 1, {"-g", dir.write("groups.txt", c.groups)});
        if (!c.covariate.empty()) args.insert(args.begin() + 1, {"-c", dir.write("cov.txt", c.covariate)});
        if (std::find(args.begin(), args.end(), "-p") == args.end()) args.insert(args.end(), {"-p", "19", "-s", "3"});
        const BatchResult r = run_batch(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.status == 0) {
            EXPECT_THAT(r.out + r.err, HasSubstr(c.phrase));
        } else {
            EXPECT_THAT(r.err, HasSubstr(c.phrase));
            EXPECT_EQ(r.out, "");
        }
    }
}

namespace {

// Imports and conversions: the files a case writes into its folder, and the
// arguments, where "@name" stands for the path of that file.
struct ImportCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::string> args;
    int status;
    std::string phrase;
};

const std::string kTps =
    "LM=3\n10 10\n20 10\n15 20\nID=a\nLM=3\n11 10\n21 11\n16 22\nID=b\n"
    "LM=3\n12 11\n21 10\n15 21\nID=c\nLM=3\n10 12\n20 11\n14 20\nID=d\n";

std::vector<ImportCase> import_cases() {
    const std::string out = "@out";
    return {
        {"endless factor table",
         {{"t.tps", kTps}},
         {"Import", "-i", "@t.tps", "--factors", "/dev/zero"},
         1,
         "The file /dev/zero could not be read: line 1 is more than 64 MB long"},
        {"ID column the factor table lacks",
         {{"t.tps", kTps}, {"f.csv", "ID,g\na,1\nb,1\nc,2\nd,2\n"}},
         {"Import", "-i", "@t.tps", "--factors", "@f.csv", "--id-column", "nosuch"},
         1,
         "no ID column \"nosuch\" in the factor table"},
        {"negative coordinates taken as missing",
         {{"t.tps", kTps + "LM=3\n-1 -1\n20 11\n14 20\nID=e\n"}},
         {"Import", "-i", "@t.tps", "--negative-missing"},
         1,
         "missing landmarks in 1 specimens: e (line 21): landmark 1"},
        {"negative coordinates warned about",
         {{"t.tps", kTps + "LM=3\n-1 -1\n20 11\n14 20\nID=e\n"}},
         {"Import", "-i", "@t.tps"},
         0,
         "quillan-batch: Possible error: 1 of 5 specimens in t.tps have negative coordinates"},
        {"skipped outline points told without --trace",
         {{"t.tps", kTps + "POINTS=2\n1 1\n2 2\n"}},
         {"Import", "-i", "@t.tps"},
         0,
         "2 outline points (CURVES=/POINTS= blocks) in t.tps were skipped"},
        {"parentheses nested past the bound",
         {{"t.tps", kTps}, {"f.csv", "ID,g\na,x\nb,x\nc,y\nd,y\n"}},
         {"model", "-i", "@t.tps", "--factors", "@f.csv", "--formula", std::string(30000, '(') + "g" + std::string(30000, ')')},
         2,
         "nested more than 200 deep"},
        {"a model of one shape",
         {{"t.tps", lines_of("LM=3\n10 10\n20 10\n15 20\n", 6)}, {"g.txt", "1\n1\n1\n2\n2\n2\n"}},
         {"model", "-i", "@t.tps", "-g", "@g.txt", "-p", "9"},
         2,
         "All 6 specimens have the same shape"},
        {"an imported column named as the group file's",
         {{"t.tps", kTps}, {"f.csv", "ID,G1\na,x\nb,x\nc,y\nd,y\n"}, {"g.txt", "1\n2\n1\n2\n"}},
         {"model", "-i", "@t.tps", "--factors", "@f.csv", "-g", "@g.txt", "-p", "9"},
         2,
         "The column \"G1\" has the name the loaded group file's column goes by"},
        {"a factor named as a row of the table",
         {{"t.tps", kTps}, {"f.csv", "ID,Total\na,x\nb,x\nc,y\nd,y\n"}},
         {"model", "-i", "@t.tps", "--factors", "@f.csv", "--formula", "Total", "-p", "9"},
         2,
         "The column \"Total\" has a name a model's table keeps for its own rows"},
        {"a factor table naming a column twice",
         {{"t.tps", kTps}, {"f.csv", "ID,species,Species\na,x,x\nb,x,x\nc,y,y\nd,y,y\n"}},
         {"Import", "-i", "@t.tps", "--factors", "@f.csv"},
         1,
         "line 1, the column \"Species\" is named twice (columns 2 and 3)"},
        {"a level holding a control character",
         {{"t.tps", kTps}, {"f.csv", std::string("ID,g\na,x\0y\nb,x\0y\nc,z\nd,z\n", 25)}},
         {"model", "-i", "@t.tps", "--factors", "@f.csv", "--formula", "g", "-p", "9"},
         1,
         "line 2, specimen a: the factor \"g\" has the level \"x\\x00y\", which holds a control character"},
        {"CURVES= not a count", {{"t.tps", kTps + "CURVES=abc\n"}}, {"Import", "-i", "@t.tps"}, 1, "CURVES= needs a whole count"},
        {"CURVES= below zero", {{"t.tps", kTps + "CURVES=-5\n"}}, {"Import", "-i", "@t.tps"}, 1, "CURVES= needs a whole count"},
        {"CURVES= beyond the file",
         {{"t.tps", kTps + "CURVES=1000000\n"}},
         {"Import", "-i", "@t.tps"},
         1,
         "CURVES=1000000 announces more curves than the file has lines"},
        {"conversion failures read as action failures",
         {{"t.tps", "LM=2\n0 0\n"}},
         {"convert", "@t.tps", "--out-prefix", out},
         1,
         "quillan-batch: Error: The file"},
    };
}

}  // namespace

// The rows' messages go to standard error; a refused one writes nothing.
TEST(MalformedFiles, ImportsAndConversionsGetTheirStatusAndAClearMessage) {
    for (const ImportCase& c : import_cases()) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        for (const auto& [name, bytes] : c.files) dir.write(name, bytes);
        std::vector<std::string> args;
        for (const auto& a : c.args) args.push_back(a.front() == '@' ? dir.file(a.substr(1)) : a);
        const BatchResult r = run_batch(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_THAT(r.err, HasSubstr(c.phrase));
        if (c.status != 0) {
            EXPECT_EQ(r.out, "");
            EXPECT_FALSE(std::filesystem::exists(dir.file("out.lm.txt")));
        }
    }
}

TEST(MalformedFiles, FoldersAndPipesAreRefusedNamingWhatTheyAre) {
    TempDir dir;
    auto folder = run_batch({"Load", "-l", dir.folder()});
    EXPECT_EQ(folder.status, 1);
    EXPECT_THAT(folder.err, HasSubstr("it is a folder"));
    // A named pipe nobody writes to is refused, not waited on.
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0644), 0);
    for (const char* option : {"-l", "-i"}) {
        auto pipe = run_batch({"Load", option, dir.file("pipe")});
        EXPECT_EQ(pipe.status, 1) << option;
        EXPECT_THAT(pipe.err, HasSubstr("it is a pipe, not a file")) << option;
    }
}
