// The action table against the actions themselves: every row has what its
// kind needs, and what a row says (what it needs loaded, how many grouping
// variables it reads, what its permutation loops compare, whether it
// reports) is what the action does when it runs.
#include "shell/action_table.hpp"
#include "analyses/permutation_recorder.hpp"
#include "support/fixtures.hpp"
#include "support/text.hpp"
#include "window/operations.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace quillan;
using namespace quillan::test;
using ::testing::HasSubstr;

namespace {

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    return text;
}

// The plethodon landmarks with the groups asked for (one or two columns), the
// covariate when `covariate`, 20 permutations and covariate model 2 (one line
// for all specimens), which uses the covariate and fits any grouping.
struct PlethodonRun : Loaded {
    PlethodonRun(int groupings, bool covariate)
        : Loaded({.groups = groupings == 1 ? "plethodon.species.groups.txt" : "plethodon.groups.txt",
                  .covariate = covariate ? "plethodon.cov.txt" : "",
                  .seed = 5,
                  .perms = "20"}) {
        gui.set(gui.findobj_tag(kCovBox).front(), "Value", Value(2.0));
        // The files the analyses of parts read; the others ignore them.
        shell.given_options()["partition"] = data_file("plethodon.partition.txt");
        shell.given_options()["block2"] = data_file("plethodon.cov.txt");
    }
};

// An analysis whose row needs a tree reads one and the specimens' IDs, which
// these runs have not: it is refused here, and its own tests (tests/analyses/phylo,
// tests/batch) run it on both.
bool on_a_tree(const ActionRow* row) { return row->needs_tree(); }

// Notes which statistics of which loops an action's finished permutation
// loops recorded, as the pictures' log would see them.
class LoopNotes : public PermutationRecorder {
public:
    std::set<std::pair<int, int>> seen;
    std::unique_ptr<Loop> begin(int loop, long long, const std::vector<double>& observed, int) override {
        return std::make_unique<Noted>(*this, loop, static_cast<int>(observed.size()));
    }

private:
    class Noted : public Loop {
    public:
        Noted(LoopNotes& notes, int loop, int stats) : notes_(notes), loop_(loop), stats_(stats) {}
        void record(int, long long, const double*) override {}
        void finish(const std::vector<long long>&, const std::vector<long long>&) override {
            for (int s = 0; s < stats_; ++s) notes_.seen.insert({loop_, s});
        }

    private:
        LoopNotes& notes_;
        int loop_, stats_;
    };
};

}  // namespace

TEST(ActionTable, EveryRowHasWhatItsKindNeeds) {
    std::set<std::string> names, aliases;
    for (const auto& row : action_table()) {
        EXPECT_EQ(joined(row_problems(row)), "") << row.name;
        EXPECT_TRUE(names.insert(row.name).second) << "two rows named " << row.name;
        EXPECT_TRUE(aliases.insert(row.alias).second) << "two rows with the alias " << row.alias;
        EXPECT_EQ(find_action_or_alias(row.alias), &row);
        EXPECT_EQ(find_action(row.name), &row);
        EXPECT_EQ(find_action(row.alias), nullptr) << "the window's dispatcher takes names only";
    }
    EXPECT_EQ(describe_needs(kNeedsLandmarks | kNeedsCovariate), "landmarks, covariate");
    EXPECT_EQ(describe_needs(kNeedsLandmarks | kNeedsTree), "landmarks, tree");
    // An option several actions take is one declaration: same kind, default and choices everywhere.
    for (const DeclaredOption& d : declared_options())
        for (const auto& row : action_table())
            if (const OptionDecl* o = row.option(d.decl->name)) {
                EXPECT_EQ(o->kind, d.decl->kind) << row.name << " --" << o->name;
                EXPECT_STREQ(o->fallback, d.decl->fallback) << row.name << " --" << o->name;
                EXPECT_EQ(o->choices.size(), d.decl->choices.size()) << row.name << " --" << o->name;
            }
}

// The option tables of docs/analyses.md are the rows' (QUILLAN_UPDATE_EXPECTED=1 writes them in).
TEST(ActionTable, TheDocsOptionTablesAreTheRows) {
    const std::string path = std::string(QUILLAN_SOURCE_DIR) + "/docs/analyses.md";
    const std::string page = read_bytes(path);
    const std::string begin = "<!-- options: begin (written from the action table, do not edit) -->\n";
    const std::string end = "<!-- options: end -->";
    const std::size_t from = page.find(begin), to = page.find(end);
    ASSERT_TRUE(from != std::string::npos && to != std::string::npos && from < to) << path << " has no options markers";
    const std::string tables = option_tables_markdown() + "\n";
    if (std::getenv("QUILLAN_UPDATE_EXPECTED")) {
        std::ofstream(path, std::ios::binary) << page.substr(0, from + begin.size()) << tables << page.substr(to);
        return;
    }
    EXPECT_EQ(page.substr(from + begin.size(), to - from - begin.size()), tables)
        << "the option tables of docs/analyses.md differ from the rows; run the test with QUILLAN_UPDATE_EXPECTED=1";
}

// What each analysis needs loaded, as the table says, is what it refuses
// without: run without the covariate, exactly the rows that need one are
// refused; given only G1, exactly the rows that read two groupings are.
TEST(ActionTable, EachAnalysisNeedsWhatItsRowSays) {
    for (const ActionRow* row : analysis_rows()) {
        if (std::string(row->name) == "GoMan") continue;  // GoMan's 100 permutations are fixed
        if (on_a_tree(row)) {
            PlethodonRun l(row->groupings, true);
            EXPECT_EQ(l.run(row->name), Outcome::Refused) << row->name;
            EXPECT_THAT(l.last_message(), HasSubstr("none is loaded: give one with --tree FILE")) << row->name;
            continue;
        }
        {
            PlethodonRun l(row->groupings, false);
            const Outcome o = l.run(row->name);
            EXPECT_EQ(o == Outcome::Done || o == Outcome::Reported, !row->needs_covariate())
                << row->name << ": " << l.last_message();
            if (row->needs_covariate()) EXPECT_THAT(l.last_message(), HasSubstr("No covariate file is loaded")) << row->name;
        }
        {
            PlethodonRun l(1, true);
            const Outcome o = l.run(row->name);
            EXPECT_EQ(o == Outcome::Done || o == Outcome::Reported, row->groupings <= 1) << row->name << ": " << l.last_message();
        }
    }
}

// An analysis of one grouping says which file is missing (those of two
// first refuse a group list without a second column); a permutation count
// that is not a whole number of at least 1 is refused.  Neither touches the
// report on show.
TEST(ActionTable, EachAnalysisNamesWhatIsMissingAndRefusesABadCount) {
    for (const ActionRow* row : analysis_rows()) {
        if (std::string(row->name) == "GoMan" || !row->permutes || on_a_tree(row)) continue;  // GoMan's count is fixed
        if (row->groupings <= 1) {
            Harness none;
            none.set_box(kPermBox, Value("20"));
            none.set_box(kResultsBox, Value("kept"));
            EXPECT_NE(none.run(row->name), Outcome::Reported) << row->name;
            EXPECT_THAT(none.last_message(), HasSubstr("No landmark file is loaded")) << row->name;
            ASSERT_EQ(none.load("Load", data_file("plethodon.lm.txt")), Outcome::Done);
            EXPECT_NE(none.run(row->name), Outcome::Reported) << row->name;
            if (row->groupings == 1) EXPECT_THAT(none.last_message(), HasSubstr("group file")) << row->name;
            EXPECT_EQ(none.box(kResultsBox), "kept") << row->name;
        }
        PlethodonRun l(row->groupings, true);
        l.set_box(kResultsBox, Value("kept"));
        for (const char* perms : {"", "ten", "0", "-3", "12.5"}) {
            l.set_box(kPermBox, Value(perms));
            EXPECT_EQ(l.run(row->name), Outcome::Refused) << row->name << ", " << perms;
            EXPECT_THAT(l.last_message(), HasSubstr("number of permutations must be a whole number of at least 1")) << row->name;
        }
        EXPECT_EQ(l.box(kResultsBox), "kept") << row->name;
    }
}

// The table names every statistic each analysis's permutation loops record,
// loop by loop, and names no loop the analysis does not run; an analysis
// reports exactly when its row says it does.
TEST(ActionTable, StatisticNamesMatchTheLoopsEachAnalysisRuns) {
    for (const ActionRow* row : analysis_rows()) {
        if (on_a_tree(row)) continue;
        PlethodonRun l(row->groupings, true);
        LoopNotes notes;
        l.shell.options().recorder = &notes;
        const Outcome o = l.run(row->name);
        ASSERT_EQ(o, row->writes_report ? Outcome::Reported : Outcome::Done) << row->name << ": " << l.last_message();
        std::set<std::pair<int, int>> named;
        for (std::size_t loop = 0; loop < row->statistics.size(); ++loop)
            for (std::size_t s = 0; s < row->statistics[loop].size(); ++s)
                named.insert({static_cast<int>(loop), static_cast<int>(s)});
        EXPECT_EQ(notes.seen, named) << row->name;
    }
}

// A seeded run of every analysis reports the same on one thread and on two:
// the workers' shares of the permutations never change what is counted.
// The workers start at once, as they do when a loop outlasts its start on
// the action's own thread.
TEST(ActionTable, EverySeededAnalysisReportsTheSameOnOneAndTwoThreads) {
    for (const ActionRow* row : analysis_rows()) {
        if (!row->permutes || !row->writes_report || on_a_tree(row)) continue;
        PlethodonRun l(row->groupings, true);
        l.set_box(kPermBox, Value("120"));
        l.shell.options().alone_first = std::chrono::microseconds{0};
        std::vector<std::string> reports;
        for (int threads : {1, 2}) {
            l.shell.options().threads = threads;
            ASSERT_EQ(l.run(row->name), Outcome::Reported) << row->name << ": " << l.last_message();
            reports.push_back(report_of(l));
        }
        EXPECT_EQ(reports[0], reports[1]) << row->name;
    }
}

// Every specimen made the first one's shape, scaled and moved by its own
// amounts (the trailing size scaled with it): as loaded, no two alike.
static void give_every_specimen_one_shape(Matrix& lm) {
    const Eigen::RowVectorXd first = lm.row(0);
    for (Eigen::Index i = 0; i < lm.rows(); ++i)
        lm.row(i) = (1 + 0.1 * static_cast<double>(i)) * first.array() + static_cast<double>(i);
    lm.col(lm.cols() - 1) = first(lm.cols() - 1) * (1 + 0.1 * Eigen::ArrayXd::LinSpaced(lm.rows(), 0, lm.rows() - 1));
}

// Specimens that all have one shape leave nothing to measure: every analysis
// that runs on the plethodon (plane) or brains (space) data refuses them
// once they all have the first specimen's shape, saying so, with no report;
// object symmetry (the brains' hemispheres paired) too.
TEST(ActionTable, EveryAnalysisRefusesSpecimensOfOneShape) {
    TempDir dir;
    std::string pairs, hemispheres;
    for (int l = 1; l <= 12; ++l) pairs += std::to_string(l) + " " + std::to_string(l + 12) + "\n";
    for (int l = 0; l < 24; ++l) hemispheres += l < 12 ? "1 " : "2 ";
    const std::string pairs_file = dir.write("pairs.txt", pairs), partition = dir.write("brains.partition.txt", hemispheres);
    // The data of each dimension, as the loads leave them, with the files the analyses of parts read.
    const auto prepare = [&](int dimensions, bool object, PlethodonRun& l, int groupings) {
        if (dimensions == 3) {
            Loaded brains({.landmarks = "brains.lm.txt",
                           .groups = groupings == 1 ? "brains.sex.groups.txt" : "brains.groups.txt",
                           .covariate = "brains.cov.txt",
                           .perms = "20",
                           .dimensions = 3});
            l.shell.workspace() = brains.shell.workspace();
            l.shell.given_options()["partition"] = partition;
            l.shell.given_options()["block2"] = data_file("brains.cov.txt");
        }
        if (object) l.shell.given_options()["land-pairs"] = pairs_file;
    };
    int refused = 0;
    for (const int dimensions : {2, 3})
        for (const ActionRow* row : analysis_rows())
            for (const bool object : {false, true}) {
                if (object && (dimensions == 2 || std::string(row->name) != "RunSymmetry")) continue;
                PlethodonRun l(row->groupings, true);
                prepare(dimensions, object, l, row->groupings);
                const Outcome varied = l.run(row->name);
                if (varied != Outcome::Reported && varied != Outcome::Done) continue;  // not for these data
                give_every_specimen_one_shape(l.shell.workspace().landmarks);
                l.set_box(kResultsBox, Value("kept"));
                const std::string what =
                    std::string(row->name) + (object ? " (object)" : "") + " in " + std::to_string(dimensions) + "-D";
                EXPECT_EQ(l.run(row->name), Outcome::Refused) << what;
                EXPECT_THAT(l.last_message(), HasSubstr("specimens have the same shape")) << what;
                EXPECT_EQ(l.box(kResultsBox), "kept") << what;
                ++refused;
            }
    const auto rows = analysis_rows();
    const auto on_trees = std::count_if(rows.begin(), rows.end(), on_a_tree);
    EXPECT_GE(refused,
              2 * static_cast<int>(rows.size() - static_cast<std::size_t>(on_trees)));  // every analysis runs in space too
}

// The README's table of analyses is the user's first list of what the
// program can do: every analysis of the table appears in it by name and batch
// alias, and it names no action the program does not have.
TEST(ActionTable, ReadmeListsEveryAnalysisByNameAndAlias) {
    std::ifstream in(std::string(QUILLAN_SOURCE_DIR) + "/README.md");
    ASSERT_TRUE(in) << "README.md not found";
    std::vector<std::string> rows;  // the lines of the table of analyses
    for (std::string line; std::getline(in, line);)
        if (line.rfind("| Run", 0) == 0 || line.rfind("| TestCovariate", 0) == 0 || line.rfind("| GoMan", 0) == 0)
            rows.push_back(line);
    ASSERT_FALSE(rows.empty()) << "README.md has no table of analyses";
    const auto listed = [&rows](const std::string& text) {
        for (const auto& r : rows)
            if (r.find(text) != std::string::npos) return true;
        return false;
    };
    for (const ActionRow* row : analysis_rows()) {
        EXPECT_TRUE(listed(row->name)) << row->name << " is missing from the README's table of analyses";
        EXPECT_TRUE(listed(std::string("`") + row->alias + "`")) << row->alias << " is missing from the README's table";
    }
    // Every action named at the start of a cell is one the table knows.
    for (const auto& r : rows) {
        const std::string first = r.substr(2, r.find_first_of(" ,(", 2) - 2);
        EXPECT_NE(find_action(first), nullptr) << "the README lists " << first << ", which is no action";
    }
}

// The dispatcher: exact names, the fall-through message, the boxes read
// afresh, and the named-operation table's argument-count errors.

TEST(Dispatch, NamesMatchOnlyExactlyAndAnythingElseFallsThrough) {
    Harness h;
    h.set_box(kResultsBox, Value("kept"));
    for (const std::string name : {"load", "", "Load ", "LOAD", "RunOneway", "Fell"}) {
        h.gui.clear_messages();
        EXPECT_EQ(h.run(name), Outcome::Unknown) << name;
        ASSERT_EQ(h.gui.messages().size(), 1u);
        EXPECT_EQ(h.gui.messages()[0].text, "Fell through case");
        EXPECT_EQ(h.gui.messages()[0].title, "");
        EXPECT_TRUE(h.gui.dialog_titles().empty());  // no dialog was opened
    }
    EXPECT_EQ(h.box(kResultsBox), "kept");
    // The 18 of the window's buttons, import and export, the linear model, the
    // seven shape analyses, measurement error, the trajectories, allometry,
    // the phylogenetic signal, the phylomorphospace, the rates of evolution,
    // integration and modularity on a tree, leaving flagged outliers out and
    // the load of a tree.
    EXPECT_EQ(action_names().size(), 40u);
    EXPECT_EQ(action_names().front(), "Load");
    EXPECT_EQ(action_names().back(), "Clear");
}

TEST(ActionEnvironment, ReadsTheBoxesAfreshAndAppliesTheGroupListRule) {
    Harness h;
    const ActionRow& row = *find_action("RunOneWay");
    h.set_box(kPermBox, Value("250"));
    EXPECT_EQ(h.shell.window_request(row).params.permutations.get(), 250u);
    h.set_box(kPermBox, Value("1000"));
    EXPECT_EQ(h.shell.window_request(row).params.permutations.get(), 1000u);
    h.gui.set(h.gui.findobj_tag(kCovBox).front(), "Value", Value(4.0));
    EXPECT_EQ(h.shell.window_request(row).params.covariate.get(), CovariateChoice::WithinG2);
    // A box the window lacks fails only where the analysis asks for its value.
    h.gui.destroy(h.gui.findobj_tag(kCovBox).front());
    const RunRequest lacking = h.shell.window_request(row);
    EXPECT_EQ(lacking.params.permutations.get(), 1000u);
    EXPECT_THROW(lacking.params.covariate.get(), QuillanError);

    WindowChannel channel(h.gui, h.console);
    ActionEnv env(h.shell.workspace(), lacking.params, h.console, lacking.run, channel);

    // With no group list (0 columns) a one-way design passes and a two-way one is refused.
    EXPECT_NO_THROW(env.require_one_way_list());
    try {
        env.require_two_way_list();
        FAIL();
    } catch (const Refused& r) {
        EXPECT_STREQ(
            r.what(),
            "Sorry Group list has only one column, you have requested a 2-Way Manova.  Please check the file and reload");
    }
    h.shell.workspace().groups = Matrix::Ones(4, 3);
    EXPECT_NO_THROW(env.require_two_way_list(kRegressionRefusal));
    EXPECT_THROW(env.require_one_way_list(), Refused);

    env.set_report("line 1\nline 2");
    EXPECT_TRUE(env.reported());
    EXPECT_EQ(string_lines(h.gui.get(h.gui.findobj_tag(kResultsBox).front(), "String")),
              (std::vector<std::string>{"line 1", "line 2"}));
}

TEST(OperationTable, RegistersInDeclaredOrderAndRejectsExtraArguments) {
    Harness h;
    OpTable table = build_op_table(h.shell);
    auto names = table.names();
    ASSERT_GE(names.size(), 3u);
    // Whatever has been built appears in the declared order.
    std::size_t last = 0;
    for (const auto& n : names) {
        std::size_t pos = 0;
        while (pos < declared_operations().size() && declared_operations()[pos].name != n) ++pos;
        ASSERT_LT(pos, declared_operations().size()) << n;
        EXPECT_GE(pos, last);
        last = pos;
    }
    EXPECT_EQ(error_of([&] {
                  table.call("quillan_action", {Value("Load"), Value("extra")}, 0);
              }),
              "Run-time Error: File: quillan_action Line: 1 Column: 1 The function \"quillan_action\" was called "
              "with more than the declared number of inputs (1).");
    EXPECT_EQ(error_of([&] { table.call("dload", {Value("x")}, 2); }),
              "Run-time Error: File: dload Line: 1 Column: 1 The function \"dload\" was called with more than "
              "the declared number of outputs (1).");
    EXPECT_TRUE(h.gui.messages().empty());  // nothing ran

    auto r = table.call("dload", {Value(data_file("plethodon.cov.txt"))}, 1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].matrix().rows(), 40);
}
