// Loading the three input files: what goes into the workspace, what the file
// box shows, and what happens to files that cannot be read.
#include "io/text.hpp"
#include "platform/format.hpp"
#include "shell/companions.hpp"
#include "shell/text_lines.hpp"
#include "support/batch_runner.hpp"
#include "support/fixtures.hpp"
#include "support/text.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

using namespace quillan::test;
using namespace quillan;
using ::testing::HasSubstr;
using ::testing::Not;
using Kind = CompanionPairing::Kind;

namespace {

std::string landmark_lines(int rows, int values) {
    std::string s;
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < values; ++j) s += format_expand_reuse(j ? " %g" : "%g", {i + j * 0.5});
        s += "\n";
    }
    return s;
}

std::string code_lines(int rows) {
    std::string s;
    for (int i = 0; i < rows; ++i) s += std::to_string(1 + i % 2) + " " + std::to_string(1 + i % 3) + "\n";
    return s;
}

}  // namespace

TEST(Loading, LandmarkGroupAndCovariateDescriptionsFillTheFileBoxInOrder) {
    TempDir dir;
    Harness h;
    ASSERT_EQ(h.load("Load", dir.write("skulls.txt", landmark_lines(20, 25))), Outcome::Done);
    EXPECT_EQ(h.shell.workspace().landmarks.rows(), 20);
    EXPECT_EQ(h.shell.workspace().landmarks.cols(), 25);
    EXPECT_EQ(h.box(kFileBox), "Data File: skulls.txt with 20 specimens, 12 LM\n");

    ASSERT_EQ(h.load("LoadGlist", dir.write("groups.txt", code_lines(20))), Outcome::Done);
    EXPECT_EQ(h.shell.workspace().groups_info, "\nGroup File: groups.txt with 20 specimens,  2 group variables\n");
    EXPECT_EQ(h.box(kFileBox),
              "Data File: skulls.txt with 20 specimens, 12 LM\n\nGroup File: groups.txt with 20 specimens,  2 group variables\n");
    EXPECT_THAT(h.console_text.str(), HasSubstr("md = 20\nm = 20\n"));

    ASSERT_EQ(h.load("LoadClist", dir.write("size.txt", repeated("3\n", 20))), Outcome::Done);
    EXPECT_EQ(h.box(kFileBox), h.shell.workspace().landmarks_info + h.shell.workspace().groups_info +
                                   "\nCovariate File: size.txt with 20 specimens");
    // 25 numbers fit the plane and space, and nothing says which: only that is said.
    ASSERT_EQ(h.gui.messages().size(), 1u);
    EXPECT_THAT(h.gui.messages()[0].text,
                HasSubstr("skulls.txt has 25 numbers a line: 12 landmarks in the plane, or 8 in space"));

    // Loading the landmark file again keeps the others, which still match, and the box says so.
    ASSERT_EQ(h.load("Load", dir.write("skulls.txt", landmark_lines(20, 25))), Outcome::Done);
    EXPECT_EQ(h.box(kFileBox), h.shell.workspace().landmarks_info + h.shell.workspace().groups_info +
                                   h.shell.workspace().covariate_info +
                                   "\n(Kept from before, as they match the 20 specimens: groups.txt and size.txt)");
    EXPECT_EQ(h.shell.workspace().groups.rows(), 20);
    EXPECT_FALSE(h.shell.workspace().covariate_info.empty());
    // Kept by row alone, as neither side has IDs: said in a message window of its own.
    ASSERT_EQ(h.gui.messages().size(), 3u);
    EXPECT_THAT(h.gui.messages()[1].text,
                HasSubstr("The files groups.txt and size.txt were kept for the 20 specimens of skulls.txt and are paired"));
    EXPECT_EQ(h.gui.messages()[1].title, kKeptByRowTitle);
}

// A tree joins the file box after the tables; a refused one leaves the one
// loaded before, and Clear forgets it.
TEST(Loading, ATreeIsDescribedInTheFileBoxAndARefusedOneChangesNothing) {
    TempDir dir;
    Harness h;
    ASSERT_EQ(h.load("Load", dir.write("skulls.txt", landmark_lines(20, 25))), Outcome::Done);
    ASSERT_EQ(h.load("LoadTree", data_file("plethspecies/plethspecies.tre")), Outcome::Done);
    EXPECT_EQ(h.gui.dialog_titles().back(), "Enter tree file to Load?");
    ASSERT_TRUE(h.shell.workspace().tree);
    EXPECT_EQ(h.shell.workspace().tree->tip_count(), 9);
    EXPECT_EQ(h.box(kFileBox), h.shell.workspace().landmarks_info +
                                   "\nTree File: plethspecies.tre with 9 tips, not ultrametric, no polytomies, branches 0.8299 "
                                   "to 15.17");
    const std::string box = h.box(kFileBox);
    const std::string bad = dir.write("bad.tre", "((A:1,B:1):1,\n  C);");
    EXPECT_EQ(h.load("LoadTree", bad), Outcome::Failed);
    EXPECT_EQ(h.last_message(), "The tree file " + bad +
                                    " could not be loaded: line 2, column 4: the branch above tip \"C\" has no length. "
                                    "Nothing was loaded.");
    EXPECT_EQ(h.shell.workspace().tree->tip_count(), 9);
    EXPECT_EQ(h.box(kFileBox), box);
    EXPECT_EQ(h.run("Clear"), Outcome::Done);
    EXPECT_FALSE(h.shell.workspace().tree);
    EXPECT_TRUE(h.shell.workspace().tree_info.empty());
}

TEST(Loading, EvenWidthShowsItsLandmarkCountInExponentForm) {
    TempDir dir;
    Harness h;
    ASSERT_EQ(h.load("Load", dir.write("even.txt", landmark_lines(3, 12))), Outcome::Done);
    EXPECT_EQ(h.box(kFileBox), "Data File: even.txt with 3 specimens, 5.500000e+00 LM\n");
}

TEST(Loading, CountMismatchWarnsButKeepsTheList) {
    TempDir dir;
    Harness h;
    ASSERT_EQ(h.load("LoadGlist", dir.write("g.txt", code_lines(20))), Outcome::Done);
    ASSERT_EQ(h.gui.messages().size(), 1u);
    EXPECT_EQ(h.gui.messages()[0].text, "Your data set has 0 specimens, but the group coding file has 20");
    EXPECT_EQ(h.gui.messages()[0].title, "Possible error");
    EXPECT_EQ(h.shell.workspace().groups.rows(), 20);

    ASSERT_EQ(h.load("Load", dir.write("d.txt", landmark_lines(19, 5))), Outcome::Done);
    ASSERT_EQ(h.load("LoadClist", dir.write("c.txt", "1\n2\n")), Outcome::Done);
    EXPECT_EQ(h.last_message(), "Your data set has 19 specimens, but the covariate file has 2");
}

TEST(Loading, ALastLineIsReadWithoutItsLineFeedAndAnEmptyLineEndsTheTable) {
    TempDir dir;
    Harness h;
    // A last line without its line feed is read however short.
    ASSERT_EQ(h.load("LoadClist", dir.write("c.txt", "2.5\n3.5\n7")), Outcome::Done);
    ASSERT_EQ(h.shell.workspace().covariate.rows(), 3);
    EXPECT_EQ(h.shell.workspace().covariate(2, 0), 7);
    h.gui.clear_messages();
    // Bare line feeds.
    ASSERT_EQ(h.load("LoadClist", dir.write("c.txt", "1\n2\n\n3\n4\n")), Outcome::Done);
    EXPECT_EQ(h.shell.workspace().covariate.rows(), 2);
    ASSERT_FALSE(h.gui.messages().empty());
    EXPECT_THAT(h.gui.messages()[0].text, HasSubstr("the 2 lines with numbers after it were ignored"));
    EXPECT_THAT(h.gui.messages()[0].text, HasSubstr("line 3"));

    // A Windows file: CR LF line ends convert like LF ones, and an empty CR LF
    // line ends the table the same way.  Trailing empty lines say nothing.
    h.gui.clear_messages();
    ASSERT_EQ(h.load("LoadGlist", dir.write("g.txt", "1 2\r\n2 1\r\n\r\n\r\n")), Outcome::Done);
    EXPECT_EQ(h.shell.workspace().groups.rows(), 2);
    EXPECT_EQ(h.shell.workspace().groups(1, 0), 2);
    for (const auto& m : h.gui.messages()) EXPECT_THAT(m.text, Not(HasSubstr("ignored")));
}

TEST(Loading, UnreadableFilesChangeNothingAndSayWhy) {
    TempDir dir;
    Harness h;
    ASSERT_EQ(h.load("Load", dir.write("good.txt", landmark_lines(4, 7))), Outcome::Done);
    const Matrix before = h.shell.workspace().landmarks;
    const std::string box = h.box(kFileBox);
    const std::string cwd = h.gui.pwd();

    struct Case {
        std::string file, content, expect;
    };
    const Case cases[] = {
        {"ragged.txt", "1 2 3\n4 5\n", "line 2 has 2 values, but line 1 has 3"},
        // A single value is not spread across the row.
        {"single.txt", "1 2\n3\n", "line 2 has 1 value, but line 1 has 2"},
        {"text.txt", "1 2 3\n4 five 6\n", "line 2 is not a list of numbers"},
        {"blank.txt", "1 2 3\n   \n4 5 6\n", "line 2 holds no numbers"},
        {"header.txt", "x1 y1 x2\n1 2 3\n", "line 1 is not a list of numbers"},
        {"empty.txt", "", "is empty"},
        // The first line is always read, even when it is empty: a file that
        // starts with an empty line is refused, not loaded as an empty table.
        {"leading_empty.txt", "\n1 2 3\n4 5 6\n", "line 1 holds no numbers"},
        {"leading_crlf.txt", "\r\n1 2 3\r\n", "line 1 holds no numbers"},
    };
    for (const auto& c : cases) {
        h.gui.clear_messages();
        const std::string path = dir.write(c.file, c.content);
        EXPECT_EQ(h.load("Load", path), Outcome::Failed) << c.file;
        ASSERT_EQ(h.gui.messages().size(), 1u) << c.file;
        EXPECT_THAT(h.last_message(), HasSubstr(c.expect)) << h.last_message();
        EXPECT_THAT(h.last_message(), HasSubstr(path)) << h.last_message();
        EXPECT_THAT(h.console_text.str(), HasSubstr(c.expect));
    }
    h.gui.clear_messages();
    EXPECT_EQ(h.load("Load", dir.file("missing.txt")), Outcome::Failed);
    EXPECT_THAT(h.last_message(), HasSubstr("Cannot open the file " + dir.file("missing.txt")));

    EXPECT_EQ(h.shell.workspace().landmarks, before);
    EXPECT_EQ(h.box(kFileBox), box);
    EXPECT_EQ(h.gui.pwd(), cwd);
}

TEST(Loading, CancelledDialogChangesNothingAndAChosenFolderBecomesCurrent) {
    TempDir dir;
    Harness h;
    const std::string cwd = h.gui.pwd();
    h.gui.queue_open_answer(std::nullopt);
    EXPECT_EQ(h.run("Load"), Outcome::Done);
    EXPECT_EQ(h.shell.workspace().landmarks.size(), 0);
    EXPECT_EQ(h.gui.pwd(), cwd);
    EXPECT_TRUE(h.gui.messages().empty());

    ASSERT_EQ(h.load("Load", dir.write("d.txt", landmark_lines(3, 7))), Outcome::Done);
    EXPECT_EQ(h.gui.pwd(), dir.folder());
    EXPECT_EQ(h.gui.dialog_titles().back(), "Enter file to Load?");
    EXPECT_EQ(h.gui.dialog_filters().back(), "*.*");
}

// The table reader on files from other systems and on files that are not
// tables at all.

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

// Saving the results box and clearing the workspace.

TEST(Saving, EachLineIsWrittenAfterALineFeedAndABlank) {
    TempDir dir;
    Harness h;
    h.set_box(kResultsBox, Value("A\nB\nC"));
    ASSERT_EQ(h.save(dir.file("out.txt")), Outcome::Done);
    EXPECT_EQ(read_bytes(dir.file("out.txt")), "\n A\n B\n C");
    EXPECT_EQ(h.gui.dialog_titles().back(), "Please Select an Output file");
    EXPECT_EQ(h.gui.dialog_filters().back(), "*.txt");
    EXPECT_EQ(h.gui.pwd(), dir.folder());

    // Percent signs and backslashes are written as they stand.
    h.set_box(kResultsBox, Value("100% \\n done"));
    ASSERT_EQ(h.save(dir.file("pct.txt")), Outcome::Done);
    EXPECT_EQ(read_bytes(dir.file("pct.txt")), "\n 100% \\n done");
}

TEST(Saving, AFailedSaveLeavesWhatWasThereAndSaysSo) {
    TempDir dir;
    Harness h;
    h.set_box(kResultsBox, Value("report"));
    // The target is a folder holding a file: renaming over it cannot succeed.
    std::filesystem::create_directory(dir.file("taken.txt"));
    dir.write("taken.txt/keep", "precious");
    EXPECT_EQ(h.save(dir.file("taken.txt")), Outcome::Failed);
    EXPECT_THAT(h.last_message(), HasSubstr("Cannot write the file"));
    EXPECT_EQ(read_bytes(dir.file("taken.txt/keep")), "precious");
    // No half-written file is left beside it.
    EXPECT_EQ(dir.entries(), 1);

    // A folder that does not exist.
    EXPECT_EQ(h.save(dir.file("nowhere/out.txt")), Outcome::Failed);
    EXPECT_FALSE(std::filesystem::exists(dir.file("nowhere")));
}

TEST(Saving, CancelledDialogWritesNothing) {
    Harness h;
    const std::string cwd = h.gui.pwd();
    h.gui.queue_save_answer(std::nullopt);
    EXPECT_EQ(h.run("SaveOut"), Outcome::Done);
    EXPECT_EQ(h.gui.pwd(), cwd);
}

TEST(Clearing, EmptiesTheWorkspaceAndBlanksBothBoxes) {
    TempDir dir;
    Harness h;
    ASSERT_EQ(h.load("Load", data_file("plethodon.lm.txt")), Outcome::Done);
    ASSERT_EQ(h.load("LoadGlist", data_file("plethodon.groups.txt")), Outcome::Done);
    h.set_box(kResultsBox, Value("old report"));
    h.set_box(kPermBox, Value("123"));
    ASSERT_EQ(h.run("Clear"), Outcome::Done);
    const Workspace& ws = h.shell.workspace();
    EXPECT_EQ(ws.landmarks.size() + ws.groups.size() + ws.covariate.size(), 0);
    EXPECT_TRUE(ws.landmarks_info.empty() && ws.groups_info.empty() && ws.covariate_info.empty());
    EXPECT_EQ(h.box(kResultsBox), "   ");
    EXPECT_EQ(h.box(kFileBox), "   ");
    EXPECT_EQ(h.box(kPermBox), "123");

    ASSERT_EQ(h.save(dir.file("cleared.txt")), Outcome::Done);
    EXPECT_EQ(read_bytes(dir.file("cleared.txt")), "\n    ");
}

// Leaving the specimens an outlier screening flagged out of the analyses
// that follow: every table with a row per specimen loses the same rows, the
// file box and later records name them, and a refusal changes nothing.  The
// first landmark of P05 is moved far off, so that the screening flags it
// (beside P14, the farthest of the published specimens, which the moved one
// pushes over the limit).

TEST(LeaveOutOutliers, TheFlaggedSpecimensLeaveEveryTableAndAreNamedAfterwards) {
    TempDir dir;
    Harness h;
    ASSERT_EQ(h.load("Import", misplaced_plethodon(dir, {"P05"})), Outcome::Done) << h.last_message();
    const Workspace before = h.shell.workspace();
    const io::Legend legend_before = h.shell.legend();

    // Nothing screened yet: refused, nothing changed.
    EXPECT_EQ(h.run("LeaveOutOutliers"), Outcome::Refused);
    EXPECT_THAT(h.last_message(), HasSubstr("run Outliers first"));
    EXPECT_EQ(h.shell.workspace().landmarks.rows(), before.landmarks.rows());

    ASSERT_EQ(h.run("RunOutliers"), Outcome::Reported) << h.last_message();
    ASSERT_EQ(h.run("LeaveOutOutliers"), Outcome::Done) << h.last_message();
    const Workspace& ws = h.shell.workspace();
    const Eigen::Index n = before.landmarks.rows();
    // Rows 5 and 14 (P05, P14) went from the landmarks, the groups and the IDs alike.
    ASSERT_EQ(ws.landmarks.rows(), n - 2);
    EXPECT_TRUE(ws.landmarks.topRows(4) == before.landmarks.topRows(4));
    EXPECT_TRUE(ws.landmarks.row(4) == before.landmarks.row(5));
    EXPECT_TRUE(ws.landmarks.bottomRows(n - 14) == before.landmarks.bottomRows(n - 14));
    ASSERT_EQ(ws.groups.rows(), n - 2);
    EXPECT_TRUE(ws.groups.bottomRows(n - 14) == before.groups.bottomRows(n - 14));
    ASSERT_EQ(h.shell.legend().ids.size(), static_cast<std::size_t>(n - 2));
    EXPECT_EQ(h.shell.legend().ids[4], legend_before.ids[5]);
    EXPECT_EQ(h.shell.legend().ids[12], legend_before.ids[14]);
    for (const auto& column : h.shell.legend().numbers) EXPECT_EQ(column.values.size(), static_cast<std::size_t>(n - 2));
    EXPECT_THAT(h.shell.file_box_text(), HasSubstr("with 38 specimens, 12 LM\n2 specimens left out as outliers: P05, P14"));
    EXPECT_THAT(h.shell.file_box_text(), HasSubstr("Group File: misplaced.csv with 38 specimens"));

    // The flags were of rows that are gone: a second click is refused.
    EXPECT_EQ(h.run("LeaveOutOutliers"), Outcome::Refused);

    // The next analysis runs on the rest and its record names who was left out.
    h.set_box(kPermBox, Value("99"));
    ASSERT_EQ(h.run("RunTwoWay"), Outcome::Reported) << h.last_message();
    EXPECT_THAT(h.shell.results_export(false), HasSubstr("\"left_out_as_outliers\""));
    EXPECT_THAT(h.shell.results_export(false), HasSubstr("\"P14\""));

    // A new import brings every specimen back.
    ASSERT_EQ(h.load("Import", data_file("plethodon.csv")), Outcome::Done) << h.last_message();
    EXPECT_EQ(h.shell.workspace().landmarks.rows(), n);
    ASSERT_EQ(h.run("RunOutliers"), Outcome::Reported);
    EXPECT_EQ(h.run("LeaveOutOutliers"), Outcome::Refused);  // none flagged in the published data
    EXPECT_THAT(h.last_message(), HasSubstr("flagged no specimen"));
}

// Group and covariate tables kept when new landmarks come in: matched by
// specimen ID where both sides carry IDs, paired by row (and said so) only
// where one side has none, dropped with the reason otherwise.

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
