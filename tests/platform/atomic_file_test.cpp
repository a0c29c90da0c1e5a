// Saving never harms what it replaces: what a save does to links, special
// files, permissions and the temporary file when something goes wrong.
#include "platform/atomic_file.hpp"
#include "platform/error.hpp"
#include "support/fixtures.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quillan;
using namespace quillan::test;
using ::testing::HasSubstr;

namespace {

// The message of a save that must fail, or "" when it succeeded.
std::string save_error(const std::string& path, const std::string& content, std::string* warning = nullptr) {
    try {
        write_file_atomically(path, content, [&](const std::string& w) {
            if (warning) *warning = w;
        });
    } catch (const QuillanError& e) {
        return e.what();
    }
    return {};
}

mode_t mode_of(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// Runs `body` in a child process (as an ordinary user when the tests run as
// root, since root may write anything) and returns its exit status, or 128
// plus the signal that ended it.
int in_child(const std::function<int()>& body, bool unprivileged = false) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

TEST(AtomicSave, RefusesTargetsThatAreNotRegularFilesAndLeavesThemAlone) {
    TempDir dir;
    // A pipe and a folder.
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0644), 0);
    EXPECT_THAT(save_error(dir.file("pipe"), "x"), HasSubstr("it is a pipe, not a regular file"));
    struct stat st {};
    ASSERT_EQ(::lstat(dir.file("pipe").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    std::filesystem::create_directory(dir.file("folder"));
    EXPECT_THAT(save_error(dir.file("folder"), "x"), HasSubstr("it is a folder"));

    // A device, reached directly and through a link such as /dev/stdout.
    const std::string msg = save_error("/dev/null", "x");
    EXPECT_THAT(msg, HasSubstr("Cannot write the file /dev/null: it is a device"));
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    std::filesystem::create_symlink("/dev/null", dir.file("to-null"));
    EXPECT_THAT(save_error(dir.file("to-null"), "x"), HasSubstr("device"));
    // Standard output is a stream, whatever it was redirected to.
    EXPECT_THAT(save_error("/dev/stdout", "x"), HasSubstr("an already open stream"));
    EXPECT_EQ(dir.entries(), 3);  // pipe, folder, to-null: no temporary file left
}

TEST(AtomicSave, SavesThroughASymbolicLinkToItsTarget) {
    TempDir dir;
    dir.write("real.txt", "old");
    std::filesystem::create_symlink("real.txt", dir.file("link.txt"));  // relative, as most links are
    ASSERT_EQ(save_error(dir.file("link.txt"), "new"), "");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.txt")));
    EXPECT_EQ(read_bytes(dir.file("real.txt")), "new");

    // A link to a file not there yet creates that file.
    std::filesystem::create_directory(dir.file("sub"));
    std::filesystem::create_symlink("sub/fresh.txt", dir.file("dangling"));
    ASSERT_EQ(save_error(dir.file("dangling"), "made"), "");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("dangling")));
    EXPECT_EQ(read_bytes(dir.file("sub/fresh.txt")), "made");
}

TEST(AtomicSave, KeepsAnExistingFilesModeAndGivesANewFileWhatTheUmaskAllows) {
    TempDir dir;
    dir.write("private.txt", "old");
    ::chmod(dir.file("private.txt").c_str(), 0600);
    ASSERT_EQ(save_error(dir.file("private.txt"), "new"), "");
    EXPECT_EQ(mode_of(dir.file("private.txt")), 0600u);
    ::chmod(dir.file("private.txt").c_str(), 0640);
    ASSERT_EQ(save_error(dir.file("private.txt"), "newer"), "");
    EXPECT_EQ(mode_of(dir.file("private.txt")), 0640u);

    const mode_t old = ::umask(027);
    const std::string err = save_error(dir.file("fresh.txt"), "x");
    ::umask(old);
    ASSERT_EQ(err, "");
    EXPECT_EQ(mode_of(dir.file("fresh.txt")), 0640u);
}

TEST(AtomicSave, RefusesAFileTheUserMayNotWrite) {
    TempDir dir;
    const std::string target = dir.write("locked.txt", "keep me");
    ::chmod(target.c_str(), 0444);
    // The folder is open to all, so only the file's own permission stops the save.
    ::chmod(dir.path().c_str(), 0777);
    // In a chroot whose root only root may enter, no other user reaches the folder.
    if (in_child([&] { return ::access(dir.path().c_str(), W_OK | X_OK) == 0 ? 0 : 77; }, true) == 77)
        GTEST_SKIP() << "an unprivileged user cannot reach " << dir.path();
    const int status = in_child(
        [&] {
            const std::string msg = save_error(target, "overwritten");
            if (msg.find("Cannot write the file " + target + ": Permission denied") == std::string::npos) return 1;
            return read_bytes(target) == "keep me" ? 0 : 2;
        },
        true);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_bytes(target), "keep me");
    EXPECT_EQ(dir.entries(), 1);
}

TEST(AtomicSave, WarnsThatOtherHardLinksKeepTheOldContent) {
    TempDir dir;
    dir.write("a.txt", "old");
    std::filesystem::create_hard_link(dir.file("a.txt"), dir.file("b.txt"));
    std::string warning;
    ASSERT_EQ(save_error(dir.file("a.txt"), "new", &warning), "");
    EXPECT_EQ(read_bytes(dir.file("a.txt")), "new");
    EXPECT_EQ(read_bytes(dir.file("b.txt")), "old");
    EXPECT_THAT(warning, HasSubstr("1 other name (hard links)"));
    EXPECT_THAT(warning, HasSubstr(dir.file("a.txt")));

    // A file with one name gets no warning.
    warning.clear();
    ASSERT_EQ(save_error(dir.file("a.txt"), "again", &warning), "");
    EXPECT_EQ(warning, "");
}

TEST(AtomicSave, AFileSizeLimitIsReportedAsSuchAndLeavesTheOldFile) {
    TempDir dir;
    const std::string target = dir.write("big.txt", "old content");
    const int status = in_child([&] {
        rlimit lim{};
        ::getrlimit(RLIMIT_FSIZE, &lim);
        lim.rlim_cur = 16;
        ::setrlimit(RLIMIT_FSIZE, &lim);
        const std::string msg = save_error(target, std::string(1000, 'x'));
        return msg.find("File too large") != std::string::npos ? 0 : 1;
    });
    EXPECT_EQ(status, 0) << "a status of 128+" << SIGXFSZ << " means the signal ended the save";
    EXPECT_EQ(read_bytes(target), "old content");
    EXPECT_EQ(dir.entries(), 1);
}

TEST(AtomicSave, AFullDiskIsReportedAsSuch) {
    // A tiny in-memory file system; where mounting is not allowed there is
    // nothing to test.
    TempDir dir;
    const std::string mnt = dir.file("small");
    std::filesystem::create_directory(mnt);
    if (std::system(("mount -t tmpfs -o size=16k tmpfs '" + mnt + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    const std::string target = mnt + "/report.txt";
    std::string err = save_error(target, "old");
    if (err.empty()) err = save_error(target, std::string(64 * 1024, 'x'));
    const std::string left = read_bytes(target);
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(mnt)) files += e.is_regular_file();
    std::system(("umount '" + mnt + "'").c_str());
    EXPECT_THAT(err, HasSubstr("No space left on device"));
    EXPECT_EQ(left, "old");
    EXPECT_EQ(files, 1);
}

TEST(AtomicSave, ASignalThatEndsTheProgramDuringASaveRemovesTheTemporaryFile) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        TempDir dir;
        const std::string target = dir.write("report.txt", "old");
        const int status = in_child([&] {
            save_testing::set_after_temp_created([sig](const std::string&) { ::raise(sig); });
            save_error(target, "new");
            return 0;  // not reached: the signal ends the process
        });
        EXPECT_EQ(status, 128 + sig);
        EXPECT_EQ(read_bytes(target), "old");
        EXPECT_EQ(dir.entries(), 1) << "signal " << sig << " left a temporary file";
    }
}

// A set of many files (a run's pictures) stopped while it gathers: every
// temporary file goes, not only the first few dozen.
TEST(AtomicSave, ASignalDuringALargeSetRemovesEveryTemporaryFile) {
    TempDir dir;
    const int status = in_child([&] {
        SaveSet set;
        for (int i = 0; i < 300; ++i) set.write(dir.file("p" + std::to_string(i) + ".png"), "picture");
        ::raise(SIGHUP);
        return 0;  // not reached
    });
    EXPECT_EQ(status, 128 + SIGHUP);
    EXPECT_EQ(dir.entries(), 0);
}

TEST(AtomicSave, SaveOutShowsTheHardLinkWarning) {
    TempDir dir;
    Harness h;
    dir.write("out.txt", "old");
    std::filesystem::create_hard_link(dir.file("out.txt"), dir.file("other.txt"));
    h.set_box(kResultsBox, Value("A"));
    ASSERT_EQ(h.save(dir.file("out.txt")), Outcome::Done);
    EXPECT_EQ(read_bytes(dir.file("out.txt")), "\n A");
    ASSERT_FALSE(h.gui.messages().empty());
    EXPECT_EQ(h.gui.messages().back().title, "Possible error");
    EXPECT_THAT(h.gui.messages().back().text, HasSubstr("other name"));
}

TEST(AtomicSave, ALinkAnotherUserMadeInASharedFolderIsNotFollowed) {
    // Only root can make a link that belongs to another user.
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a link another owner";
    TempDir dir;
    const std::string shared = dir.file("shared");
    ASSERT_EQ(::mkdir(shared.c_str(), 01777), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    const std::string victim = dir.write("victim.txt", "root's file");
    const std::string link = shared + "/report.txt";
    ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);
    ASSERT_EQ(::lchown(link.c_str(), 54321, 54321), 0);
    EXPECT_THAT(save_error(link, "planted"), HasSubstr("a symbolic link that another user made in a shared folder"));
    EXPECT_EQ(read_bytes(victim), "root's file");
    // The folder's owner's own links are followed, as the system does.
    ASSERT_EQ(::lchown(link.c_str(), 0, 0), 0);
    EXPECT_EQ(save_error(link, "mine"), "");
    EXPECT_EQ(read_bytes(victim), "mine");
}

TEST(AtomicSave, ASetOfSavesIsWrittenWholeOrNotAtAll) {
    TempDir dir;
    const std::string a = dir.write("a.txt", "old a"), b = dir.file("b.txt"), stale = dir.write("stale.txt", "old");
    {
        SaveSet set;
        set.write(a, "new a");
        set.write(b, "new b");
        set.remove_at_commit(stale);
        // Nothing is in place before the commit.
        EXPECT_EQ(read_bytes(a), "old a");
        EXPECT_FALSE(std::filesystem::exists(b));
        // A target that cannot be written fails at once, as a single save does.
        EXPECT_THROW(set.write(dir.folder(), "x"), QuillanError);
        // A save outside the set (the window's, meanwhile) is not held back.
        write_file_atomically(dir.file("own.txt"), "own");
        EXPECT_EQ(read_bytes(dir.file("own.txt")), "own");
        std::filesystem::remove(dir.file("own.txt"));
        // Dropped without a commit: no file changed and no temporary file is left.
    }
    EXPECT_EQ(read_bytes(a), "old a");
    EXPECT_FALSE(std::filesystem::exists(b));
    EXPECT_EQ(dir.entries(), 2);
    {
        SaveSet set;
        set.write(a, "new a");
        set.write(b, "new b");
        set.remove_at_commit(stale);
        EXPECT_EQ(set.commit().size(), 3u);
    }
    EXPECT_EQ(read_bytes(a), "new a");
    EXPECT_EQ(read_bytes(b), "new b");
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_EQ(dir.entries(), 2);
    {
        // A rename that fails at the commit (the folder went read-only under
        // the set) puts back what was already replaced.
        SaveSet set;
        set.write(a, "newer a");
        const std::string sub = dir.file("sub");
        std::filesystem::create_directory(sub);
        set.write(sub + "/c.txt", "c");
        std::filesystem::remove_all(sub);
        EXPECT_THROW(set.commit(), QuillanError);
    }
    EXPECT_EQ(read_bytes(a), "new a");
    EXPECT_EQ(dir.entries(), 2);
}

// Folders made for a set's files go again with the set when nothing was put
// in them; those that received a file stay, and folders there before stay.
TEST(AtomicSave, FoldersMadeForASetGoWhenTheyStayEmpty) {
    TempDir dir;
    const std::string deep = dir.file("made/for/pictures"), kept = dir.file("kept");
    std::filesystem::create_directory(kept);
    std::string error;
    {
        SaveSet set;
        ASSERT_TRUE(make_folders_for_saves(deep, error, &set)) << error;
        ASSERT_TRUE(make_folders_for_saves(kept, error, &set)) << error;
        set.write(deep + "/a.svg", "a");
        EXPECT_TRUE(std::filesystem::is_directory(deep));
    }  // dropped: the file is not written, and its folders go
    EXPECT_FALSE(std::filesystem::exists(dir.file("made")));
    EXPECT_TRUE(std::filesystem::is_directory(kept));
    {
        SaveSet set;
        ASSERT_TRUE(make_folders_for_saves(deep, error, &set)) << error;
        ASSERT_TRUE(make_folders_for_saves(dir.file("made/empty"), error, &set)) << error;
        set.write(deep + "/a.svg", "a");
        set.commit();
    }
    EXPECT_EQ(read_bytes(deep + "/a.svg"), "a");
    EXPECT_FALSE(std::filesystem::exists(dir.file("made/empty")));
    // A folder that cannot be made is named with the reason.
    EXPECT_FALSE(make_folders_for_saves(deep + "/a.svg/sub", error));
    EXPECT_THAT(error, HasSubstr("a.svg/sub: Not a directory"));
}
