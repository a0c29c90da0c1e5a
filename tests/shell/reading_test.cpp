// The table reader on files from other systems and on files that are not
// tables at all.
#include "shell/input_checks.hpp"
#include "shell/text_lines.hpp"
#include "support/fixtures.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quillan;
using namespace quillan::testing;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

std::string load_error(const std::string& path, const ReadLimits& limits = {}) {
    try {
        dload_file(path, limits);
    } catch (const QuillanError& e) {
        return e.what();
    }
    return {};
}

}  // namespace

TEST(Reading, LineEndsOfEverySystemAndAByteOrderMark) {
    TempDir dir;
    // Old Macintosh files end lines with a lone carriage return.
    Matrix mac = dload(dir.write("mac.txt", "1 2 3\r4 5 6\r7 8 9\r"));
    ASSERT_EQ(mac.rows(), 3);
    EXPECT_EQ(mac(2, 0), 7);
    // Windows line ends, and a doubled carriage return before a line feed,
    // are one line end each.
    Matrix dos = dload(dir.write("dos.txt", "1 2\r\n3 4\r\r\n5 6"));
    ASSERT_EQ(dos.rows(), 3);
    EXPECT_EQ(dos(2, 1), 6);
    // An empty line still ends the table, whatever the line ends.
    LoadedTable t = dload_file(dir.write("end.txt", "1 2\r\r3 4\r"));
    EXPECT_EQ(t.x.rows(), 1);
    EXPECT_EQ(t.end_line, 2);
    EXPECT_EQ(t.ignored_lines, 1);
    // A UTF-8 byte-order mark, as some editors write, is not part of the first number.
    Matrix bom = dload(dir.write("bom.txt", "\xEF\xBB\xBF" "1.5 2\n3 4\n"));
    ASSERT_EQ(bom.rows(), 2);
    EXPECT_EQ(bom(0, 0), 1.5);
}

TEST(Reading, ASingleValueInAWiderFileIsAnErrorNamingTheLine) {
    TempDir dir;
    const std::string path = dir.write("groups.txt", "1 1\n1\n2 2\n");
    EXPECT_THAT(load_error(path), HasSubstr("line 2 has 1 value, but line 1 has 2"));
    // One-column files are as before.
    EXPECT_EQ(dload(dir.write("one.txt", "1\n2\n3\n")).rows(), 3);
}

TEST(Reading, AQuotedBadLineShowsItsControlBytesEscaped) {
    TempDir dir;
    const std::string path = dir.write("bad.txt", std::string("1 2\n3 x\0\x1b[2J\xff\t4\n", 17));
    const std::string msg = load_error(path);
    EXPECT_THAT(msg, HasSubstr("line 2 is not a list of numbers (\"3 x\\x00\\x1B[2J\\xFF\\t4\")"));
    EXPECT_THAT(msg, HasSubstr("Nothing was loaded."));  // the NUL did not cut the message
    EXPECT_EQ(msg.find('\x1b'), std::string::npos);
    // A long line is cut.
    EXPECT_EQ(quoted_snippet(std::string(100, 'a') + "\r\n"), std::string(57, 'a') + "...");
}

TEST(Reading, FilesAndLinesPastTheLimitsAreRefused) {
    ReadLimits small;
    small.file_bytes = 1 << 20;
    small.line_bytes = 1 << 10;
    // /dev/zero never ends by itself.
    EXPECT_THAT(load_error("/dev/zero", small), HasSubstr("The file /dev/zero is larger than 1 MB"));
    TempDir dir;
    std::string longline;
    for (int i = 0; i < 600; ++i) longline += "1 ";
    EXPECT_THAT(load_error(dir.write("long.txt", "1 2\n" + longline + "\n"), small), HasSubstr("line 2 is 1201 bytes long"));
    EXPECT_EQ(load_error(dir.write("fine.txt", "1 2\n3 4\n"), small), "");
}

TEST(Reading, GroupCodesThatCannotBeToldApartAreRefused) {
    TempDir dir;
    Harness h;
    h.set_box(kFileBox, Value("before"));
    EXPECT_EQ(h.load("LoadGlist", dir.write("big.txt", "1\n1e18\n1000000000000000001\n")), Outcome::Failed);
    EXPECT_THAT(h.last_message(), HasSubstr("Line 2 of the group file"));
    EXPECT_THAT(h.last_message(), HasSubstr("1000000000000000000"));
    EXPECT_EQ(h.shell.workspace().glist.size(), 0);
    EXPECT_EQ(h.box(kFileBox), "before");

    EXPECT_EQ(h.load("LoadGlist", dir.write("nan.txt", "1 2\n2 nan\n")), Outcome::Failed);
    EXPECT_THAT(h.last_message(), HasSubstr("Line 2 of the group file"));
    EXPECT_THAT(h.last_message(), HasSubstr("NaN in column 2"));
    EXPECT_EQ(h.load("LoadGlist", dir.write("inf.txt", "-inf\n")), Outcome::Failed);

    // 2^53 itself and negative codes are fine.
    EXPECT_EQ(h.load("LoadGlist", dir.write("edge.txt", "9007199254740992\n-9007199254740992\n3\n")), Outcome::Done);
    EXPECT_NO_THROW(check_group_codes(Matrix::Constant(2, 2, -4), "x"));
}
