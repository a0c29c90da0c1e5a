// The platform layer: formatted print, the numbers of the input tables, the
// seed text, the mean, permutations and the fingerprints of files.
#include "platform/atomic_file.hpp"
#include "platform/error.hpp"
#include "platform/format.hpp"
#include "platform/random.hpp"
#include "platform/seed_text.hpp"
#include "platform/sha256.hpp"
#include "platform/statistics.hpp"
#include "support/fixtures.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace quillan::test;
using namespace quillan;
using ::testing::HasSubstr;

// Formatted print as the reports use it, and with arguments its conversions
// cannot take as they are: not-a-number and infinities, values out of a
// character's or a 64-bit integer's range, widths and precisions that are
// not finite or too large (every format of the program is a constant, but
// the operation can be called by name with any).
TEST(FormatExpandReuse, PrintsLikePrintfWithinBounds) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* format;
        std::vector<FmtArg> args;
        std::string printed;
    } cases[] = {
        {"a\\nb", {}, "a\nb"},  // stored line breaks are expanded
        {"Total SS=%1.4f Percent =%2.3f\\n", {2.5, 12.0}, "Total SS=2.5000 Percent =12.000\n"},
        {"%s|%i|%f", {"x", 3, 0.001}, "x|3|0.001000"},
        {"100%%", {}, "100%"},
        {"%i LM", {5.5}, "5.500000e+00 LM"},  // a value that is not whole, given to %i
        {"%i", {-0.5}, "-5.000000e-01"},
        {"%d", {12.0}, "12"},
        {"%i", {1e20}, "100000000000000000000"},
        {", % i group variables", {2}, ",  2 group variables"},
        {"% i", {-2}, "-2"},
        {"F=%2.4f", {nan}, "F=NaN"},
        {"%f %i %1.4f", {inf, -inf, nan}, "Inf -Inf NaN"},
        {"[%6.2f]", {inf}, "[   Inf]"},
        {"%i,", {1, 2, 3}, "1,2,3,"},  // arguments outlasting the format reuse it
        {"a=%i b=%i", {1}, "a=1 b="},  // and short data stops it
        {"x %i y", {}, "x  y"},
        {"%c", {65.0}, "A"},
        {"%c", {1e300}, "1.000000e+300"},
        {"%c", {-1.0}, "-1.000000e+00"},
        {"%x", {255.0}, "ff"},
        {"%o", {8.0}, "10"},
        {"%X", {1e30}, "1.000000e+30"},
        {"%x", {-1e19}, "-1.000000e+19"},
        {"%x", {9223372036854775807.0}, "9.223372e+18"},  // rounds to 2^63, one past the range
        {"%*i|", {nan, 5.0}, "5|"},
        {"%*i|", {-inf, 5.0}, "5|"},
        {"%*i|", {3.0, 5.0}, "  5|"},
    };
    for (const auto& c : cases) EXPECT_EQ(format_expand_reuse(c.format, c.args), c.printed) << c.format;
    EXPECT_EQ(format_expand_reuse("%*i|", {inf, 5.0}).size(), 100001u);
    EXPECT_EQ(format_expand_reuse("%*i|", {1e300, 5.0}).size(), 100001u);
    EXPECT_EQ(format_expand_reuse("%99999999999i|", {1.0}).size(), 100001u);
    EXPECT_EQ(format_expand_reuse("%.99999999999f", {0.5}).size(), 100002u);  // "0." and 100000 digits
    EXPECT_EQ(concat_trimmed({"p= 0.370000 ", "next  "}), "p= 0.370000next");
    EXPECT_EQ(concat_trimmed({"line\n", "\nmore\t"}), "line\n\nmore\t");
    EXPECT_EQ(concat_trimmed({"   ", ""}), "");
}

// The numbers of the input tables, read with std::from_chars: the same
// tokens accepted and refused, and the same doubles bit for bit, as a
// reading through strtod in the C locale (the reference below), on the
// corners where the two could part: overflow and underflow, subnormals,
// halfway cases, long mantissas, signs, and every way a token can be
// malformed.

namespace {

bool reference_token(std::string_view t, double& out) {
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::string lower;
    for (char c : t.substr(i)) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "inf" || lower == "nan") {
        out = std::strtod(std::string(t).c_str(), nullptr);
        if (lower == "nan") out = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    std::size_t digits = 0, k = i;
    while (k < t.size() && std::isdigit(static_cast<unsigned char>(t[k]))) ++k, ++digits;
    if (k < t.size() && t[k] == '.')
        for (++k; k < t.size() && std::isdigit(static_cast<unsigned char>(t[k]));) ++k, ++digits;
    if (digits == 0) return false;
    if (k < t.size() && (t[k] == 'e' || t[k] == 'E')) {
        ++k;
        if (k < t.size() && (t[k] == '+' || t[k] == '-')) ++k;
        std::size_t ed = 0;
        while (k < t.size() && std::isdigit(static_cast<unsigned char>(t[k]))) ++k, ++ed;
        if (ed == 0) return false;
    }
    if (k != t.size()) return false;
    out = std::strtod(std::string(t).c_str(), nullptr);
    return true;
}

// The text's numbers as the reader before from_chars read them.
std::vector<double> reference_str2num(std::string_view text) {
    auto sep = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::vector<double> out;
    bool need = false;
    for (std::size_t i = 0; i < text.size();) {
        if (sep(text[i])) {
            ++i;
        } else if (text[i] == ',') {
            if (out.empty() || need) return {};
            need = true;
            ++i;
        } else {
            std::size_t j = i;
            while (j < text.size() && !sep(text[j]) && text[j] != ',') ++j;
            double d;
            if (!reference_token(text.substr(i, j - i), d)) return {};
            out.push_back(d);
            need = false;
            i = j;
        }
    }
    return out;
}

std::uint64_t bits(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

// Same count, and every value the same bits (any NaN counts as the one NaN).
void expect_same_reading(const std::string& text) {
    const std::vector<double> want = reference_str2num(text), got = str2num(text);
    ASSERT_EQ(got.size(), want.size()) << '"' << text << '"';
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (std::isnan(want[i])) EXPECT_TRUE(std::isnan(got[i])) << '"' << text << '"';
        else EXPECT_EQ(bits(got[i]), bits(want[i])) << '"' << text << "\" value " << i;
    }
}

}  // namespace

TEST(NumberReading, CornersReadAsStrtodReadsThemBitForBit) {
    // Tokens, blank-separated (none holds a blank).
    const std::string tokens =
        "0 -0 +0 0.0 -0.0 .5 5. +5 -.5 +.5e1 007 1e400 -1e400 1e-400 -1e-400 1.7976931348623157e308 "
        "1.7976931348623158e308 1.7976931348623159e308 2e308 4.9406564584124654e-324 2.4703282292062327e-324 "
        "2.4703282292062328e-324 2.2250738585072011e-308 2.2250738585072014e-308 9007199254740993 "
        "9007199254740992.5 0.1 0.30000000000000004 123456789012345678901234567890 1e99999999999999999999 "
        "1e-99999999999999999999 0e99999 0.000000000000000000000000000001e30 "
        "3.141592653589793238462643383279502884197 1E5 1e+5 1e-5 inf -Inf +INF nan -NaN NAN infinity nanq "
        "0x1A 0x1p3 1e 1e+ e5 . -. + - 1.2.3 1..2 1e5.5 1d5 --1 +-1 1- ١ 1\xC2\xA0 1_000 $1 1f \x01 １";
    std::istringstream in(tokens);
    for (std::string t; in >> t;) expect_same_reading(t);
    // Separators and commas as the rows of a table hold them.
    for (const char* line : {"1,2,3", "1 ,2", "1, 2\r\n", ",1", "1,", "1,,2", "1, ,2", "\t1\t2\t", "1\r2", "", " ", ",",
                             "1 2 3\n", "1e400,-1e-400\tnan", "1 ,\r\n"})
        expect_same_reading(line);
}

TEST(NumberReading, RandomNumbersReadAsStrtodReadsThemBitForBit) {
    std::mt19937_64 rng(20261207);
    auto digits = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += static_cast<char>('0' + rng() % 10);
        return s;
    };
    std::string line;
    for (int i = 0; i < 20000; ++i) {
        std::string t = rng() % 4 == 0 ? "-" : "";
        t += digits(static_cast<int>(rng() % 20));
        if (rng() % 2) t += "." + digits(static_cast<int>(rng() % 25));
        if (rng() % 3 == 0) t += (rng() % 2 ? "e-" : "e") + std::to_string(rng() % 340);
        line += t + (rng() % 5 == 0 ? "," : " ");
        if (line.size() > 200) {
            expect_same_reading(line);
            line.clear();
        }
    }
    // Every double's shortest text and its 17-digit text.
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t b = rng();
        double d;
        std::memcpy(&d, &b, sizeof d);
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g %.16e %.5g", d, d, d);
        expect_same_reading(buf);
    }
}

TEST(NumberReading, AppendKeepsTheBufferWhenALineCannotBeRead) {
    std::vector<double> values{7};
    EXPECT_TRUE(append_numbers("1 2", values));
    EXPECT_FALSE(append_numbers("3 x", values));
    EXPECT_FALSE(append_numbers("4,,5", values));
    EXPECT_TRUE(append_numbers(" \r\n", values));
    EXPECT_EQ(values, (std::vector<double>{7, 1, 2}));
}

// The seed as the Seed box and quillan-batch --seed take it: both read it
// through parse_seed_text, so a text one accepts the other accepts too.

TEST(SeedText, WholeNumbersWithSpacesAndTabsAroundThemAndNothingElse) {
    for (const auto& [text, seed] :
         std::vector<std::pair<std::string, std::uint64_t>>{{"0", 0},
                                                            {"42", 42},
                                                            {"  42", 42},
                                                            {"42\t ", 42},
                                                            {"\t 007 \t", 7},
                                                            {"18446744073709551615", 18446744073709551615u},
                                                            {" 18446744073709551615 ", 18446744073709551615u}})
        EXPECT_EQ(parse_seed_text(text), seed) << '"' << text << '"';
    for (const std::string text : {"", " ", " \t ", "4 2", "-1", "+1", "1.5", "1e3", "0x10", "seed", "12a",
                                   "18446744073709551616", "99999999999999999999999", "\n42", "42\n"})
        EXPECT_FALSE(parse_seed_text(text).has_value()) << '"' << text << '"';
    EXPECT_TRUE(seed_text_is_blank(""));
    EXPECT_TRUE(seed_text_is_blank(" \t  "));
    EXPECT_FALSE(seed_text_is_blank(" 0 "));
    EXPECT_FALSE(seed_text_is_blank("\n"));
}

TEST(Mean, OfAnEmptyListIsNotANumber) {
    EXPECT_TRUE(std::isnan(mean({})));
    EXPECT_DOUBLE_EQ(mean({1, 2, 6}), 3.0);
}

TEST(Randperm, GivesEveryIndexOnceAndEveryOrderAboutEquallyOften) {
    Rng rng(42);
    std::map<std::vector<int>, int> counts;
    const int draws = 60000;
    for (int i = 0; i < draws; ++i) {
        auto p = randperm(4, rng);
        auto sorted = p;
        std::sort(sorted.begin(), sorted.end());
        ASSERT_EQ(sorted, (std::vector<int>{0, 1, 2, 3}));
        ++counts[p];
    }
    ASSERT_EQ(counts.size(), 24u);
    // Expected 2500 each; 5 standard deviations is about 240.
    for (const auto& [perm, n] : counts) EXPECT_NEAR(n, draws / 24, 250);
}

// The fingerprints recorded with every result: the published test vectors of
// SHA-256, messages whose padding falls on every side of a block's end, and
// the same digest however the bytes arrive, both by the processor's SHA
// instructions (where it has them) and by the portable code.
namespace quillan {
namespace {

std::string digest(const std::string& s) {
    Sha256 h;
    h.update(s.data(), s.size());
    return h.hex_digest();
}

// Runs `check` with the SHA instructions in use (when the processor has
// them) and again with the portable code.
template <class Check>
void both_ways(Check check) {
    const bool before = sha256_use_instructions(true);
    const bool has = sha256_use_instructions(true);
    for (const bool use : {true, false}) {
        if (use && !has) continue;
        sha256_use_instructions(use);
        SCOPED_TRACE(use ? "SHA instructions" : "portable code");
        check();
    }
    sha256_use_instructions(before);
}

TEST(Sha256, PublishedVectors) {
    both_ways([] {
        EXPECT_EQ(digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
        EXPECT_EQ(digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        // 56 bytes: the length no longer fits the first block.
        EXPECT_EQ(digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
                  "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
        EXPECT_EQ(digest("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrs"
                         "tnopqrstu"),
                  "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
        EXPECT_EQ(digest(std::string(1000000, 'a')), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    });
}

TEST(Sha256, TheDigestDoesNotDependOnHowTheBytesArrive) {
    both_ways([] {
        std::mt19937 rng(7);
        for (std::size_t size : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u, 70000u}) {
            std::string bytes(size, '\0');
            for (auto& c : bytes) c = static_cast<char>(rng());
            const std::string whole = digest(bytes);
            Sha256 pieces;
            for (std::size_t at = 0; at < size;) {
                const std::size_t n = std::min<std::size_t>(size - at, rng() % 97);
                pieces.update(bytes.data() + at, n);
                at += n;
            }
            EXPECT_EQ(pieces.hex_digest(), whole) << size << " bytes";
            const bool was = sha256_use_instructions(false);
            EXPECT_EQ(digest(bytes), whole) << size << " bytes, portable code";
            sha256_use_instructions(was);
        }
    });
}

TEST(Sha256, FilesAreReadWholeAndUnreadableOnesHaveNoDigest) {
    test::TempDir dir;
    const std::string path = dir.file("m.bin");
    std::string bytes;
    for (int i = 0; i < 200000; ++i) bytes += static_cast<char>(i * 31);  // more than one read's buffer
    dir.write("m.bin", bytes);
    EXPECT_EQ(sha256_of_file(path), digest(bytes));
    EXPECT_EQ(sha256_of_file(dir.file("absent.txt")), "");
    EXPECT_EQ(sha256_of_file(dir.path().string()), "");
}

}  // namespace
}  // namespace quillan

// Saving never harms what it replaces: what a save does to links, special
// files, permissions and the temporary file when something goes wrong.

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
