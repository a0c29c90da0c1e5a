// The side files of the shape analyses (partition, second block, land
// pairs): read as text by io/, interpreted by the analyses, every fault
// refused naming the file and its line, and each file recorded with the
// digest of what was read.
#include "io/side_files.hpp"
#include "analyses/toolkit/side_tables.hpp"
#include "io/links_file.hpp"
#include "platform/error.hpp"
#include "platform/sha256.hpp"
#include "support/batch_runner.hpp"
#include "support/fixtures.hpp"
#include "support/text.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>

using namespace quillan;
using quillan::test::data_file;
using quillan::test::error_of;
using ::testing::HasSubstr;

namespace {

enum class Reader { Partition, Block, Pairs };

// Reads `bytes` as the side file /data/s.txt and interprets it as `reader`
// does for four landmarks or three specimens.
void interpret(Reader reader, const std::string& bytes) {
    const SideFile f = io::side_file_from_bytes(bytes, "/data/s.txt", "The side file");
    std::vector<std::string> names;
    if (reader == Reader::Partition) partition_of(&f, 4);
    if (reader == Reader::Block) block_of(&f, 3, names);
    if (reader == Reader::Pairs) land_pairs_of(f);
}

}  // namespace

TEST(SideFiles, FaultsAreRefusedNamingTheFileAndTheLine) {
    struct Row {
        Reader reader;
        std::string bytes;
        const char* message;
    };
    const Row rows[] = {
        {Reader::Partition, std::string("A A\nB\0B\n", 8), "/data/s.txt, line 2, holds a NUL byte"},
        {Reader::Partition,
         "\xFF\xFE"
         "A\0",
         "UTF-16 text"},
        {Reader::Partition, "A A B\n", "/data/s.txt gives 3 labels, but the specimens have 4"},
        {Reader::Partition, "\x1b[2J A A A\n", "gives module \"\\x1B[2J\" a single landmark"},
        {Reader::Block, "x y\n1 2\n3\n", "/data/s.txt, line 3, has 1 values; the lines before it have 2"},
        {Reader::Block, "1 2\r\n1e400 2\r\n", "/data/s.txt, line 2, holds something that is not a number: \"1e400\""},
        {Reader::Block, "1,2\n2,0x10\n", "line 2, holds something that is not a number: \"0x10\""},
        {Reader::Block, "1\n2\n3\n4\n", "/data/s.txt has 4 rows of numbers, but 3 specimens"},
        {Reader::Pairs, "1 2\r4294967297 5\r", "/data/s.txt, line 2: give two different landmark numbers"},
        {Reader::Pairs, "\n2147483648 5\n", "/data/s.txt, line 2: give two"},
        {Reader::Pairs, "1 2 3\n", "line 1: give two"},
        {Reader::Pairs, "0 3\n", "line 1: give two"},
        {Reader::Pairs, "3 -1\n", "line 1: give two"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.bytes);
        EXPECT_THAT(error_of([&] { interpret(r.reader, r.bytes); }), HasSubstr(r.message));
    }
    EXPECT_THAT(error_of([] { io::read_side_file("/nonexistent/s.txt", "The partition file"); }),
                HasSubstr("Cannot open the file /nonexistent/s.txt"));
}

TEST(SideFiles, AByteOrderMarkIsNoPartOfTheFirstWord) {
    const auto read = [](const std::string& bytes) { return io::side_file_from_bytes(bytes, "s.txt", "The side file"); };
    std::vector<std::string> labels, names;
    const SideFile partition = read(
        "\xEF\xBB\xBF"
        "A A\nB B\n");
    EXPECT_EQ(partition_of(&partition, 4, &labels), (std::vector<int>{0, 0, 1, 1}));
    EXPECT_EQ(labels, (std::vector<std::string>{"A", "B"}));
    const SideFile block = read(
        "\xEF\xBB\xBF"
        "1,2\n2,4\n3,7\n");
    EXPECT_EQ(block_of(&block, 3, names).col(0), Eigen::Vector3d(1, 2, 3));
    const SideFile pairs = read(
        "\xEF\xBB\xBF"
        "1 3\n\n2 4\n");
    EXPECT_EQ(land_pairs_of(pairs), (std::vector<std::pair<int, int>>{{0, 2}, {1, 3}}));
    EXPECT_EQ(pairs.lines.back().line, 3);
}

// Every side file an analysis read is in the record of its run, with the
// digest of its bytes, beside the landmark and group files.
TEST(SideFiles, EachIsRecordedWithItsDigest) {
    const quillan::test::TempDir dir;
    const std::string partition = data_file("plethodon.partition.txt");
    const std::string tree = data_file("plethspecies/plethspecies.tre");
    const auto r = quillan::test::run_batch(quillan::test::plethodon_run(
        "integration", {"--partition", partition, "--tree", tree, "-p", "9", "--json", dir.file("r.json")}));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = nlohmann::json::parse(quillan::test::read_bytes(dir.file("r.json")));
    const auto& inputs = j["run"]["inputs"];
    // A loaded tree is one of the run's inputs too.
    for (const auto& input : {std::pair{"partition", partition}, std::pair{"tree", tree}}) {
        const std::string role = input.first, path = input.second;
        const auto it = std::find_if(inputs.begin(), inputs.end(), [&](const auto& in) { return in["role"] == role; });
        ASSERT_NE(it, inputs.end()) << inputs.dump();
        EXPECT_EQ((*it)["name"], std::filesystem::path(path).filename().string());
        EXPECT_EQ((*it)["sha256"], sha256_of_file(path));
    }
}

// The pictures' links file is read as the side files are: old Macintosh
// line ends and a byte-order mark read as any other, a line counted the
// same way in every message, and what is no text refused by its line.
TEST(SideFiles, TheLinksFileIsReadAsTheOthersAre) {
    using namespace std::string_literals;
    const quillan::test::TempDir dir;
    EXPECT_EQ(io::read_links_file(dir.write("mac.txt",
                                            "\xEF\xBB\xBF"
                                            "1 2\r2 3\r\r3 4\r"),
                                  4),
              (Links{{0, 1}, {1, 2}, {2, 3}}));
    EXPECT_EQ(io::read_links_file(dir.write("dos.txt", "1,2\r\n4;1\r\n"), 4), (Links{{0, 1}, {3, 0}}));
    EXPECT_THAT(error_of([&] { io::read_links_file(dir.write("bad.txt", "1 2\r\n\r\n2 9\r\n"), 4); }),
                HasSubstr("bad.txt, line 3: landmark 9 does not exist"));
    EXPECT_THAT(error_of([&] { io::read_links_file(dir.write("nul.txt", "1 2\n2 3\n3\0 4\n"s), 4); }),
                HasSubstr("nul.txt, line 3, holds a NUL byte"));
    EXPECT_THAT(error_of([&] {
                    io::read_links_file(dir.write("wide.txt",
                                                  "\xFF\xFE"
                                                  "1\0 \0"
                                                  "2\0"s),
                                        4);
                }),
                HasSubstr("is UTF-16 text"));
    EXPECT_THAT(error_of([&] { io::read_links_file(dir.file("none.txt"), 4); }),
                HasSubstr("Cannot open the file " + dir.file("none.txt")));
}
