// The batch front end where the system gets in the way: targets that are
// not files, seeds of the whole 64-bit range, and worker threads the system
// will not start.
#include "support/batch_runner.hpp"
#include "support/fixtures.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quillan::test;
using ::testing::HasSubstr;

namespace {

// Groups that cut across species and sites, so the count of exceeding
// permutations depends on the draws.
std::string mixed_groups(const TempDir& dir) {
    std::string g;
    for (int i = 0; i < 40; ++i) g += std::to_string(1 + (i * 7) % 3) + "\n";
    return dir.write("mixed.txt", g);
}

std::vector<std::string> one_way(const TempDir& dir, const std::string& seed) {
    return {"RunOneWay", "-l", data_file("plethodon.lm.txt"), "-g", mixed_groups(dir), "-p", "199", "-s", seed};
}

}  // namespace

TEST(BatchOutput, OutDashWritesTheSavedFormToStandardOutputAndADeviceIsRefused) {
    auto dash = run_batch({"RunOneWay", "-l", data_file("plethodon.lm.txt"), "-g", data_file("plethodon.species.groups.txt"),
                           "-p", "9", "-s", "1", "--out", "-"});
    EXPECT_EQ(dash.status, 0) << dash.err;
    EXPECT_EQ(dash.out.rfind("\n The Results of a One-Way Classification", 0), 0u) << dash.out;
    auto null = run_batch({"RunOneWay", "-l", data_file("plethodon.lm.txt"), "-g", data_file("plethodon.species.groups.txt"),
                           "-p", "9", "--out", "/dev/null"});
    EXPECT_EQ(null.status, 1);
    EXPECT_THAT(null.err, HasSubstr("Cannot write the file /dev/null: it is a device"));

    // A report that cannot be written (a full disk behind a redirection) is a failure.
    const std::string full = std::string(QUILLAN_BATCH_EXE) + " RunOneWay -p 9 -l '" + data_file("plethodon.lm.txt") + "' -g '" +
                             data_file("plethodon.species.groups.txt") + "' >/dev/full 2>/dev/null";
    const int raw = std::system(full.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1);

    auto help = run_batch({"--help"});
    EXPECT_THAT(help.out, HasSubstr("\"-\" writes the saved form to standard output"));
}

// --seed is read as the Seed box reads it (the cases of the seed's text
// are the seed text's own tests): the whole unsigned range, seeds at and
// past 2^63 apart, blanks around the number allowed, anything else refused.
TEST(BatchSeed, ReadsTheWholeUnsignedRangeAsTheSeedBoxDoes) {
    TempDir dir;
    const auto a = run_batch(one_way(dir, "9223372036854775808"));
    const auto b = run_batch(one_way(dir, "\t9223372036854775809 "));
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_NE(a.out, b.out);
    EXPECT_EQ(run_batch(one_way(dir, " 9223372036854775808")).out, a.out);  // and reproducible
    for (const char* bad : {"18446744073709551616", " ", "4 2"}) {
        const auto r = run_batch(one_way(dir, bad));
        EXPECT_EQ(r.status, 64) << '"' << bad << '"';
        EXPECT_THAT(r.err, HasSubstr("--seed must be a whole number")) << '"' << bad << '"';
    }
}

TEST(BatchThreads, ThreadsTheSystemWillNotStartDoNotEndTheProgram) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0777);
    const std::string out = dir.file("out"), err = dir.file("err");
    std::fflush(nullptr);
    // In a chroot whose root only root may enter, the unprivileged child
    // reaches neither the folder nor the program: nothing to test there.
    if (::geteuid() == 0) {
        const pid_t probe = ::fork();
        if (probe == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(90);
            ::_exit(::access(dir.path().c_str(), W_OK | X_OK) == 0 && ::access(QUILLAN_BATCH_EXE, X_OK) == 0 ? 0 : 77);
        }
        int probed = 0;
        ::waitpid(probe, &probed, 0);
        if (WIFEXITED(probed) && WEXITSTATUS(probed) == 77) GTEST_SKIP() << "an unprivileged user cannot reach " << dir.path();
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        // An ordinary user allowed one process: no thread can be started.
        // (Root is not bound by the limit, so the child becomes nobody.)
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(90);
        // LeakSanitizer's exit check needs a thread of its own, which the
        // limit denies too (only in the sanitizer build).
        ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        rlimit one{1, 1};
        if (::setrlimit(RLIMIT_NPROC, &one) != 0) ::_exit(91);
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666),
                  e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (o < 0 || e < 0) ::_exit(92);
        ::dup2(o, 1);
        ::dup2(e, 2);
        const std::string lm = data_file("plethodon.lm.txt"), g = data_file("plethodon.species.groups.txt");
        ::execl(QUILLAN_BATCH_EXE, "quillan-batch", "RunOneWay", "-l", lm.c_str(), "-g", g.c_str(), "-p", "99", "-s", "7", "-t",
                "4", "--trace", static_cast<char*>(nullptr));
        ::_exit(93);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << "\n" << read_bytes(err);
    EXPECT_EQ(WEXITSTATUS(status), 0) << read_bytes(err);
    EXPECT_THAT(read_bytes(err), HasSubstr("No worker thread could be started"));
    // The same report as a run on threads.
    const auto normal = run_batch({"RunOneWay", "-l", data_file("plethodon.lm.txt"), "-g",
                                   data_file("plethodon.species.groups.txt"), "-p", "99", "-s", "7", "-t", "4"});
    EXPECT_EQ(read_bytes(out), normal.out);
}

// The files one run or one conversion writes are one set: all are replaced,
// or none is.
TEST(BatchFileSets, AConversionReplacesOrRemovesEveryMemberOfTheSet) {
    TempDir dir;
    const std::string prefix = dir.file("set");
    auto from_csv = run_batch({"convert", data_file("plethodon.csv"), "--out-prefix", prefix, "--covariate-column", "logCS"});
    ASSERT_EQ(from_csv.status, 0) << from_csv.err;
    ASSERT_TRUE(std::filesystem::exists(prefix + ".groups.txt"));
    ASSERT_TRUE(std::filesystem::exists(prefix + ".cov.txt"));
    // The TPS has no groups and no covariate: the old ones must not stay
    // beside its landmarks.
    auto from_tps = run_batch({"convert", data_file("plethodon.tps"), "--out-prefix", prefix});
    ASSERT_EQ(from_tps.status, 0) << from_tps.err;
    EXPECT_FALSE(std::filesystem::exists(prefix + ".groups.txt"));
    EXPECT_FALSE(std::filesystem::exists(prefix + ".cov.txt"));

    // One member that cannot be written: none is replaced.
    const std::string old_landmarks = read_bytes(prefix + ".lm.txt");
    std::filesystem::create_directory(prefix + ".groups.txt");
    auto blocked = run_batch({"convert", data_file("plethodon.csv"), "--out-prefix", prefix});
    EXPECT_EQ(blocked.status, 1);
    EXPECT_THAT(blocked.err, HasSubstr("it is a folder"));
    EXPECT_EQ(read_bytes(prefix + ".lm.txt"), old_landmarks);
}

TEST(BatchFileSets, ARunThatFailsOnOneExportLeavesTheReportAsItWas) {
    TempDir dir;
    const std::string report = dir.write("r.txt", "an earlier report\n");
    std::filesystem::create_directory(dir.file("r.json"));
    auto r = run_batch({"RunOneWay", "-l", data_file("plethodon.lm.txt"), "-g", data_file("plethodon.species.groups.txt"), "-p",
                        "9", "-s", "1", "--out", report, "--json", dir.file("r.json"), "--csv", dir.file("r.csv")});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("quillan-batch: Error: Cannot write the file " + dir.file("r.json")));
    EXPECT_EQ(read_bytes(report), "an earlier report\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("r.csv")));
}

TEST(BatchFileSets, ASaveWarningStartsWithTheProgramsName) {
    TempDir dir;
    const std::string json = dir.write("r.json", "old");
    std::filesystem::create_hard_link(json, dir.file("other-name.json"));
    auto r = run_batch({"RunOneWay", "-l", data_file("plethodon.lm.txt"), "-g", data_file("plethodon.species.groups.txt"), "-p",
                        "9", "-s", "1", "--json", json});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("quillan-batch: Warning: The file " + json + " had 1 other name (hard links)"));
}

// An output onto an input, or two outputs onto one file, is refused before
// any work and leaves every file as it was; files are compared as files, so
// another name of the same file is caught too.  "-" is standard output for
// the exports as for --out.
TEST(BatchOutput, OutputsOntoInputsOrOntoEachOtherAreRefused) {
    TempDir dir;
    const std::string lm = dir.write("lm.txt", read_bytes(data_file("plethodon.lm.txt")));
    const std::string g = dir.write("g.txt", read_bytes(data_file("plethodon.species.groups.txt")));
    const std::string other_name = dir.folder() + "/./lm.txt";
    const std::vector<std::string> base = {"one-way", "-l", lm, "-g", g, "-p", "9", "-s", "1"};
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--out", other_name}, "--out " + other_name + " would overwrite the input -l " + lm},
        {{"--json", g}, "--json " + g + " would overwrite the input -g " + g},
        {{"--log", lm}, "--log " + lm + " would overwrite the input -l"},
        {{"--out", dir.file("r.txt"), "--json", dir.file("r.txt")}, "are the same file, and one would be lost"},
        {{"--json", dir.file("x"), "--csv", dir.file("x")}, "--json " + dir.file("x") + " and --csv " + dir.file("x")},
        {{"--json", "-"}, "the report and --json - would both go to standard output"},
    };
    for (const auto& [extra, phrase] : cases) {
        std::vector<std::string> args = base;
        args.insert(args.end(), extra.begin(), extra.end());
        const auto r = run_batch(args);
        EXPECT_EQ(r.status, 64) << phrase;
        EXPECT_THAT(r.err, HasSubstr(phrase));
    }
    EXPECT_EQ(read_bytes(lm), read_bytes(data_file("plethodon.lm.txt")));
    EXPECT_EQ(read_bytes(g), read_bytes(data_file("plethodon.species.groups.txt")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("r.txt")));
    std::vector<std::string> to_stdout = base;
    to_stdout.insert(to_stdout.end(), {"--out", dir.file("r.txt"), "--json", "-"});
    const auto json = run_batch(to_stdout);
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out.rfind("{\n  \"run\": {", 0), 0u) << json.out;
    EXPECT_FALSE(std::filesystem::exists("-"));
}

// A picture folder made for a run that ends with no picture in it goes
// again: none could be drawn, or the run failed and dropped them.
TEST(BatchFileSets, NoEmptyPictureFolderIsLeftBehind) {
    TempDir dir;
    const std::string pictures = dir.file("new/pictures");
    // The folder is made for pictures that are written (here of landmarks in space).
    auto space = run_batch({"load", "--dimensions", "3", "-l", data_file("macaques.lm.txt"), "--plots", pictures});
    EXPECT_EQ(space.status, 0) << space.err;
    EXPECT_TRUE(std::filesystem::exists(dir.file("new/pictures/superimposition.svg")));
    std::filesystem::remove_all(dir.file("new"));
    // A file-size limit (as of a nearly full disk) fails the first picture.
    const std::string limited = "ulimit -f 1; exec '" + std::string(QUILLAN_BATCH_EXE) + "' one-way -p 9 -l '" +
                                data_file("plethodon.lm.txt") + "' -g '" + data_file("plethodon.species.groups.txt") +
                                "' --plots '" + pictures + "' >/dev/null 2>" + dir.file("err");
    const int raw = std::system(limited.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << read_bytes(dir.file("err"));
    EXPECT_THAT(read_bytes(dir.file("err")), HasSubstr("File too large"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("new")));
}
