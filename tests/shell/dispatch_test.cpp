// The dispatcher: exact names, the fall-through message, the boxes read
// afresh, and the named-operation table's argument-count errors.
#include "byname/operations.hpp"
#include "support/fixtures.hpp"
#include "support/text.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace quillan;
using namespace quillan::test;

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
    // seven shape analyses and leaving flagged outliers out.
    EXPECT_EQ(action_names().size(), 31u);
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
