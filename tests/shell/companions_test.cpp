// Group and covariate tables kept when new landmarks come in: matched by
// specimen ID where both sides carry IDs, paired by row (and said so) only
// where one side has none, dropped with the reason otherwise.
#include "shell/companions.hpp"
#include "io/text.hpp"
#include "support/batch_runner.hpp"
#include "support/fixtures.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

using namespace quillan;
using namespace quillan::test;
using ::testing::HasSubstr;
using ::testing::Not;
using Kind = CompanionPairing::Kind;

namespace {

// The bundled TPS file with its specimens in the opposite order.
std::string reversed_tps() {
    std::vector<std::string> blocks;
    for (const auto& line : io::read_text_file(data_file("plethodon.tps")).lines) {
        if (line.rfind("LM=", 0) == 0) blocks.emplace_back();
        blocks.back() += line + "\n";
    }
    std::string out;
    for (auto b = blocks.rbegin(); b != blocks.rend(); ++b) out += *b;
    return out;
}

Matrix reversed_rows(const Matrix& m) { return m.colwise().reverse(); }

// The levels' words behind a group table, row by row.
std::vector<std::string> level_words(const io::Legend& legend, const Matrix& groups) {
    const auto names = legend.level_names(groups);
    std::vector<std::string> words;
    for (Eigen::Index i = 0; i < groups.rows(); ++i)
        for (Eigen::Index j = 0; j < groups.cols(); ++j)
            words.push_back(names.at(static_cast<std::size_t>(j)).at(static_cast<std::size_t>(groups(i, j)) - 1));
    return words;
}

// The blank-separated words of a text.
std::vector<std::string> blank_separated(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), {}};
}

}  // namespace

TEST(Companions, PairByIdWhereBothSidesHaveThem) {
    // Each case: the IDs of the table and of the data (blank-separated, none
    // when empty), their row counts, the pairing and, by ID, the table's rows
    // in the data's order.
    struct Case {
        const char* what;
        std::string table, data;
        Eigen::Index table_rows, data_rows;
        Kind kind;
        std::string rows, reason;
    } cases[] = {
        {"reversed order", "a b c", "c b a", 3, 3, Kind::ById, "2 1 0", ""},
        {"one ID missing", "a b c", "a b d", 3, 3, Kind::Refused, "",
         "carries specimen IDs that do not match those of new.tps: \"d\" is only in new.tps; \"c\" is only in the group file"},
        {"one specimen fewer", "a b c", "b a", 3, 2, Kind::Refused, "", "\"c\" is only in the group file"},
        {"duplicate ID", "a b b", "b a b", 3, 3, Kind::Refused, "", "as the ID \"b\" appears more than once in the group file"},
        {"same IDs in the same order", "a a", "a a", 2, 2, Kind::ById, "0 1", ""},
        {"a file without IDs", "", "a b c", 3, 3, Kind::ByRow, "", ""},
        {"landmarks without IDs", "a b c", "", 3, 3, Kind::ByRow, "", ""},
        {"no IDs, other count", "", "", 3, 4, Kind::Refused, "", "has 3 specimens, but new.tps has 4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CompanionPairing p = pair_companion(blank_separated(c.table), c.table_rows, blank_separated(c.data), c.data_rows,
                                                  "the group file", "new.tps");
        EXPECT_EQ(p.kind, c.kind);
        std::vector<Eigen::Index> rows;
        for (const auto& r : blank_separated(c.rows)) rows.push_back(std::stoi(r));
        EXPECT_EQ(p.rows, rows);
        EXPECT_THAT(p.reason, HasSubstr(c.reason));
    }
}

TEST(Companions, GroupsOfAnImportFollowTheirIdsIntoAReorderedFile) {
    TempDir dir;
    const std::string reversed = dir.write("reversed.tps", reversed_tps());
    Harness h;
    h.shell.import_options() = io::choose_columns({"species", "site"}, "logCS");
    ASSERT_EQ(h.load("Import", data_file("plethodon.csv")), Outcome::Done) << h.last_message();
    const Matrix groups = h.shell.workspace().groups, covariate = h.shell.workspace().covariate;
    h.shell.import_options() = {};
    ASSERT_EQ(h.load("Import", reversed), Outcome::Done) << h.last_message();
    const Workspace& ws = h.shell.workspace();
    EXPECT_EQ(ws.groups, reversed_rows(groups));
    EXPECT_EQ(ws.covariate, reversed_rows(covariate));
    EXPECT_THAT(h.box(kFileBox), HasSubstr("Matched by specimen ID to the specimens of reversed.tps"));
    // As the batch program matches a factor table to the same file.
    io::ImportOptions batch = io::choose_columns({"species", "site"}, "logCS");
    batch.factor_table = data_file("plethodon.csv");
    // (The codes may differ, numbering the levels in another order; the words agree.)
    const io::ImportedData matched = io::import_file(reversed, batch);
    EXPECT_EQ(level_words(h.shell.legend(), ws.groups), level_words(matched.legend, matched.groups));

    // Plain landmarks have no IDs: kept by row, and the report's data line says so.
    ASSERT_EQ(h.load("Load", data_file("plethodon.lm.txt")), Outcome::Done);
    EXPECT_THAT(ws.groups_info, HasSubstr("Paired by row to the specimens of plethodon.lm.txt"));
    EXPECT_THAT(ws.groups_info, Not(HasSubstr("Matched by specimen ID")));
    h.set_box(kPermBox, Value("9"));
    ASSERT_EQ(h.run("RunTwoWay"), Outcome::Reported) << h.last_message();
    EXPECT_THAT(report_of(h), HasSubstr("Paired by row to the specimens of plethodon.lm.txt"));
}

TEST(Companions, IdsThatDoNotMatchDropTheTablesNamingThem) {
    TempDir dir;
    std::string tps = reversed_tps();
    tps.replace(tps.find("ID=P07"), 6, "ID=X99");
    const std::string other = dir.write("other.tps", tps);
    Harness h;
    ASSERT_EQ(h.load("Import", data_file("plethodon.csv")), Outcome::Done) << h.last_message();
    ASSERT_EQ(h.load("Import", other), Outcome::Done) << h.last_message();
    EXPECT_EQ(h.shell.workspace().groups.size(), 0);
    EXPECT_EQ(h.shell.loaded_paths().groups, "");
    EXPECT_THAT(h.last_message(),
                HasSubstr("The group file plethodon.csv carries specimen IDs that do not match those of other.tps: \"X99\" is "
                          "only in other.tps; \"P07\" is only in the group file plethodon.csv: it no longer goes with the data"));
}

TEST(Companions, BatchSaysWhenItPairsAnImportsGroupsByRow) {
    const auto r = run_batch(
        {"two-way", "--import", data_file("plethodon.csv"), "--landmarks", data_file("plethodon.lm.txt"), "-p", "9", "-s", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("Paired by row to the specimens of plethodon.lm.txt"));
}

TEST(Companions, BatchRefusesAFactorTableForRepeatedSpecimenIds) {
    TempDir dir;
    std::string tps = reversed_tps();
    tps.replace(tps.find("ID=P07"), 6, "ID=P08");
    const auto r = run_batch({"one-way", "--import", dir.write("twice.tps", tps), "--factors", data_file("plethodon.csv"),
                              "--factor", "species", "-p", "9"});
    EXPECT_NE(r.status, 0);
    EXPECT_THAT(r.err, HasSubstr("P08"));
    EXPECT_THAT(r.err, HasSubstr("more than once"));
}
