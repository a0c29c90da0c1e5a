// The table reader on files from other systems and on files that are not
// tables at all.
#include "shell/text_lines.hpp"
#include "support/fixtures.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quillan;
using namespace quillan::test;
using ::testing::HasSubstr;

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
    Matrix bom = dload(dir.write("bom.txt",
                                 "\xEF\xBB\xBF"
                                 "1.5 2\n3 4\n"));
    ASSERT_EQ(bom.rows(), 2);
    EXPECT_EQ(bom(0, 0), 1.5);
}

TEST(Reading, FilesAndLinesPastTheLimitsAreRefused) {
    ReadLimits small;
    small.file_bytes = 1 << 20;
    small.line_bytes = 1 << 10;
    // /dev/zero never ends by itself.
    // /dev/zero is one endless line: it is refused at that line's limit, not
    // after the whole file limit has been read.
    EXPECT_THAT(load_error("/dev/zero", small), HasSubstr("line 1 is more than 1024 bytes long"));
    small.line_bytes = small.file_bytes * 2;
    EXPECT_THAT(load_error("/dev/zero", small), HasSubstr("The file /dev/zero is larger than 1 MB"));
    small.line_bytes = 1 << 10;
    TempDir dir;
    EXPECT_THAT(load_error(dir.write("big.txt", std::string(small.file_bytes + 1, '1')), small), HasSubstr("larger than 1 MB"));
    std::string longline;
    for (int i = 0; i < 600; ++i) longline += "1 ";
    EXPECT_THAT(load_error(dir.write("long.txt", "1 2\n" + longline + "\n"), small),
                HasSubstr("line 2 is more than 1024 bytes long"));
    EXPECT_EQ(load_error(dir.write("fine.txt", "1 2\n3 4\n"), small), "");
}

TEST(Reading, GroupCodesBeyondTwoToThe53OrNotFiniteAreRefused) {
    TempDir dir;
    Harness h;
    h.set_box(kFileBox, Value("before"));
    EXPECT_EQ(h.load("LoadGlist", dir.write("nan.txt", "1 2\n2 nan\n")), Outcome::Failed);
    EXPECT_THAT(h.last_message(),
                HasSubstr("Line 2 of the group file " + dir.file("nan.txt") + " holds the code NaN in column 2"));
    EXPECT_EQ(h.load("LoadGlist", dir.write("big.txt", "1\n9007199254740994\n")), Outcome::Failed);
    EXPECT_THAT(h.last_message(), HasSubstr("9007199254740994"));
    EXPECT_EQ(h.shell.workspace().groups.size(), 0);
    EXPECT_EQ(h.box(kFileBox), "before");
    // 2^53 itself is still exact.
    EXPECT_EQ(h.load("LoadGlist", dir.write("edge.txt", "9007199254740992\n-9007199254740992\n3\n")), Outcome::Done);
}
